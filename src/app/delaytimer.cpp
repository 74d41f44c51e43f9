#include "app/delaytimer.h"

#include <QTimer>

namespace {

class SystemDelayTimer : public DelayTimer
{
public:
    SystemDelayTimer()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (onTimeout)
                onTimeout();
        });
    }
    void start(std::chrono::milliseconds delay) override { m_timer.start(delay); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

std::unique_ptr<DelayTimer> SystemDelayTimers::make()
{
    return std::make_unique<SystemDelayTimer>();
}
