// mailsieve-bench: the program's performance figures, one benchmark per
// subcommand, printed as "NAME VALUE UNIT" lines.

#include "benchmarks.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    const QStringList options = args.mid(1);
    if (command == QLatin1String("header-pass"))
        return runHeaderPassBench(options);
    if (command == QLatin1String("rules"))
        return runRulesBench(options);

    QTextStream(stderr) << "usage: mailsieve-bench header-pass [--messages N] [--peer-poplib]\n"
                           "       mailsieve-bench rules [options]\n";
    return 2;
}
