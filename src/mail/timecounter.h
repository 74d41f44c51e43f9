#pragma once
// The one-second countdown behind every network wait: Start arms it with
// TimeOut seconds, each tick takes one off, and Expired stays set once the
// count reaches zero until Reset clears it.

#include <QObject>
#include <QTimer>

class TTimeCounter : public QObject
{
    Q_OBJECT
public:
    explicit TTimeCounter(QObject *parent = nullptr);

    int TimeOut() const { return m_timeOut; }
    void setTimeOut(int seconds) { m_timeOut = seconds; }
    int Remaining() const { return m_remaining; }
    bool Expired() const { return m_expired; }

    void Start();
    void Stop();
    void Reset();

private:
    void tick();

    QTimer m_ticker;
    int m_timeOut = 60;
    int m_remaining = 0;
    bool m_expired = false;
};
