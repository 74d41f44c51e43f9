// Automatic mode driven by a hand-turned clock: the countdown in the
// captions, the check on the last tick with the alarm, the cleaning of
// every configured mailbox, failures inside a tick, the mode switch and the
// settings commands that hold the timer.

#include "app/alarm.h"
#include "app/appfixture.h"
#include "app/automaticcheck.h"
#include "app/clock.h"
#include "app/deletion.h"
#include "app/deletionlog.h"
#include "app/programcore.h"
#include "support/handclock.h"
#include "support/recordingcheckview.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace appfixture;

namespace {

class FakePlayer : public AlarmPlayer
{
public:
    QStringList events;
    void play(const QString &file, bool loop) override
    {
        events << QStringLiteral("play %1%2")
                      .arg(QFileInfo(file).fileName(), loop ? QStringLiteral(" looping") : QString());
    }
    void stop() override { events << QStringLiteral("stop"); }
};

class View : public RecordingCheckView, public AutomaticView
{
public:
    QStringList captions;
    bool automaticChecked = false;
    bool animated = false;
    int mainWindowShown = 0;

    View() { visible = false; }

    void showCaption(const QString &text) override { captions << text; }
    void setAutomaticChecked(bool automatic) override { automaticChecked = automatic; }
    void setTrayAnimated(bool on) override { animated = on; }
    void showMainWindow() override { ++mainWindowShown; }
    // Both views' errors land in one list.
    void showError(const QString &text) override { RecordingCheckView::showError(text); }

    QString caption() const { return captions.isEmpty() ? QString() : captions.last(); }
};

struct Rig
{
    QTemporaryDir home;
    ScriptedPop3Server servers[3]; // mailboxes 1, 3 and 7
    std::unique_ptr<ProgramCore> core;
    View view;
    ScriptedPrompts prompts;
    HandClock clock;
    FakePlayer player;
    int beeps = 0;
    std::unique_ptr<Alarm> alarm;
    std::unique_ptr<DeletionLog> log;
    std::unique_ptr<CheckCycle> cycle;
    std::unique_ptr<DeletionPass> deletion;
    std::unique_ptr<AutomaticCheck> automatic;

    Rig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        for (ScriptedPop3Server &server : servers)
            server.listen();
        QFile sound(home.filePath(QStringLiteral("chime.wav")));
        sound.open(QIODevice::WriteOnly);
        sound.write("RIFF");
    }

    QString logPath() const { return home.filePath(QStringLiteral("logfile.txt")); }

    // Automatic mode every 3 minutes on mailbox 1, the alarm on.
    void start(const std::function<void(GeneralSettings &)> &edit = {}, bool startInTray = false)
    {
        storeSettings([&](GeneralSettings &s) {
            const int numbers[3] = {1, 3, 7};
            for (int k = 0; k < 3; ++k)
                storeMailbox(s, numbers[k], servers[k].address(), servers[k].user(), servers[k].password());
            s.automatic = true;
            s.minutes = 3;
            s.alarm = true;
            s.repeatAlarm = true;
            s.alarmFile = home.filePath(QStringLiteral("chime.wav"));
            s.logFile = logPath();
            if (edit)
                edit(s);
        });
        storeRules(home.path());
        core = std::make_unique<ProgramCore>(home.path());
        QCOMPARE(core->load(), QStringList());
        alarm = std::make_unique<Alarm>(player, core->settings, [this] { ++beeps; });
        log = std::make_unique<DeletionLog>(core->settings);
        CheckHooks hooks = core->checkHooks();
        hooks.journal = log.get();
        cycle = std::make_unique<CheckCycle>(core->clients, core->list, core->settings, view, hooks);
        cycle->startInTray = startInTray;
        cycle->currentMailbox = core->settings.defaultMailbox;
        DeletionHooks deletionHooks;
        deletionHooks.saveGeneralSettings = [this] { return core->settings.SaveSettings(core->store); };
        deletionHooks.updateAutomaticCaptions = [this] {
            automatic->UpdateAutomaticCaptions(core->settings.automatic, core->settings.minutes);
        };
        deletion = std::make_unique<DeletionPass>(*cycle, core->clients, core->list, core->settings, view, *log,
                                                  &prompts, deletionHooks);
        automatic = std::make_unique<AutomaticCheck>(*cycle, *deletion, core->list, core->settings, core->store, clock,
                                                     *alarm, *log, view);
        const StartupSettings startup = readStartupSettings(core->store);
        automatic->start(startup.automatic, startup.minutes);
    }

