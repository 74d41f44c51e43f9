// Automatic mode watching IMAP mailboxes with IDLE: which mailboxes get a
// session, new mail reported, the back-off of reconnects and the renewal of
// IDLE on hand-turned timers, the pass that new mail starts (or postpones
// while the timer is held), the desktop's wiring, and a real Dovecot.

#include "app/alarm.h"
#include "app/appfixture.h"
#include "app/automaticcheck.h"
#include "app/deletion.h"
#include "app/deletionlog.h"
#include "app/desktoprig.h"
#include "app/idlewatch.h"
#include "app/programcore.h"
#include "support/dovecotserver.h"
#include "support/handclock.h"
#include "support/handtimers.h"
#include "support/recordingcheckview.h"
#include "support/scriptedimapserver.h"
#include "support/scriptedprompts.h"

#include <QTest>

using namespace appfixture;
using namespace std::chrono_literals;

namespace {

QByteArray mail(int n)
{
    return "From: Jane Roe <jane@example.org>\r\nSubject: Message " + QByteArray::number(n) + "\r\n\r\nHello.\r\n";
}

MailboxLogin imapLogin(const QString &server, const QString &user, const QString &password)
{
    MailboxLogin login;
    login.number = 1;
    login.server = server;
    login.user = user;
    login.password = password;
    login.security = MailSecurity::None;
    login.protocol = MailProtocol::Imap;
    return login;
}

MailboxLogin imapLogin(const ScriptedImapServer &server)
{
    return imapLogin(server.address(), server.user(), server.password());
}

// An IdleWatch on hand timers over logins the test sets per mailbox.
struct WatchRig
{
    HandTimers timers;
    std::map<int, MailboxLogin> logins;
    IdleWatch watch{{[this](int n) { return logins.count(n) ? logins.at(n) : MailboxLogin{}; }, {}}, timers};
    QList<int> noticed;

    WatchRig()
    {
        watch.onNewMail = [this](int n) { noticed << n; };
    }
    // Mailbox 1 on server is watched, and its session has started.
    void watchOne(const ScriptedImapServer &server)
    {
        logins[1] = imapLogin(server);
        watch.watch({1});
        timers.advance(std::chrono::milliseconds(0));
    }
    IdleSession::State state(int n = 1) const
    {
        const IdleSession *session = watch.session(n);
        return session ? session->state() : IdleSession::State::Stopped;
    }
};

int countOf(const QStringList &commands, const QString &verb)
{
    int count = 0;
    for (const QString &command : commands)
        count += command.section(QLatin1Char(' '), 1, 1) == verb || command == verb;
    return count;
}

class RecordingAutomaticView : public RecordingCheckView, public AutomaticView
{
public:
    QStringList captions;
    RecordingAutomaticView() { visible = false; }
    void showCaption(const QString &text) override { captions << text; }
    void setAutomaticChecked(bool) override {}
    void setTrayAnimated(bool) override {}
    void showMainWindow() override {}
    void showError(const QString &text) override { RecordingCheckView::showError(text); }
};

class SilentPlayer : public AlarmPlayer
{
public:
    void play(const QString &, bool) override {}
    void stop() override {}
};

// Automatic mode every 3 minutes on IMAP mailbox 1 (and mailbox 3 when
// asked), with the hand clock, hand timers for the notice's retry, and the
// watched mailboxes recorded.
struct AutomaticRig
{
    QTemporaryDir home;
    ScriptedImapServer servers[2];
    std::unique_ptr<ProgramCore> core;
    RecordingAutomaticView view;
    ScriptedPrompts prompts;
    HandClock clock;
    HandTimers timers;
    SilentPlayer player;
    std::unique_ptr<Alarm> alarm;
    std::unique_ptr<DeletionLog> log;
    std::unique_ptr<CheckCycle> cycle;
    std::unique_ptr<DeletionPass> deletion;
    std::unique_ptr<AutomaticCheck> automatic;
    QList<QList<int>> watched;

    AutomaticRig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        for (ScriptedImapServer &server : servers)
            server.listen();
    }

