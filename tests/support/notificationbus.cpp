#include "support/notificationbus.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

uint FakeNotifications::Notify(const QString &application, uint replaces, const QString &icon, const QString &summary,
                               const QString &body, const QStringList &, const QVariantMap &hints, int timeout)
{
    notices << RecordedNotice{application, replaces, icon, summary, body, hints, timeout};
    return nextId++;
}

NotificationBus::~NotificationBus()
{
    for (const QString &name : {m_client, m_server}) {
        if (!name.isEmpty())
            QDBusConnection::disconnectFromBus(name);
    }
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

bool NotificationBus::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty() || !m_folder.isValid())
        return false;
    QFile config(m_folder.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                "<auth>EXTERNAL</auth><policy context=\"default\">"
                                "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                "<allow own=\"*\"/></policy></busconfig>\n")
                     .arg(m_folder.path())
                     .toUtf8());
    config.close();
    m_daemon.start(program, {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                             QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(10000))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (!m_daemon.canReadLine() && waited.elapsed() < 10000)
        m_daemon.waitForReadyRead(500);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (m_address.isEmpty())
        return false;
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_client = QStringLiteral("notification-client-") + id;
    m_server = QStringLiteral("notification-service-") + id;
    return QDBusConnection::connectToBus(m_address, m_client).isConnected();
}

bool NotificationBus::offerService()
{
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_server);
    return bus.isConnected()
           && bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                 QDBusConnection::ExportAllSlots)
           && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

QDBusConnection NotificationBus::clientConnection() const
{
    return QDBusConnection(m_client);
}
