// One conversation with the server at a time. Every command of the tray
// menu and of the main window's list, driven while a check, a delete pass
// or a body download waits for the server's reply, must send nothing, must
// not empty the list under the operation and must not arm Timer1; the
// operation then ends exactly as it would alone. Also: "About" pauses like
// the other commands.

#include "app/desktoprig.h"
#include "app/inspection.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

using namespace appfixture;
using namespace desktoprig;

namespace {

struct Command
{
    QString name;
    std::function<void()> run;
};

// Closes the modal window the next command opens (the settings windows).
void closeNextModalWindow()
{
    QTimer::singleShot(0, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
}

// Every command a user can reach from the tray menu and the main window,
// except Exit (which cancels the operation by design) and "Disable
// automatic check" (which only ever stops the timer).
QList<Command> everyCommand(DesktopRig &rig)
{
    TrayIcon &tray = rig.desktop->tray;
    InspectionCommands &list = *rig.inspection;
    TfrmMain &main = *rig.main;
    const auto modal = [](QAction *action) {
        return [action] {
            closeNextModalWindow();
            action->trigger();
        };
    };
    return {
        {QStringLiteral("tray: Check e-mail for spam"), [&tray] { tray.Show1->trigger(); }},
        {QStringLiteral("tray: Launch e-mail program"), [&tray] { tray.LaunchEmailprogram1->trigger(); }},
        {QStringLiteral("tray: Main screen"), [&tray] { tray.ShowMainScreen1->trigger(); }},
        {QStringLiteral("tray: Spam"), modal(tray.Spam1)},
        {QStringLiteral("tray: General"), modal(tray.General1)},
        {QStringLiteral("tray: View log file"), [&tray] { tray.Viewlogfile1->trigger(); }},
        {QStringLiteral("tray: Enable automatic check"), [&tray] { tray.EnableAutomatic1->trigger(); }},
        {QStringLiteral("tray: Help"), [&tray] { tray.Help1->trigger(); }},
        {QStringLiteral("tray: About"), [&tray] { tray.About1->trigger(); }},
        {QStringLiteral("Why"), [&list] { list.Why1()->trigger(); }},
        {QStringLiteral("Add to exceptions"), [&list] { list.AddtoExceptions1()->trigger(); }},
        {QStringLiteral("Add to spam list"), [&list] { list.AddtoSPAMlist1()->trigger(); }},
        {QStringLiteral("View headers"), [&list] { list.ViewHeader1()->trigger(); }},
        {QStringLiteral("View body"), [&list] { list.ViewMessages1()->trigger(); }},
        {QStringLiteral("Mark messages"), [&main] { main.btMark()->click(); }},
        {QStringLiteral("double click"),
         [&main, &rig] { emit main.ListView1()->doubleClicked(rig.core->list.index(0, 0)); }},
        {QStringLiteral("Reset all marks"), [&main] { main.btResetAll()->click(); }},
        {QStringLiteral("Auto-mark messages"), [&main] { main.btRemark()->click(); }},
        {QStringLiteral("Delete marked messages"), [&main] { main.btDelete()->click(); }},
        {QStringLiteral("Check e-mail"), [&main] { main.btList()->click(); }},
        {QStringLiteral("Launch e-mail program"), [&main] { main.btLaunch()->click(); }},
        {QStringLiteral("General settings"), modal(main.btGeneral())},
        {QStringLiteral("Spam settings"), modal(main.btSpamSetup())},
        {QStringLiteral("Help"), [&main] { main.btHelp()->trigger(); }},
        {QStringLiteral("About"), [&main] { main.btAbout()->trigger(); }},
    };
}

// Automatic mode (so that a command could arm the timer), a mail program
// that records its start, and the help page in place.
struct BusyRig : DesktopRig
{
    QString launchedMarker;
    // What was seen while the commands ran in the middle of the operation.
    bool heldWhileRunning = false;
    bool trayMenuWasOff = false;
    QStringList timerArmedBy;
    QStringList errorsShown;

    void start()
    {
        launchedMarker = home.filePath(QStringLiteral("launched"));
        const QString program = home.filePath(QStringLiteral("mailer.sh"));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho started > '" + launchedMarker.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("help")));
        QFile help(home.filePath(QStringLiteral("help/mailsieve.html")));
        QVERIFY(help.open(QIODevice::WriteOnly));

        server.setMessages(mailbox(8));
        DesktopRig::start([&](GeneralSettings &s) {
            s.automatic = true;
            s.mailProgram = program;
        });
        attachInspection();
        main->show();
        QVERIFY(clock->isActive());
    }

    void check()
    {
        main->btList()->click();
        QCOMPARE(core->list.count(), 8);
    }

    void select(int row)
    {
        main->ListView1()->selectionModel()->select(core->list.index(row, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    // Runs every command once the operation started by the caller waits
    // for the server.
    void runEveryCommandSoon()
    {
        QTimer::singleShot(150, main.get(), [this] {
            heldWhileRunning = main->cycle().isServerHeld();
            trayMenuWasOff = !desktop->tray.popTray()->isEnabled();
            const int errorsBefore = int(prompts.textsOf(ScriptedPrompts::Kind::Error).size());
            for (const Command &command : everyCommand(*this)) {
                select(0);
                command.run();
                // Each command that armed it is named, not only the first.
                if (clock->isActive()) {
                    timerArmedBy << command.name;
                    clock->setActive(false);
                }
            }
            errorsShown = prompts.textsOf(ScriptedPrompts::Kind::Error).mid(errorsBefore);
        });
    }

    void verifyCommandsMetABusyServer()
    {
        QCOMPARE(errorsShown, QStringList());
        QCOMPARE(timerArmedBy, QStringList());
        QVERIFY(!QFile::exists(launchedMarker));
        QVERIFY(trayMenuWasOff);
        QVERIFY(heldWhileRunning);
        // The operation is over: the tray menu and the timer are back.
        QVERIFY(!main->cycle().isServerHeld());
        QVERIFY(desktop->tray.popTray()->isEnabled());
        QVERIFY(clock->isActive());
    }
};

} // namespace

class TestServerOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void commandsDuringACheck();
    void commandsDuringADeletePass();
    void commandsDuringADownload();
    void aboutStopsTheAlarmAndPausesTheTimer();
};

void TestServerOperations::commandsDuringACheck()
{
    BusyRig rig;
    rig.start();
    rig.server.delayAt(QStringLiteral("TOP 3 1"), 1000);
    rig.runEveryCommandSoon();
    rig.check();

    rig.verifyCommandsMetABusyServer();
    QCOMPARE(rig.server.connectionCount(), 1);
    QCOMPARE(rig.server.commands().count(QStringLiteral("QUIT")), 1);
    QVERIFY(rig.server.commands().filter(QStringLiteral("DELE")).isEmpty());
    QVERIFY(rig.server.commands().filter(QStringLiteral("RETR")).isEmpty());
    QCOMPARE(rig.server.messages().size(), 8);
    QCOMPARE(rig.core->list.entry(7).Subject, subjectOf(8));
}

void TestServerOperations::commandsDuringADeletePass()
{
    BusyRig rig;
    rig.start();
    rig.check();
    // The pass waits for the answer to its QUIT: every DELE is out, and
    // nothing is committed or recorded yet.
    rig.server.delayAt(QStringLiteral("QUIT"), 1000);
    rig.server.clearDialogue();
    rig.runEveryCommandSoon();
    rig.main->btDelete()->click();

    rig.verifyCommandsMetABusyServer();
    QCOMPARE(rig.server.commands().filter(QStringLiteral("DELE")),
             (QStringList{QStringLiteral("DELE 4"), QStringLiteral("DELE 6"), QStringLiteral("DELE 8")}));
    QCOMPARE(rig.server.messages().size(), 5);
    // The pass and its fresh listing, nothing else.
    QCOMPARE(rig.server.connectionCount(), 3);
    QCOMPARE(rig.core->list.count(), 5);
    QFile log(rig.home.filePath(QStringLiteral("logfile.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("DELETE SPAM on "), 3);
    QCOMPARE(rig.core->settings.spamCount, QStringLiteral("3"));
    QCOMPARE(rig.main->statusPanel(1), QStringLiteral("There were 3 messages deleted"));
}

void TestServerOperations::commandsDuringADownload()
{
    BusyRig rig;
    rig.start();
    rig.check();
    rig.server.delayAt(QStringLiteral("RETR 1"), 1000);
    rig.server.clearDialogue();
    rig.select(0);
    rig.viewerTitles.clear();
    rig.prompts.clear();
    rig.runEveryCommandSoon();
    rig.inspection->ViewMessages1()->trigger();

    rig.verifyCommandsMetABusyServer();
    QCOMPARE(rig.server.connectionCount(), 2);
    QCOMPARE(rig.server.commands().filter(QStringLiteral("RETR")), QStringList{QStringLiteral("RETR 1")});
    QVERIFY(rig.server.commands().filter(QStringLiteral("DELE")).isEmpty());
    QCOMPARE(rig.server.messages().size(), 8);
    QCOMPARE(rig.core->list.count(), 8);
    // The second "View body" was turned away; the first one shows its body.
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information).count(MessageInspection::BusyText), 1);
    QCOMPARE(rig.viewerTitles.count(QStringLiteral("Contents of e-mail")), 1);
    QCOMPARE(rig.viewerTitles.last(), QStringLiteral("Contents of e-mail"));
}

void TestServerOperations::aboutStopsTheAlarmAndPausesTheTimer()
{
    for (const bool automatic : {true, false}) {
        DesktopRig rig;
        rig.start([&](GeneralSettings &s) {
            s.automatic = automatic;
            s.alarm = true;
        });
        rig.attachInspection();
        rig.desktop->alarm.playAlarmSound(true);
        rig.sounds.clear();
        bool timerOffDuringTheBox = false;
        rig.prompts.onAsked = [&](const ScriptedPrompts::Asked &) { timerOffDuringTheBox = !rig.clock->isActive(); };

        rig.desktop->tray.About1->trigger();

        const QStringList shown = rig.prompts.textsOf(ScriptedPrompts::Kind::Information);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith(QStringLiteral("Mailsieve 1.0\n\nA spam filter that works on the mail server")),
                 qPrintable(shown[0]));
        QCOMPARE(rig.sounds, QStringList{QStringLiteral("stop")});
        QVERIFY(timerOffDuringTheBox);
        QCOMPARE(rig.clock->isActive(), automatic);
    }
}

QTEST_MAIN(TestServerOperations)
#include "tst_serveroperations.moc"
