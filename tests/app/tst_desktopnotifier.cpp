// Desktop notifications against a notification service of the tests' own
// on a private D-Bus daemon (support/notificationbus.h): what the service
// receives, one notice replacing the last, the fallback (the tray
// balloon) without a service or without a bus, and an automatic check of
// the assembled program announcing its mail there unless switched off.

#include "app/desktopnotifier.h"
#include "app/desktoprig.h"
#include "support/notificationbus.h"

#include <QSignalSpy>
#include <QTest>

using namespace appfixture;
using namespace desktoprig;

namespace {

struct Shown
{
    QString summary;
    QString body;
};

} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

    std::unique_ptr<NotificationBus> bus;

    // A notifier on the private bus whose fallback records into shown.
    std::unique_ptr<DesktopNotifier> notifierOnBus(QList<Shown> &shown)
    {
        return std::make_unique<DesktopNotifier>(bus->clientConnection(),
                                                 [&shown](const QString &summary, const QString &body) {
                                                     shown << Shown{summary, body};
                                                 });
    }

private slots:
    void initTestCase() { useUsEnglish(); }

    void init()
    {
        bus = std::make_unique<NotificationBus>();
        if (!bus->start())
            QSKIP("dbus-daemon is not available");
    }
    void cleanup() { bus.reset(); }

    void noticeReachesTheNotificationService()
    {
        QVERIFY(bus->offerService());
        QList<Shown> fallback;
        auto notifier = notifierOnBus(fallback);
        QSignalSpy answered(notifier.get(), &DesktopNotifier::answered);

        notifier->notify(QStringLiteral("Mailsieve"), QStringLiteral("3 messages waiting, <b>1</b> marked as spam"));
        QTRY_COMPARE(answered.count(), 1);
        QCOMPARE(answered.first().first().toBool(), true);
        QCOMPARE(bus->service.notices.size(), 1);
        const RecordedNotice &notice = bus->service.notices.first();
        QCOMPARE(notice.application, QStringLiteral("Mailsieve"));
        QCOMPARE(notice.replaces, 0u);
        QCOMPARE(notice.icon, QStringLiteral("io.github.mailsieve.Mailsieve"));
        QCOMPARE(notice.summary, QStringLiteral("Mailsieve"));
        // The body is markup to the service: outside text arrives escaped.
        QCOMPARE(notice.body, QStringLiteral("3 messages waiting, &lt;b&gt;1&lt;/b&gt; marked as spam"));
        QCOMPARE(notice.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("io.github.mailsieve.Mailsieve"));
        QCOMPARE(notice.timeout, DesktopNotifier::TimeoutMs);
        QVERIFY(fallback.isEmpty());
    }

    void laterNoticeReplacesTheEarlierOne()
    {
        QVERIFY(bus->offerService());
        QList<Shown> fallback;
        auto notifier = notifierOnBus(fallback);
        QSignalSpy answered(notifier.get(), &DesktopNotifier::answered);
        notifier->notify(QStringLiteral("Mailsieve"), QStringLiteral("1 message waiting"));
        QTRY_COMPARE(answered.count(), 1);
        notifier->notify(QStringLiteral("Mailsieve"), QStringLiteral("2 messages waiting"));
        QTRY_COMPARE(answered.count(), 2);
        QCOMPARE(bus->service.notices.size(), 2);
        QCOMPARE(bus->service.notices.at(1).replaces, 41u);
        QVERIFY(fallback.isEmpty());
    }

    void withoutTheServiceTheFallbackShowsIt()
    {
        QList<Shown> fallback;
        auto notifier = notifierOnBus(fallback);
        QSignalSpy answered(notifier.get(), &DesktopNotifier::answered);
        notifier->notify(QStringLiteral("Mailsieve"), QStringLiteral("2 spam messages deleted"));
        QTRY_COMPARE(answered.count(), 1);
        QCOMPARE(answered.first().first().toBool(), false);
        QCOMPARE(fallback.size(), 1);
        QCOMPARE(fallback.first().summary, QStringLiteral("Mailsieve"));
        // The balloon is plain text: nothing escaped there.
        QCOMPARE(fallback.first().body, QStringLiteral("2 spam messages deleted"));
        QVERIFY(bus->service.notices.isEmpty());
    }

    void withoutASessionBusTheFallbackShowsItAtOnce()
    {
        QList<Shown> fallback;
        DesktopNotifier notifier(QDBusConnection(QStringLiteral("never-connected")),
                                 [&fallback](const QString &summary, const QString &body) {
                                     fallback << Shown{summary, body};
                                 });
        notifier.notify(QStringLiteral("Mailsieve"), QStringLiteral("1 message waiting"));
        QCOMPARE(fallback.size(), 1);
        QCOMPARE(fallback.first().body, QStringLiteral("1 message waiting"));
        // No fallback at all is no failure either.
        DesktopNotifier silent(QDBusConnection(QStringLiteral("never-connected")));
        silent.notify(QStringLiteral("Mailsieve"), QStringLiteral("1 message waiting"));
    }

    void automaticCheckAnnouncesItsMail()
    {
        QVERIFY(bus->offerService());
        DesktopRig rig;
        rig.notificationBus = bus->clientConnection();
        rig.server.setMessages(mailbox(8)); // spam: 4, 6 and 8
        rig.start([](GeneralSettings &s) {
            s.automatic = true;
            s.minutes = 1;
            s.alarm = true;
        });
        QSignalSpy answered(&rig.desktop->notifier, &DesktopNotifier::answered);
        rig.clock->tick();
        QCOMPARE(rig.core->list.count(), 8);
        QTRY_COMPARE(answered.count(), 1);
        QCOMPARE(bus->service.notices.size(), 1);
        QCOMPARE(bus->service.notices.first().body,
                 QStringLiteral("8 messages waiting, %1 marked as spam").arg(rig.core->list.markedCount()));
        // The alarm rings as well.
        QVERIFY(rig.sounds.contains(QStringLiteral("play")));
    }

    void switchedOffNotificationsStayQuiet()
    {
        QVERIFY(bus->offerService());
        DesktopRig rig;
        rig.notificationBus = bus->clientConnection();
        rig.server.setMessages(mailbox(3));
        rig.start([](GeneralSettings &s) {
            s.automatic = true;
            s.minutes = 1;
        });
        rig.core->settings.notify = false;
        rig.clock->tick();
        QCOMPARE(rig.core->list.count(), 3);
        QTest::qWait(200);
        QVERIFY(bus->service.notices.isEmpty());
    }
};

QTEST_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