    QStringList logLines(const QString &start) const
    {
        QFile file(logPath());
        QStringList lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QStringLiteral("\r\n")))
                if (line.startsWith(start))
                    lines << line;
        }
        return lines;
    }
    int connections() const
    {
        return servers[0].connectionCount() + servers[1].connectionCount() + servers[2].connectionCount();
    }
};

QString countdown(int minutes)
{
    return AutomaticCheck::countdownCaption(minutes);
}

} // namespace

class TestAutomaticCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void captionSaysMinuteForOneOnly();
    void countsDownAndChecksOnTheLastTick();
    void emptyMailboxRaisesNoAlarm();
    void missingAlarmFileBeeps();
    void alarmLoopsOnlyWithRepeat();
    void killCleansEveryConfiguredMailboxInOrder();
    void killWithoutAllCleansTheDefaultMailboxOnly();
    void failingCheckInTheTrayIsSwallowed();
    void failingCheckOutsideTheTrayStopsTheTimer();
    void failingDeletePassStopsTheRound();
    void switchingOffAndOnRestartsTheCountdown();
    void settingsCommandsHoldTheTimer();
    void manualModeHasNoTimer();

    // The desktop notice beside the alarm.
    void findingsText_data();
    void findingsText();
    void mailFoundIsAnnounced();
    void emptyMailboxIsNotAnnounced();
    void cleaningAnnouncesTheDeletedSpam();
};

void TestAutomaticCheck::captionSaysMinuteForOneOnly()
{
    QCOMPARE(countdown(1), QStringLiteral("Mailsieve - next e-mail check in 1 minute"));
    QCOMPARE(countdown(2), QStringLiteral("Mailsieve - next e-mail check in 2 minutes"));
    QCOMPARE(countdown(10), QStringLiteral("Mailsieve - next e-mail check in 10 minutes"));
}

void TestAutomaticCheck::countsDownAndChecksOnTheLastTick()
{
    Rig rig;
    rig.servers[0].setMessages(mailbox(5));
    rig.start();
    QCOMPARE(rig.view.caption(), countdown(3));
    QVERIFY(rig.clock.isActive());
    QVERIFY(rig.view.animated);
    QVERIFY(rig.view.automaticChecked);

    rig.clock.tick();
    QCOMPARE(rig.view.caption(), countdown(2));
    rig.clock.tick();
    QCOMPARE(rig.view.caption(), countdown(1));
    QCOMPARE(rig.connections(), 0);
    QCOMPARE(rig.view.mainWindowShown, 0);

    rig.view.captions.clear();
    rig.clock.tick();
    QCOMPARE(rig.servers[0].connectionCount(), 1);
    QCOMPARE(rig.core->list.count(), 5);
    QVERIFY(rig.view.captions.contains(AutomaticCheck::CheckingCaption));
    QCOMPARE(rig.view.caption(), countdown(3));
    QCOMPARE(rig.automatic->minutesLeft, 3);
    QVERIFY(rig.clock.isActive());
    QCOMPARE(rig.view.mainWindowShown, 1);
    QCOMPARE(rig.player.events.last(), QStringLiteral("play chime.wav looping"));
    // Nothing is deleted without automatic deletion.
    QCOMPARE(rig.servers[0].messages().size(), 5);

    // The next interval starts after the check.
    rig.clock.tick();
    rig.clock.tick();
    QCOMPARE(rig.servers[0].connectionCount(), 1);
    rig.clock.tick();
    QCOMPARE(rig.servers[0].connectionCount(), 2);
}

void TestAutomaticCheck::emptyMailboxRaisesNoAlarm()
{
    Rig rig;
    rig.start([](GeneralSettings &s) { s.minutes = 1; });
    rig.clock.tick();
    QCOMPARE(rig.servers[0].connectionCount(), 1);
    QCOMPARE(rig.view.mainWindowShown, 0);
    QVERIFY(!rig.player.events.contains(QStringLiteral("play chime.wav looping")));
}

