#include "app/clock.h"

MinuteClock::MinuteClock()
{
    m_timer.setInterval(intervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (onTick)
            onTick();
    });
}

void MinuteClock::setActive(bool active)
{
    if (active)
        m_timer.start();
    else
        m_timer.stop();
}
