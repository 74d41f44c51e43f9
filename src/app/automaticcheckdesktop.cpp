#include "app/automaticcheckdesktop.h"

#include "app/autostart.h"

#include "app/deletionshell.h"
#include "app/logfileviewer.h"
#include "app/programcore.h"
#include "settings/frmgeneral.h"
#include "settings/prompts.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QToolButton>
#include <QTreeView>

namespace {

// The watch signs in as the check does.
IdleWatchLinks idleWatchLinks(ProgramCore &core)
{
    const CheckHooks hooks = core.checkHooks();
    return {hooks.loadMailbox, hooks.accessToken};
}

} // namespace

AutomaticCheckDesktop::AutomaticCheckDesktop(ProgramCore &core, TfrmMain &main, TfrmGeneral &general,
                                             QDialog &spamSettings, Prompts &prompts, AutomaticDevices theDevices)
    : devices(std::move(theDevices)), log(core.settings),
      alarm(*this->devices.player, core.settings, [] { QApplication::beep(); }),
      tray(main, readStartupSettings(core.store).startInTray),
      deletion(main.cycle(), core.clients, core.list, core.settings, main, log, &prompts,
               DeletionHooks{
                   [&general] { return general.SaveSettings(); },
                   startMailProgram,
                   [this] { automatic.UpdateAutomaticCaptions(m_core.settings.automatic, m_core.settings.minutes); },
                   {},
                   this->devices.timers.get()}),
      automatic(main.cycle(), deletion, core.list, core.settings, core.store, *this->devices.clock, alarm, log, tray,
                this->devices.timers->make()),
      notifier(this->devices.notificationBus,
               [this](const QString &summary, const QString &body) { tray.showBalloon(summary, body); }),
      idleWatch(idleWatchLinks(core), *this->devices.timers), m_core(core), m_main(main)
{
    log.onError = [&prompts](const QString &message) { prompts.error(message); };
    core.ras.OnStatusChange = [&main](const QString &status) { main.setStatusText(status); };
    linkMainWindow(general, spamSettings);
    linkGeneralSettings(general);
    linkTray(general);
    linkNotifications();
    linkIdleWatch();
}

AutomaticCheckDesktop::~AutomaticCheckDesktop()
{
    // At exit the watched servers hear DONE and LOGOUT.
    automatic.watchMailboxes = nullptr;
    idleWatch.stop();
    m_main.cycle().hooks().journal = nullptr;
    m_main.closeLogFile = nullptr;
    m_core.ras.OnStatusChange = nullptr;
}

void AutomaticCheckDesktop::linkMainWindow(TfrmGeneral &general, QDialog &spamSettings)
{
    m_main.cycle().hooks().journal = &log;
    m_main.closeLogFile = [this] { log.CloseLogFile(); };
    connect(m_main.btDelete(), &QToolButton::clicked, this, [this] { deletion.btDeleteClick(); });
    connect(m_main.btLaunch(), &QToolButton::clicked, this, [this] { deletion.btLaunchClick(); });
    connect(m_main.btGeneral(), &QAction::triggered, this,
            [this, &general] { automatic.btGeneralClick([&general] { general.exec(); }); });
    connect(m_main.btSpamSetup(), &QAction::triggered, this,
            [this, &spamSettings] { automatic.btSpamSetupClick([&spamSettings] { spamSettings.exec(); }); });
    m_main.ListView1()->installEventFilter(this);
    m_main.ListView1()->viewport()->installEventFilter(this);
}

void AutomaticCheckDesktop::linkGeneralSettings(TfrmGeneral &general)
{
    general.playAlarmSound = [this](const QString &file, bool repeat) { devices.player->play(file, repeat); };
    general.stopAlarmSound = [this] { devices.player->stop(); };
    general.openFile = [&general](const QString &path) { return LogFileViewer(openWithDesktop, &general).open(path); };
    general.launchMailProgram = [this](const QString &program) { deletion.launchMailProgram(program); };
    general.startsAtLogin = [] { return AutostartEntry(QCoreApplication::applicationFilePath()).isEnabled(); };
    general.setStartAtLogin = [](bool on) {
        AutostartEntry entry(QCoreApplication::applicationFilePath());
        return entry.setEnabled(on) ? QString() : entry.errorString();
    };
}

void AutomaticCheckDesktop::linkTray(TfrmGeneral &general)
{
    tray.onPopup = [this] { alarm.playAlarmSound(false); };
    connect(tray.Show1, &QAction::triggered, this, [this] { automatic.Show1Click(); });
    connect(tray.LaunchEmailprogram1, &QAction::triggered, this, [this] { deletion.btLaunchClick(); });
    connect(tray.Spam1, &QAction::triggered, m_main.btSpamSetup(), &QAction::trigger);
    connect(tray.General1, &QAction::triggered, m_main.btGeneral(), &QAction::trigger);
    connect(tray.Viewlogfile1, &QAction::triggered, &general, &TfrmGeneral::btViewLogClick);
    connect(tray.EnableAutomatic1, &QAction::triggered, this, [this] { automatic.EnableAutomatic1Click(true); });
    connect(tray.DisableAutomatic1, &QAction::triggered, this, [this] { automatic.EnableAutomatic1Click(false); });
    connect(tray.Help1, &QAction::triggered, m_main.btHelp(), &QAction::trigger);
    connect(tray.About1, &QAction::triggered, m_main.btAbout(), &QAction::trigger);
}

void AutomaticCheckDesktop::linkNotifications()
{
    automatic.onMailFound = [this](const AutomaticFindings &findings) {
        if (m_core.settings.notify)
            notifier.notify(QStringLiteral("Mailsieve"), findings.text());
    };
}

void AutomaticCheckDesktop::linkIdleWatch()
{
    automatic.watchMailboxes = [this](const QList<int> &mailboxes) { idleWatch.watch(mailboxes); };
    idleWatch.onNewMail = [this](int) { automatic.newMailNoticed(); };
    idleWatch.holdServer = [this] { return automatic.holdServerForWatch(); };
}

void AutomaticCheckDesktop::FormCreate(const StartupSettings &startup)
{
    automatic.start(startup.automatic, startup.minutes);
    if (startup.startInTray && !tray.isPresent())
        m_main.show();
}

bool AutomaticCheckDesktop::eventFilter(QObject *watched, QEvent *event)
{
    // ListView1Click and ListView1KeyUp.
    if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease)
        alarm.playAlarmSound(false);
    return QObject::eventFilter(watched, event);
}