void TestAutomaticCheck::missingAlarmFileBeeps()
{
    Rig rig;
    rig.servers[0].setMessages(mailbox(1));
    rig.start([&](GeneralSettings &s) {
        s.minutes = 1;
        s.alarmFile = rig.home.filePath(QStringLiteral("gone.wav"));
    });
    rig.clock.tick();
    QCOMPARE(rig.beeps, 1);
    QVERIFY(rig.player.events.filter(QStringLiteral("play")).isEmpty());
}

void TestAutomaticCheck::alarmLoopsOnlyWithRepeat()
{
    Rig rig;
    rig.start([](GeneralSettings &s) { s.repeatAlarm = false; });
    rig.alarm->playAlarmSound(true);
    QCOMPARE(rig.player.events.last(), QStringLiteral("play chime.wav"));
    rig.alarm->playAlarmSound(false);
    QCOMPARE(rig.player.events.last(), QStringLiteral("stop"));

    // Only the first 200 characters of the name count.
    rig.core->settings.alarmFile = rig.home.filePath(QStringLiteral("chime.wav")) + QString(300, QLatin1Char('x'));
    const QString used = rig.core->settings.alarmFile.left(Alarm::maxFileNameLength);
    if (QFile::copy(rig.home.filePath(QStringLiteral("chime.wav")), used)) {
        rig.alarm->playAlarmSound(true);
        QVERIFY(rig.player.events.last().startsWith(QStringLiteral("play chime.wav")));
    }
}

void TestAutomaticCheck::killCleansEveryConfiguredMailboxInOrder()
{
    Rig rig;
    for (ScriptedPop3Server &server : rig.servers)
        server.setMessages(mailbox(8)); // spam: 4, 6 and 8
    rig.start([](GeneralSettings &s) {
        s.minutes = 1;
        s.deleteWithoutConfirmation = true;
        s.defaultMailbox = 3;
    });
    rig.clock.tick();

    QVERIFY2(rig.view.errors.isEmpty(), qPrintable(rig.view.errors.join(QLatin1Char('\n'))));
    QVERIFY(rig.prompts.asked.isEmpty());
    QStringList checked;
    for (const QString &line : rig.logLines(QStringLiteral("MAIL CHECK")))
        checked << line.section(QLatin1Char(' '), 8, 8);
    QCOMPARE(checked, (QStringList{rig.servers[0].address(), rig.servers[1].address(), rig.servers[2].address()}));
    QCOMPARE(rig.logLines(QStringLiteral("DELETE SPAM")).size(), 9);
    for (ScriptedPop3Server &server : rig.servers)
        QCOMPARE(server.messages().size(), 5);
    QCOMPARE(rig.core->settings.spamCount, QStringLiteral("9"));
    // The default mailbox is loaded again; no alarm, no window.
    QCOMPARE(rig.core->client().server(), rig.servers[1].address());
    QVERIFY(rig.player.events.filter(QStringLiteral("play")).isEmpty());
    QCOMPARE(rig.view.mainWindowShown, 0);
    QCOMPARE(rig.view.caption(), countdown(1));
    QVERIFY(rig.clock.isActive());
}

void TestAutomaticCheck::killWithoutAllCleansTheDefaultMailboxOnly()
{
    Rig rig;
    for (ScriptedPop3Server &server : rig.servers)
        server.setMessages(mailbox(8));
    rig.start([](GeneralSettings &s) {
        s.minutes = 1;
        s.deleteWithoutConfirmation = true;
        s.killAll = false;
        s.defaultMailbox = 7;
    });
    rig.clock.tick();
    QCOMPARE(rig.servers[0].connectionCount(), 0);
    QCOMPARE(rig.servers[1].connectionCount(), 0);
    QCOMPARE(rig.servers[2].messages().size(), 5);
}

void TestAutomaticCheck::failingCheckInTheTrayIsSwallowed()
{
    Rig rig;
    rig.servers[0].stopListening();
    rig.start([](GeneralSettings &s) { s.minutes = 2; }, true);
    rig.clock.tick();
    rig.clock.tick();
    QVERIFY(rig.view.errors.isEmpty());
    QCOMPARE(rig.view.caption(), countdown(2));
    QCOMPARE(rig.automatic->minutesLeft, 2);
    QVERIFY(rig.clock.isActive());
    QCOMPARE(rig.logLines(QStringLiteral("ERROR ")).size(), 1);
}

