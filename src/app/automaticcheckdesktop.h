#pragma once
// The desktop side of deletion, the log, automatic mode (with its watch of
// IMAP mailboxes for new mail), the tray and the alarm: made once beside the
// main window and the settings windows, it links their buttons, menus and
// hooks to the plain classes that do the work.

#include "app/alarm.h"
#include "app/automaticcheck.h"
#include "app/clock.h"
#include "app/delaytimer.h"
#include "app/deletion.h"
#include "app/deletionlog.h"
#include "app/desktopnotifier.h"
#include "app/idlewatch.h"
#include "app/tray.h"

#include <QObject>

class ProgramCore;
class Prompts;
class QDialog;
class TfrmGeneral;
struct StartupSettings;

// The sound, the minute tick, the other timers of automatic mode and the
// bus of the desktop notifications; tests hand in their own.
struct AutomaticDevices
{
    std::unique_ptr<AlarmPlayer> player = std::make_unique<MediaAlarmPlayer>();
    std::unique_ptr<TickSource> clock = std::make_unique<MinuteClock>();
    std::unique_ptr<DelayTimers> timers = std::make_unique<SystemDelayTimers>();
    QDBusConnection notificationBus = QDBusConnection::sessionBus();
};

class AutomaticCheckDesktop : public QObject
{
    Q_OBJECT
public:
    AutomaticCheckDesktop(ProgramCore &core, TfrmMain &main, TfrmGeneral &general, QDialog &spamSettings,
                          Prompts &prompts, AutomaticDevices theDevices = {});
    ~AutomaticCheckDesktop() override;

    // The main window's start-up part that belongs here: the countdown,
    // the captions and the timer of the stored mode. Runs after
    // TfrmMain::FormCreate; a program meant for a tray that the desktop
    // lacks shows its window.
    void FormCreate(const StartupSettings &startup);

    AutomaticDevices devices;
    DeletionLog log;
    Alarm alarm;
    TrayIcon tray;
    DeletionPass deletion;
    AutomaticCheck automatic;
    // Mail found by an automatic pass, told to the desktop beside the alarm;
    // the tray balloon stands in for a missing notification service.
    DesktopNotifier notifier;
    // The IMAP mailboxes automatic mode checks, watched while it is on.
    IdleWatch idleWatch;

protected:
    // A click or a released key in the message list stops the alarm.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void linkMainWindow(TfrmGeneral &general, QDialog &spamSettings);
    void linkGeneralSettings(TfrmGeneral &general);
    void linkTray(TfrmGeneral &general);
    void linkNotifications();
    void linkIdleWatch();

    ProgramCore &m_core;
    TfrmMain &m_main;
};
