#include "app/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, Fallback fallback)
    : m_bus(bus), m_fallback(std::move(fallback))
{
}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected()) {
        refused(summary, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    // The service reads the body as simple markup: outside text goes in
    // with its markup characters escaped.
    call << QStringLiteral("Mailsieve") << m_shownId << DesktopEntry << summary << body.toHtmlEscaped() << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), DesktopEntry}} << TimeoutMs;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body] {
        const QDBusPendingReply<uint> reply = *watcher;
        watcher->deleteLater();
        if (reply.isError()) {
            refused(summary, body);
            return;
        }
        m_shownId = reply.value();
        emit answered(true);
    });
}

void DesktopNotifier::refused(const QString &summary, const QString &body)
{
    if (m_fallback)
        m_fallback(summary, body);
    emit answered(false);
}
