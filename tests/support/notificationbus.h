#pragma once
// A desktop notification service of the tests' own: a private D-Bus daemon
// listening in a temporary folder (a session-type bus that starts no
// services), on which FakeNotifications answers as
// org.freedesktop.Notifications and records every notice.
//
//   NotificationBus bus;
//   if (!bus.start()) QSKIP("dbus-daemon is not available");
//   QVERIFY(bus.offerService());
//   DesktopNotifier notifier(bus.clientConnection());

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>

struct RecordedNotice
{
    QString application;
    uint replaces = 0;
    QString icon;
    QString summary;
    QString body;
    QVariantMap hints;
    int timeout = 0;
};

class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<RecordedNotice> notices;
    // The id the next notice gets.
    uint nextId = 41;

public slots:
    uint Notify(const QString &application, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout);
};

class NotificationBus
{
public:
    NotificationBus() = default;
    ~NotificationBus();
    NotificationBus(const NotificationBus &) = delete;
    NotificationBus &operator=(const NotificationBus &) = delete;

    // Starts the daemon; false when dbus-daemon is missing or does not come up.
    bool start();
    // Registers service on the bus under the notification service's name.
    bool offerService();
    // A connection of the program's side.
    QDBusConnection clientConnection() const;

    FakeNotifications service;

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    // Connection names are per process; each bus gets its own.
    QString m_client;
    QString m_server;
};
