#include "mail/timecounter.h"

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