void TestAutomaticCheck::failingCheckOutsideTheTrayStopsTheTimer()
{
    Rig rig;
    rig.servers[0].setMessages(mailbox(2));
    rig.servers[0].failAt(QStringLiteral("PASS"), "-ERR invalid password");
    rig.start([](GeneralSettings &s) { s.minutes = 1; });
    rig.clock.tick();
    QCOMPARE(rig.view.errors, QStringList{"The server refused the password for user at " + rig.servers[0].address()
                                          + ": -ERR invalid password"});
    QVERIFY(!rig.clock.isActive());
    QCOMPARE(rig.view.caption(), AutomaticCheck::CheckingCaption);
    QCOMPARE(rig.automatic->minutesLeft, 0);

    // Once a command re-arms the timer, the next tick checks at once.
    rig.cycle->cancel(true);
    rig.automatic->btSpamSetupClick([] {});
    QVERIFY(!rig.clock.isActive());
    rig.automatic->EnableAutomatic1Click(true);
    QVERIFY(rig.clock.isActive());
    rig.clock.tick();
    QCOMPARE(rig.core->list.count(), 2);
    QCOMPARE(rig.view.errors.size(), 1);
}

void TestAutomaticCheck::failingDeletePassStopsTheRound()
{
    Rig rig;
    for (ScriptedPop3Server &server : rig.servers)
        server.setMessages(mailbox(8));
    rig.start(
        [](GeneralSettings &s) {
            s.minutes = 1;
            s.deleteWithoutConfirmation = true;
        },
        true);
    // The delete pass loses its connection at the first DELE.
    rig.servers[0].closeAt(QStringLiteral("DELE 4"));
    rig.clock.tick();
    QCOMPARE(rig.view.errors.size(), 1);
    QCOMPARE(rig.servers[0].messages().size(), 8);
    QCOMPARE(rig.servers[1].connectionCount(), 0);
    QCOMPARE(rig.servers[2].connectionCount(), 0);
    QVERIFY(!rig.clock.isActive());
}

void TestAutomaticCheck::switchingOffAndOnRestartsTheCountdown()
{
    Rig rig;
    rig.start([](GeneralSettings &s) { s.minutes = 5; });
    rig.clock.tick();
    rig.clock.tick();
    QCOMPARE(rig.view.caption(), countdown(3));

    rig.automatic->EnableAutomatic1Click(false);
    QCOMPARE(rig.view.caption(), QStringLiteral("Mailsieve"));
    QVERIFY(!rig.clock.isActive());
    QVERIFY(!rig.view.automaticChecked);
    QVERIFY(!rig.view.animated);
    QVERIFY(!readStartupSettings(rig.core->store).automatic);

    rig.automatic->EnableAutomatic1Click(true);
    QCOMPARE(rig.view.caption(), countdown(5));
    QVERIFY(rig.clock.isActive());
    QVERIFY(readStartupSettings(rig.core->store).automatic);
    rig.clock.tick();
    QCOMPARE(rig.view.caption(), countdown(4));

    const QStringList lines = rig.logLines(QStringLiteral("Automatic mode"));
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(QStringLiteral("Automatic mode disabled at ")));
    QVERIFY(lines[1].startsWith(QStringLiteral("Automatic mode enabled at ")));
}

void TestAutomaticCheck::settingsCommandsHoldTheTimer()
{
    Rig rig;
    rig.start([](GeneralSettings &s) { s.minutes = 4; });
    rig.clock.tick();

    bool activeInside = true;
    rig.automatic->btSpamSetupClick([&] { activeInside = rig.clock.isActive(); });
    QVERIFY(!activeInside);
    QVERIFY(rig.clock.isActive());
    QCOMPARE(rig.player.events.last(), QStringLiteral("stop"));

    // The General settings window changes the interval and the default mailbox.
    rig.automatic->btGeneralClick([&] {
        activeInside = rig.clock.isActive();
        rig.core->settings.minutes = 7;
        rig.core->settings.defaultMailbox = 3;
    });
    QVERIFY(!activeInside);
    QCOMPARE(rig.view.caption(), countdown(7));
    QCOMPARE(rig.automatic->minutesLeft, 7);
    QCOMPARE(rig.cycle->currentMailbox, 3);
    QVERIFY(rig.clock.isActive());

    // Switched to manual there: the timer stays off.
    rig.automatic->btGeneralClick([&] { rig.core->settings.automatic = false; });
    QVERIFY(!rig.clock.isActive());
    QCOMPARE(rig.view.caption(), QStringLiteral("Mailsieve"));
}

