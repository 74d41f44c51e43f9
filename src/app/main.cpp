// Start-up of Mailsieve: the command-line check without a window, or the
// desktop program with its single-instance guard and its windows.

#include "app/consolecheck.h"
#include "app/frmmain.h"
#include "app/programcore.h"
#include "app/programfolder.h"
#include "app/singleinstance.h"
#include "settings/prompts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

namespace {

const QString kApplicationName = QStringLiteral("Mailsieve");

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
    QCoreApplication::setApplicationName(kApplicationName);
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
    QApplication::setApplicationName(kApplicationName);

    const QString folder = programFolder();
    SingleInstance instance(folder);
    if (!instance.claim())
        return 0;

    QStringList problems = seedProgramFolder(folder, shippedDataFolders());
    for (QString &name : problems)
        name = QStringLiteral("Could not copy the shipped file %1 to %2").arg(name, folder);
    ProgramCore core(folder);
    problems << core.load();
    const StartupSettings startup = readStartupSettings(core.store);

    DialogPrompts prompts;
    TfrmMain frmMain(core, prompts);
    prompts.setParentWidget(&frmMain);
    QObject::connect(&instance, &SingleInstance::activationRequested, &frmMain, [&frmMain] {
        frmMain.show();
        frmMain.setWindowState(frmMain.windowState() & ~Qt::WindowMinimized);
        frmMain.raise();
        frmMain.activateWindow();
    });

    frmMain.FormCreate(startup);
    if (!problems.isEmpty())
        prompts.warning(problems.join(QLatin1Char('\n')));

    const int code = app.exec();
    // The counter and the options as they stand at the end of the run.
    if (!core.settings.SaveSettings(core.store))
        prompts.error(core.store.errorString());
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (wantsConsole(argumentList(argc, argv)))
        return runConsole(argc, argv);
    return runWindow(argc, argv);
}
