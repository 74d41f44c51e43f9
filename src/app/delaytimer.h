#pragma once
// One-shot timers that a test runs by hand instead of waiting: the IDLE
// watch's reconnect back-off and renewal, and automatic mode's retry of a
// pass that new mail asked for while the server was busy.

#include <chrono>
#include <functional>
#include <memory>

class DelayTimer
{
public:
    virtual ~DelayTimer() = default;
    // onTimeout runs once, delay from now; a running timer starts over.
    virtual void start(std::chrono::milliseconds delay) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    std::function<void()> onTimeout;
};

class DelayTimers
{
public:
    virtual ~DelayTimers() = default;
    virtual std::unique_ptr<DelayTimer> make() = 0;
};

// Timers of the event loop (QTimer).
class SystemDelayTimers : public DelayTimers
{
public:
    std::unique_ptr<DelayTimer> make() override;
};
