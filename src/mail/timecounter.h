#pragma once
// The clocks behind the network waits. TTimeCounter is the one-second
// countdown of every wait: Start arms it with TimeOut seconds, each tick
// takes one off, and Expired stays set once the count reaches zero until
// Reset clears it. TReplyTimer measures how long the current reply has
// taken in all.

#include <QObject>
#include <QTimer>
#include <QtGlobal>
#include <functional>

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

// The time one reply has taken since it was first waited for, leaving out
// the spans between pause and resume. The clock is a steady one; tests put
// one they turn by hand in its place.
class TReplyTimer
{
public:
    // Milliseconds since some fixed point, never going back.
    using Clock = std::function<qint64()>;

    TReplyTimer();
    void setClock(Clock clock) { m_clock = std::move(clock); }

    void start();
    void invalidate() { m_start = -1; }
    bool isValid() const { return m_start >= 0; }
    qint64 elapsed() const;
    // Pauses nest; the time runs again when the outermost one resumes.
    void pause();
    void resume();

private:
    Clock m_clock;
    qint64 m_start = -1;
    qint64 m_pausedAt = 0;
    int m_pauses = 0;
};
