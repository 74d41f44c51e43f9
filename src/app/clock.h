#pragma once
// The tick source behind Timer1 of automatic mode: one tick a minute while
// active. Tests put a hand-driven source in its place, so automatic mode
// runs without waiting minutes.

#include <QTimer>

#include <functional>

class TickSource
{
public:
    virtual ~TickSource() = default;
    // Enabling restarts the interval, as a timer does.
    virtual void setActive(bool active) = 0;
    virtual bool isActive() const = 0;

    // Called on each tick while active.
    std::function<void()> onTick;
};

// A QTimer with a one-minute interval.
class MinuteClock : public TickSource
{
public:
    static constexpr int intervalMs = 60000;

    MinuteClock();
    void setActive(bool active) override;
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};
