// mailsieve-bench: the program's performance figures, one benchmark per
// subcommand, printed as "NAME VALUE UNIT" lines.

#include "benchmarks.h"

#include <QApplication>
#include <QTextStream>

#include <memory>

int main(int argc, char *argv[])
{
    const bool needsWidgets = argc > 1 && qstrcmp(argv[1], "window-check") == 0;
    std::unique_ptr<QCoreApplication> app;
    if (needsWidgets)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);
    const QStringList options = args.mid(1);
    if (command == QLatin1String("header-pass"))
        return runHeaderPassBench(options);
    if (command == QLatin1String("rules"))
        return runRulesBench(options);
    if (command == QLatin1String("second-check"))
        return runSecondCheckBench(options);
    if (command == QLatin1String("learning"))
        return runLearningBench(options);
    if (command == QLatin1String("run-check"))
        return runCheckOnce();
    if (needsWidgets)
        return runWindowCheckBench(options);

    QTextStream(stderr) << "usage: mailsieve-bench header-pass [--messages N] [--runs N] [--rtt-ms MS]\n"
                           "           [--peer-poplib] [--peer-mpop] | --protocol imap [--peer-imaplib]\n"
                           "       mailsieve-bench rules [options]\n"
                           "       mailsieve-bench second-check [--messages N] [--protocol imap|pop3]\n"
                           "       mailsieve-bench window-check [--messages N]\n"
                           "       mailsieve-bench learning [--corpus DIR] [--explain]\n";
    return 2;
}
