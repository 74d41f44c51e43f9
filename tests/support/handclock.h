#pragma once
// Timer1's tick source turned by hand: a test makes a minute pass at once.

#include "app/clock.h"

class HandClock : public TickSource
{
public:
    void setActive(bool active) override { m_active = active; }
    bool isActive() const override { return m_active; }
    // One minute passes; a stopped timer does not tick.
    void tick()
    {
        if (m_active && onTick)
            onTick();
    }

private:
    bool m_active = false;
};
