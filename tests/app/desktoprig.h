#pragma once
// The desktop program offscreen, as main.cpp assembles it: the main window,
// the Spam and General settings windows, deletion, automatic mode, the tray
// and the alarm, and on request the inspection commands. Over a scripted
// mailbox, with a hand-turned clock, a recorded alarm, viewers, dialogs and
// help addresses caught, and files "opened" without a desktop.

#include "app/appfixture.h"
#include "app/automaticcheckdesktop.h"
#include "app/inspectionmenu.h"
#include "app/programcore.h"
#include "settings/frmgeneral.h"
#include "settings/frmoptionsmain.h"
#include "support/handclock.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace desktoprig {

class FakePlayer : public AlarmPlayer
{
public:
    QStringList *events;
    explicit FakePlayer(QStringList *log) : events(log) {}
    void play(const QString &, bool) override { *events << QStringLiteral("play"); }
    void stop() override { *events << QStringLiteral("stop"); }
};

class RecordingHelpOpener : public HelpOpener
{
public:
    QList<QUrl> opened;
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return true;
    }
};

struct DesktopRig
{
    QTemporaryDir home;
    ScriptedPop3Server server;
    std::unique_ptr<ProgramCore> core;
    ScriptedPrompts prompts;
    std::unique_ptr<TfrmMain> main;
    std::unique_ptr<TfrmOptionsMain> spam;
    std::unique_ptr<TfrmGeneral> general;
    std::unique_ptr<AutomaticCheckDesktop> desktop;
    RecordingHelpOpener helpOpener;
    std::unique_ptr<InspectionCommands> inspection;
    HandClock *clock = nullptr;
    QStringList sounds;
    QStringList openedFiles;
    QStringList viewerTitles;
    // Where desktop notifications go; by default no bus, so the user's
    // desktop never sees a test's notices.
    QDBusConnection notificationBus{QStringLiteral("mailsieve-tests-no-bus")};

    DesktopRig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        server.listen();
    }

    void start(const std::function<void(GeneralSettings &)> &edit = {})
    {
        appfixture::storeSettings([&](GeneralSettings &s) {
            appfixture::storeMailbox(s, 1, server.address(), server.user(), server.password());
            s.logFile = home.filePath(QStringLiteral("logfile.txt"));
            s.alarmFile = home.filePath(QStringLiteral("logfile.txt")); // any existing file
            s.launchAfterDelete = false;
            if (edit)
                edit(s);
        });
        appfixture::storeRules(home.path());
        core = std::make_unique<ProgramCore>(home.path());
        QCOMPARE(core->load(), QStringList());
        main = std::make_unique<TfrmMain>(*core, prompts);
        spam = std::make_unique<TfrmOptionsMain>(core->rules, home.path(), core->settings, prompts, main.get());
        general = std::make_unique<TfrmGeneral>(TfrmGeneral::Links{core->settings, core->store, prompts, home.path()},
                                                main.get());
        AutomaticDevices devices;
        devices.player = std::make_unique<FakePlayer>(&sounds);
        auto handClock = std::make_unique<HandClock>();
        clock = handClock.get();
        devices.clock = std::move(handClock);
        devices.notificationBus = notificationBus;
        desktop = std::make_unique<AutomaticCheckDesktop>(*core, *main, *general, *spam, prompts, std::move(devices));
        general->openFile = [this](const QString &path) {
            openedFiles << path;
            return true;
        };
        const StartupSettings startup = readStartupSettings(core->store);
        main->FormCreate(startup);
        desktop->FormCreate(startup);
    }

    // The list's menu, the mark buttons, "Help" and "About"; the viewers
    // record their titles, the quick-add dialog closes at once.
    void attachInspection()
    {
        inspection = std::make_unique<InspectionCommands>(*main, *core, prompts, helpOpener);
        inspection->links().runViewer = [this](TfrmViewHeader &viewer) { viewerTitles << viewer.lblTitle()->text(); };
        inspection->quickAdd().runDialog = [](TfrmMarkForDeletion &) {};
    }

    ~DesktopRig()
    {
        inspection.reset();
        desktop.reset();
        general.reset();
        spam.reset();
        main.reset();
    }
};

} // namespace desktoprig
