// Start-up of Mailsieve: the command-line check without a window, or the
// desktop program with its single-instance guard and its windows.

#include "app/appicon.h"
#include "app/consolecheck.h"
#include "app/desktopwindows.h"
#include "app/markpictures.h"
#include "app/programcore.h"
#include "app/programfolder.h"
#include "app/singleinstance.h"
#include "settings/prompts.h"
#include "settings/ruleeditorwidgets.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

namespace {

// Name and version for --version, the settings paths and the desktop.
void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Mailsieve"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MAILSIEVE_VERSION));
}

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int runConsole(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    nameApplication();
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = runConsoleCheck(QCoreApplication::arguments(), out, err);
    out.flush();
    err.flush();
    return code;
}

int runWindow(int argc, char *argv[])
{
    QApplication app(argc, argv);
    nameApplication();
    // The desktop matches the windows to the desktop entry (and its icon) by this name.
    QGuiApplication::setDesktopFileName(applicationId());
    QApplication::setWindowIcon(applicationIcon());

    const QString folder = programFolder();
    SingleInstance instance(folder);
    if (!instance.claim())
        return 0;

    QStringList problems = seedProgramFolder(folder, shippedDataFolders());
    for (QString &name : problems)
        name = QStringLiteral("Could not copy the shipped file %1 to %2").arg(name, folder);
    ProgramCore core(folder);
    core.useDesktopKeyring();
    problems << core.load();
    const StartupSettings startup = readStartupSettings(core.store);

    // The rule grids and editors show the message list's mark pictures.
    setRuleMarkPictureSource(markPicture);

    DialogPrompts prompts;
    DesktopWindows windows(core, prompts);
    prompts.setParentWidget(&windows.frmMain);
    TfrmMain &frmMain = windows.frmMain;
    QObject::connect(&instance, &SingleInstance::activationRequested, &frmMain, [&frmMain] {
        frmMain.show();
        frmMain.setWindowState(frmMain.windowState() & ~Qt::WindowMinimized);
        frmMain.raise();
        frmMain.activateWindow();
    });

    windows.FormCreate(startup);
    if (!problems.isEmpty())
        prompts.warning(problems.join(QLatin1Char('\n')));

    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (wantsConsole(argumentList(argc, argv)))
        return runConsole(argc, argv);
    return runWindow(argc, argv);
}