void TestAutomaticCheck::manualModeHasNoTimer()
{
    Rig rig;
    rig.start([](GeneralSettings &s) { s.automatic = false; });
    QVERIFY(!rig.clock.isActive());
    QCOMPARE(rig.view.caption(), QStringLiteral("Mailsieve"));
    QVERIFY(!rig.view.animated);
    QVERIFY(!rig.view.automaticChecked);
}

void TestAutomaticCheck::findingsText_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<int>("spam");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QString>("text");
    QTest::newRow("one waiting") << 1 << 0 << false << QStringLiteral("1 message waiting");
    QTest::newRow("some spam") << 3 << 1 << false << QStringLiteral("3 messages waiting, 1 marked as spam");
    QTest::newRow("deleted, rest waiting")
        << 1 << 2 << true << QStringLiteral("2 spam messages deleted, 1 message waiting");
    QTest::newRow("deleted, none left") << 0 << 1 << true << QStringLiteral("1 spam message deleted");
    QTest::newRow("nothing to delete") << 4 << 0 << true << QStringLiteral("4 messages waiting");
}

void TestAutomaticCheck::findingsText()
{
    QFETCH(int, waiting);
    QFETCH(int, spam);
    QFETCH(bool, deleted);
    QFETCH(QString, text);
    QCOMPARE((AutomaticFindings{waiting, spam, deleted}.text()), text);
}

void TestAutomaticCheck::mailFoundIsAnnounced()
{
    Rig rig;
    rig.servers[0].setMessages(mailbox(8)); // spam: 4, 6 and 8
    rig.start([](GeneralSettings &s) { s.minutes = 1; });
    QList<AutomaticFindings> announced;
    rig.automatic->onMailFound = [&announced](const AutomaticFindings &found) { announced << found; };
    rig.clock.tick();
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.first().waiting, 8);
    QCOMPARE(announced.first().spam, rig.core->list.markedCount());
    QVERIFY(announced.first().spam > 0);
    QVERIFY(!announced.first().spamDeleted);
    // Beside the alarm, not instead of it.
    QCOMPARE(rig.player.events.last(), QStringLiteral("play chime.wav looping"));
}

void TestAutomaticCheck::emptyMailboxIsNotAnnounced()
{
    Rig rig;
    rig.start([](GeneralSettings &s) { s.minutes = 1; });
    int announced = 0;
    rig.automatic->onMailFound = [&announced](const AutomaticFindings &) { ++announced; };
    rig.clock.tick();
    QCOMPARE(rig.servers[0].connectionCount(), 1);
    QCOMPARE(announced, 0);
}

void TestAutomaticCheck::cleaningAnnouncesTheDeletedSpam()
{
    Rig rig;
    for (ScriptedPop3Server &server : rig.servers)
        server.setMessages(mailbox(8)); // spam: 4, 6 and 8
    rig.start([](GeneralSettings &s) {
        s.minutes = 1;
        s.deleteWithoutConfirmation = true;
    });
    QList<AutomaticFindings> announced;
    rig.automatic->onMailFound = [&announced](const AutomaticFindings &found) { announced << found; };
    rig.clock.tick();
    QVERIFY2(rig.view.errors.isEmpty(), qPrintable(rig.view.errors.join(QLatin1Char('\n'))));
    // One notice for the whole round of three mailboxes.
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.first().spam, 9);
    QCOMPARE(announced.first().waiting, 15);
    QVERIFY(announced.first().spamDeleted);
    QCOMPARE(announced.first().text(), QStringLiteral("9 spam messages deleted, 15 messages waiting"));
}

QTEST_MAIN(TestAutomaticCheck)
#include "tst_automaticcheck.moc"
