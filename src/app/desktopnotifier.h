#pragma once
// Desktop notifications: a short notice that stays visible while the main
// window is hidden in the tray or behind other windows. It goes to the
// session's notification service (org.freedesktop.Notifications over
// D-Bus); when no service takes it - no session bus, no notification
// daemon, an error reply - the fallback shows it instead (the tray icon's
// balloon). The call never waits: the desktop's answer arrives later.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString DesktopEntry = QStringLiteral("io.github.mailsieve.Mailsieve");
    // How long a notice stays up.
    static constexpr int TimeoutMs = 10000;

    using Fallback = std::function<void(const QString &summary, const QString &body)>;

    explicit DesktopNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(), Fallback fallback = {});

    // Shows the notice; a later notice replaces the earlier one on the
    // desktop rather than piling up beside it.
    void notify(const QString &summary, const QString &body);

signals:
    // The desktop's answer to one notice: whether its service showed it.
    void answered(bool shown);

private:
    // No service took the notice: the fallback shows it.
    void refused(const QString &summary, const QString &body);

    QDBusConnection m_bus;
    Fallback m_fallback;
    uint m_shownId = 0;
};