    void start(const std::function<void(GeneralSettings &)> &edit = {})
    {
        storeSettings([&](GeneralSettings &s) {
            const int numbers[2] = {1, 3};
            for (int k = 0; k < 2; ++k) {
                storeMailbox(s, numbers[k], servers[k].address(), servers[k].user(), servers[k].password());
                s.mailboxes[numbers[k] - 1].protocol = MailProtocol::Imap;
            }
            s.automatic = true;
            s.minutes = 3;
            s.logFile = home.filePath(QStringLiteral("logfile.txt"));
            if (edit)
                edit(s);
        });
        core = std::make_unique<ProgramCore>(home.path());
        QCOMPARE(core->load(), QStringList());
        alarm = std::make_unique<Alarm>(player, core->settings, [] {});
        log = std::make_unique<DeletionLog>(core->settings);
        cycle = std::make_unique<CheckCycle>(core->clients, core->list, core->settings, view, core->checkHooks());
        cycle->currentMailbox = core->settings.defaultMailbox;
        DeletionHooks deletionHooks;
        deletionHooks.saveGeneralSettings = [this] { return core->settings.SaveSettings(core->store); };
        deletionHooks.updateAutomaticCaptions = [this] {
            automatic->UpdateAutomaticCaptions(core->settings.automatic, core->settings.minutes);
        };
        deletion = std::make_unique<DeletionPass>(*cycle, core->clients, core->list, core->settings, view, *log,
                                                  &prompts, deletionHooks);
        automatic = std::make_unique<AutomaticCheck>(*cycle, *deletion, core->list, core->settings, core->store, clock,
                                                     *alarm, *log, view, timers.make());
        automatic->watchMailboxes = [this](const QList<int> &mailboxes) { watched << mailboxes; };
        automatic->start(true, 3);
    }

    // Checks of mailbox 1: its folder opened.
    int passes() const { return countOf(servers[0].commands(), QStringLiteral("EXAMINE")); }
};

} // namespace

class TestIdleWatch : public QObject
{
    Q_OBJECT

private slots:
    void init() { useUsEnglish(); }

    // --- The sessions ----------------------------------------------------

    void watchesOnlyImapMailboxesThatCanSignIn()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        WatchRig rig;
        rig.logins[1] = imapLogin(server);
        rig.logins[2] = imapLogin(server);
        rig.logins[2].protocol = MailProtocol::Pop3;
        rig.logins[3] = imapLogin(server);
        rig.logins[3].user.clear();

        rig.watch.watch({1, 2, 3, 4});
        QCOMPARE(rig.watch.mailboxes(), QList<int>{1});
        QCOMPARE(rig.state(), IdleSession::State::Waiting);
        QCOMPARE(server.connectionCount(), 0); // not inside watch()

