#include "mail/timecounter.h"

#include <chrono>

TTimeCounter::TTimeCounter(QObject *parent) : QObject(parent)
{
    m_ticker.setInterval(1000);
    connect(&m_ticker, &QTimer::timeout, this, &TTimeCounter::tick);
}

void TTimeCounter::Start()
{
    m_remaining = m_timeOut;
    m_ticker.start();
}

void TTimeCounter::Stop()
{
    m_ticker.stop();
}

void TTimeCounter::Reset()
{
    m_expired = false;
}

void TTimeCounter::tick()
{
    --m_remaining;
    if (m_remaining <= 0)
        m_expired = true;
}

TReplyTimer::TReplyTimer()
    : m_clock([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      })
{
}

void TReplyTimer::start()
{
    m_start = m_clock();
    m_pausedAt = m_start;
}

qint64 TReplyTimer::elapsed() const
{
    return (m_pauses > 0 ? m_pausedAt : m_clock()) - m_start;
}

void TReplyTimer::pause()
{
    if (m_pauses++ == 0)
        m_pausedAt = m_clock();
}

void TReplyTimer::resume()
{
    if (--m_pauses == 0 && isValid())
        m_start += m_clock() - m_pausedAt;
}
