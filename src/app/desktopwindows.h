#pragma once
// The desktop program's windows, made at start-up in their order and linked
// together: the main window, the Spam settings window, the General settings
// window (with the other mail programs' settings it fills mailbox 1 and the
// mail program from), deletion and automatic mode with the tray and the
// alarm, the inspection commands and the help page. main.cpp makes them
// once; a test makes them the same way over its own devices.

#include "app/automaticcheckdesktop.h"
#include "app/frmmain.h"
#include "app/help.h"
#include "app/inspectionmenu.h"
#include "mail/dialupprocess.h"
#include "settings/frmgeneral.h"
#include "settings/frmoptionsmain.h"
#include "settings/mailimport.h"

#include <memory>

class ProgramCore;
class Prompts;

struct DesktopDevices
{
    AutomaticDevices automatic;
    // Asks the desktop (xdg-mime) for its mail program.
    std::unique_ptr<CommandRunner> commands = std::make_unique<ProcessRunner>();
};

class DesktopWindows
{
public:
    DesktopWindows(ProgramCore &core, Prompts &prompts, DesktopDevices devices = {});
    DesktopWindows(const DesktopWindows &) = delete;
    DesktopWindows &operator=(const DesktopWindows &) = delete;

    // The main window's start-up, then automatic mode's: shows the window
    // or stays in the tray, and starts the timer of the stored mode.
    void FormCreate(const StartupSettings &startup);

    // Declared before what reads them.
    std::unique_ptr<CommandRunner> commands;
    SystemPlatformSettings platformSettings;
    MailImport mailImport;
    TfrmMain frmMain;
    TfrmOptionsMain frmOptionsMain;
    // Its destruction at the end of the run writes the General settings once more.
    TfrmGeneral frmGeneral;
    AutomaticCheckDesktop automation;
    HelpWindow helpOpener;
    InspectionCommands inspection;
};