        rig.timers.advance(0ms);
        QCOMPARE(rig.state(), IdleSession::State::Idling);
        QCOMPARE(server.idlingSessions(), 1);
    }

    void deliveredMessageIsReportedForItsMailbox()
    {
        ScriptedImapServer server;
        server.setMessages({mail(1)});
        QVERIFY(server.listen());
        WatchRig rig;
        rig.logins[5] = imapLogin(server);
        rig.watch.watch({5});
        rig.timers.advance(0ms);

        server.addMessage(mail(2));
        QTRY_COMPARE_WITH_TIMEOUT(rig.noticed, QList<int>{5}, 5000);
    }

    void serverWithoutIdleIsNotWatched()
    {
        ScriptedImapServer server;
        server.setCapabilities({"IMAP4rev1", "AUTH=PLAIN", "UIDPLUS"});
        QVERIFY(server.listen());
        WatchRig rig;
        rig.watchOne(server);

        QCOMPARE(rig.state(), IdleSession::State::Unsupported);
        QCOMPARE(countOf(server.commands(), QStringLiteral("IDLE")), 0);
        QTRY_COMPARE(server.openSessions(), 0);
        rig.timers.advance(2h);
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(rig.timers.activeCount(), 0);
    }

    void failedConnectsBackOffDoublingToFiveMinutes()
    {
        ScriptedImapServer server;
        server.closeAt("CAPABILITY", ScriptedImapServer::Every);
        QVERIFY(server.listen());
        WatchRig rig;
        rig.watchOne(server);
        QCOMPARE(server.connectionCount(), 1);
        QVERIFY(!rig.watch.session(1)->lastProblem().isEmpty());

        int connections = 1;
        for (const auto wait : {5s, 10s, 20s, 40s, 80s, 160s, 300s, 300s}) {
            rig.timers.advance(wait - 1ms);
            QCOMPARE(server.connectionCount(), connections);
            rig.timers.advance(1ms);
            QCOMPARE(server.connectionCount(), ++connections);
        }

        // Once a session lasted, the back-off starts over.
        server.clearScript();
        rig.timers.advance(300s);
        QCOMPARE(rig.state(), IdleSession::State::Idling);
        QVERIFY(rig.watch.session(1)->lastProblem().isEmpty());
        rig.timers.advance(IdleSession::StableAfter);
        QCOMPARE(rig.watch.session(1)->backOff(), IdleSession::FirstBackOff);
    }

    void droppedSessionReconnectsAfterTheBackOff()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        WatchRig rig;
        rig.watchOne(server);
        QCOMPARE(rig.state(), IdleSession::State::Idling);

        const quint16 port = server.port();
        server.stopListening();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state(), IdleSession::State::Waiting, 5000);
        QVERIFY(server.listen(port));
        rig.timers.advance(IdleSession::FirstBackOff - 1ms);
        QCOMPARE(server.connectionCount(), 1);
        rig.timers.advance(1ms);
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(rig.state(), IdleSession::State::Idling);

        server.addMessage(mail(1));
        QTRY_COMPARE_WITH_TIMEOUT(rig.noticed.size(), 1, 5000);
    }

    void refusedSignInWaitsTheLongestBackOff()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        WatchRig rig;
        rig.logins[1] = imapLogin(server.address(), server.user(), QStringLiteral("wrong"));
        rig.watch.watch({1});
        rig.timers.advance(0ms);
        QCOMPARE(rig.state(), IdleSession::State::Waiting);

        rig.timers.advance(IdleSession::LastBackOff - 1ms);
        QCOMPARE(server.connectionCount(), 1);
        rig.timers.advance(1ms);
        QCOMPARE(server.connectionCount(), 2);
    }

    void idleIsRenewedEveryTwentyFiveMinutes()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        WatchRig rig;
        rig.watchOne(server);

        rig.timers.advance(25min - 1s);
        QCOMPARE(countOf(server.commands(), QStringLiteral("DONE")), 0);
        rig.timers.advance(1s);
        QCOMPARE(server.commands().mid(server.commands().indexOf("DONE")).size(), 2); // DONE, IDLE
        QCOMPARE(countOf(server.commands(), QStringLiteral("IDLE")), 2);
        rig.timers.advance(25min);
        QCOMPARE(countOf(server.commands(), QStringLiteral("IDLE")), 3);
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(server.idlingSessions(), 1);
    }

    void sessionsFollowTheMailboxesAndTheirLogins()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        WatchRig rig;
        rig.watchOne(server);

        rig.watch.watch({1}); // unchanged: the session stays
        rig.timers.advance(0ms);
        QCOMPARE(server.connectionCount(), 1);

        rig.logins[1].folder = QStringLiteral("Junk");
        rig.watch.watch({1}); // another folder: a new session
        rig.timers.advance(0ms);
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(countOf(server.commands(), QStringLiteral("LOGOUT")), 1);
        QTRY_COMPARE(server.openSessions(), 1);

        rig.watch.watch({});
        QVERIFY(rig.watch.mailboxes().isEmpty());
        QCOMPARE(server.commands().mid(server.commands().size() - 2).first(), QStringLiteral("DONE"));
        QCOMPARE(countOf(server.commands(), QStringLiteral("LOGOUT")), 2);
        QTRY_COMPARE(server.openSessions(), 0);
    }

    void aSessionWaitsItsTurnWhileOtherWorkHoldsTheServer()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        // Declared before the rig: its watch asks for the hold as it stops.
        bool otherWork = true;
        WatchRig rig;
        rig.logins[1] = imapLogin(server);
        rig.watch.holdServer = [&otherWork]() -> std::shared_ptr<void> {
            return otherWork ? nullptr : std::make_shared<int>(0);
        };
        rig.watch.watch({1});
        rig.timers.advance(0ms);
        QCOMPARE(server.connectionCount(), 0);
        QCOMPARE(rig.state(), IdleSession::State::Waiting);

        otherWork = false;
        rig.timers.advance(IdleSession::BusyRetry);
        QCOMPARE(rig.state(), IdleSession::State::Idling);
        QCOMPARE(rig.watch.session(1)->backOff(), IdleSession::FirstBackOff); // no failure
    }

    void aLineLongerThanAnyReplyReconnectsAfterTheBackOff()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        WatchRig rig;
        rig.watchOne(server);

        server.sendLongLineToIdlers(10 * 1024 * 1024);
        QTRY_COMPARE_WITH_TIMEOUT(rig.state(), IdleSession::State::Waiting, 5000);
        QVERIFY(rig.watch.session(1)->lastProblem().startsWith("Reply line too long"));
        rig.timers.advance(IdleSession::FirstBackOff);
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(rig.state(), IdleSession::State::Idling);
    }

    void stopWhileSigningInCancelsIt()
    {
        ScriptedImapServer server;
        server.stallAt("LOGIN");
        QVERIFY(server.listen());
        WatchRig rig;
        rig.logins[1] = imapLogin(server);
        rig.watch.watch({1});
        QTimer::singleShot(100, [&rig] { rig.watch.stop(); });
        QElapsedTimer elapsed;
        elapsed.start();
        rig.timers.advance(0ms); // returns once the stop cancelled the sign-in
        QVERIFY(elapsed.elapsed() < 5000);
        QVERIFY(rig.watch.mailboxes().isEmpty());
        QTRY_COMPARE(server.openSessions(), 0);
        rig.timers.advance(1h);
        QCOMPARE(server.connectionCount(), 1);
    }

    // --- Automatic mode ----------------------------------------------------

    void newMailStartsThePassAndRestartsTheCount()
    {
        AutomaticRig rig;
        rig.start();
        rig.clock.tick();
        QCOMPARE(rig.automatic->minutesLeft, 2);

        rig.automatic->newMailNoticed();
        QCOMPARE(rig.passes(), 1);
        QVERIFY(rig.view.captions.contains(AutomaticCheck::CheckingCaption));
        QCOMPARE(rig.automatic->minutesLeft, 3);
        QCOMPARE(rig.view.captions.last(), AutomaticCheck::countdownCaption(3));
        QVERIFY(rig.clock.isActive());
    }

    void noticeWhileTheTimerIsHeldWaitsAndRetries()
    {
        AutomaticRig rig;
        rig.start();
        rig.automatic->btSpamSetupClick([&rig] { rig.automatic->newMailNoticed(); });
        QCOMPARE(rig.passes(), 0);

        rig.timers.advance(AutomaticCheck::NoticeRetry - 1ms);
        QCOMPARE(rig.passes(), 0);
        rig.timers.advance(1ms);
        QCOMPARE(rig.passes(), 1);
        rig.timers.advance(1h);
        QCOMPARE(rig.passes(), 1);
    }

    void aWatchDoesNotTalkInsideAPass()
    {
        AutomaticRig rig;
        rig.servers[0].delayAt("LOGIN", 300);
        rig.start();
        std::optional<bool> heldDuringPass;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!heldDuringPass && countOf(rig.servers[0].commands(), QStringLiteral("LOGIN")) == 1)
                heldDuringPass = !rig.automatic->holdServerForWatch();
        });
        probe.start(5);
        rig.automatic->newMailNoticed();
        QCOMPARE(rig.passes(), 1);
        QCOMPARE(heldDuringPass, std::optional<bool>(true));
        QVERIFY(rig.automatic->holdServerForWatch());
    }

    void noticeInManualModeDoesNothing()
    {
        AutomaticRig rig;
        rig.start();
        rig.automatic->EnableAutomatic1Click(false);
        rig.automatic->newMailNoticed();
        rig.timers.advance(1h);
        QCOMPARE(rig.passes(), 0);
    }

    void watchedMailboxesFollowTheModeAndAutomaticDeletion()
    {
        AutomaticRig rig;
        rig.start();
        QCOMPARE(rig.watched.last(), QList<int>{1});
        rig.automatic->EnableAutomatic1Click(false);
        QCOMPARE(rig.watched.last(), QList<int>());
        rig.automatic->EnableAutomatic1Click(true);
        QCOMPARE(rig.watched.last(), QList<int>{1});

        rig.automatic->btGeneralClick([&rig] {
            rig.core->settings.deleteWithoutConfirmation = true;
            rig.core->settings.killAll = true;
        });
        QCOMPARE(rig.watched.last(), (QList<int>{1, 3}));
        QCOMPARE(rig.automatic->passMailboxes(), (QList<int>{1, 3}));
    }

    // --- The desktop -------------------------------------------------------

    void desktopWatchStartsAPassAndLeavesWhenSwitchedOff()
    {
        ScriptedImapServer imap;
        imap.setMessages({messageText(1)});
        QVERIFY(imap.listen());
        desktoprig::DesktopRig rig;
        rig.start([&imap](GeneralSettings &s) {
            storeMailbox(s, 1, imap.address(), imap.user(), imap.password());
            s.mailboxes[0].protocol = MailProtocol::Imap;
            s.automatic = true;
        });
        QTRY_COMPARE_WITH_TIMEOUT(imap.idlingSessions(), 1, 5000);
        QCOMPARE(rig.core->list.count(), 0);

        imap.addMessage(messageText(2));
        QTRY_COMPARE_WITH_TIMEOUT(rig.core->list.count(), 2, 5000);
        QCOMPARE(rig.desktop->automatic.minutesLeft, rig.core->settings.minutes);

        rig.desktop->tray.DisableAutomatic1->trigger();
        QCOMPARE(rig.desktop->idleWatch.mailboxes(), QList<int>());
        const QStringList commands = imap.commands();
        QCOMPARE(commands.mid(commands.size() - 2).first(), QStringLiteral("DONE"));
        QCOMPARE(commands.last().section(QLatin1Char(' '), 1, 1), QStringLiteral("LOGOUT"));
        QTRY_COMPARE(imap.openSessions(), 0);
    }

    void aPassDueWhileTheWatchSignsInWaitsForIt()
    {
        // The minute runs out while the watch waits for a slow LOGIN: the
        // pass must not run inside that wait, but right after it.
        ScriptedImapServer imap;
        imap.setMessages({messageText(1)});
        imap.delayAt("LOGIN", 1000);
        QVERIFY(imap.listen());
        desktoprig::DesktopRig rig;
        rig.start([&imap](GeneralSettings &s) {
            storeMailbox(s, 1, imap.address(), imap.user(), imap.password());
            s.mailboxes[0].protocol = MailProtocol::Imap;
            s.automatic = true;
            s.minutes = 1;
        });
        std::optional<int> examinedAtTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (examinedAtTick || countOf(imap.commands(), QStringLiteral("LOGIN")) != 1)
                return;
            rig.clock->tick();
            examinedAtTick = countOf(imap.commands(), QStringLiteral("EXAMINE"));
        });
        ticker.start(5);
        QTRY_COMPARE_WITH_TIMEOUT(rig.core->list.count(), 1, 10000);
        QCOMPARE(examinedAtTick, std::optional<int>(0));
        const IdleSession *watch = rig.desktop->idleWatch.session(1);
        QCOMPARE(watch->state(), IdleSession::State::Idling);
        QVERIFY(watch->lastProblem().isEmpty());
        QCOMPARE(rig.desktop->automatic.minutesLeft, 1);
    }

    // --- A real server -----------------------------------------------------

    void dovecotDeliveryIsNoticedWithinSeconds()
    {
        if (!DovecotServer::imapAvailable()) {
            if (DovecotServer::required())
                QFAIL("Dovecot's IMAP server is not installed (Debian package dovecot-imapd)");
            QSKIP("Dovecot's IMAP server is not installed (Debian package dovecot-imapd)");
        }
        DovecotServer server;
        server.addMessage(mail(1));
        MS_START_DOVECOT(server);
        SystemDelayTimers timers;
        const MailboxLogin login = imapLogin(server.imapServer(), server.userName(), server.password());
        IdleWatch watch({[&login](int) { return login; }, {}}, timers);
        QList<int> noticed;
        watch.onNewMail = [&noticed](int n) { noticed << n; };
        watch.watch({1});
        QTRY_VERIFY_WITH_TIMEOUT(watch.session(1)->state() == IdleSession::State::Idling, 10000);

        server.addMessage(mail(2));
        QTRY_COMPARE_WITH_TIMEOUT(noticed, QList<int>{1}, 5000);
        watch.stop();
    }
};

QTEST_MAIN(TestIdleWatch)
#include "tst_idlewatch.moc"
