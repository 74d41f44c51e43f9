#pragma once
// Delay timers on a clock a test turns by hand: advance() makes time pass at
// once and fires every timer that falls due on the way, in order.

#include "app/delaytimer.h"

#include <algorithm>
#include <vector>

class HandTimers : public DelayTimers
{
public:
    using ms = std::chrono::milliseconds;

    ~HandTimers() override
    {
        for (Timer *timer : m_timers)
            timer->m_owner = nullptr;
    }

    std::unique_ptr<DelayTimer> make() override { return std::make_unique<Timer>(this); }

    ms now() const { return m_now; }
    // Timers running now.
    int activeCount() const
    {
        return static_cast<int>(
            std::count_if(m_timers.cbegin(), m_timers.cend(), [](const Timer *timer) { return timer->m_active; }));
    }
    // Time passes; a timer started by one that fires fires too when it falls
    // due within the same span.
    void advance(ms span)
    {
        const ms until = m_now + span;
        while (Timer *next = nextDue(until)) {
            m_now = next->m_due;
            next->m_active = false;
            if (next->onTimeout)
                next->onTimeout();
        }
        m_now = until;
    }

private:
    class Timer : public DelayTimer
    {
    public:
        explicit Timer(HandTimers *owner) : m_owner(owner) { owner->m_timers.push_back(this); }
        ~Timer() override
        {
            if (m_owner)
                std::erase(m_owner->m_timers, this);
        }
        void start(ms delay) override
        {
            m_due = m_owner->m_now + delay;
            m_active = true;
        }
        void stop() override { m_active = false; }
        bool isActive() const override { return m_active; }

        HandTimers *m_owner;
        ms m_due{0};
        bool m_active = false;
    };

    Timer *nextDue(ms until) const
    {
        Timer *next = nullptr;
        for (Timer *timer : m_timers) {
            if (timer->m_active && timer->m_due <= until && (!next || timer->m_due < next->m_due))
                next = timer;
        }
        return next;
    }

    std::vector<Timer *> m_timers;
    ms m_now{0};
};
