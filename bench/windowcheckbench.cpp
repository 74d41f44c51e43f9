// window-check: the cost of the main window during a header pass. The same
// private Dovecot mailbox is listed by the POP3 client alone and by a full
// "Check e-mail" through TfrmMain (rows added to the list view, marking,
// status texts, progress window); the ratio shows what the window adds.

#include "benchmarks.h"
#include "benchutil.h"

#include "app/frmmain.h"
#include "app/programcore.h"
#include "support/dovecotserver.h"
#include "support/messagebuilder.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <stdexcept>

namespace {

constexpr int DefaultMessages = 5000;
constexpr int TimedRuns = 7;

double secondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int runWindowCheckBench(const QStringList &args)
{
    QTextStream err(stderr);
    const int count = bench::intOption(args, QStringLiteral("--messages")).value_or(DefaultMessages);
    if (count <= 0) {
        err << "window-check: --messages needs a positive number" << Qt::endl;
        return 2;
    }
    QTemporaryDir home;
    qputenv("MAILSIEVE_HOME", home.path().toLocal8Bit());

    DovecotServer server;
    MessageBuilder builder(20240601);
    for (int i = 0; i < count; ++i)
        server.addMessage(builder.message(i).raw);
    if (!server.start()) {
        err << "window-check: " << server.errorString() << Qt::endl;
        return 1;
    }

    QList<double> clientRates;
    QList<double> windowRates;
    try {
        bench::storeMailbox(home.filePath(QStringLiteral("mailsieve.conf")), server, server.server(),
                            MailProtocol::Pop3);
        ProgramCore core(home.path());
        core.load();
        ScriptedPrompts prompts;
        TfrmMain window(core, prompts);
        window.show();
        window.cycle().loadMailbox(1);
        // The client alone: a second client with the same login and no
        // window behind its events.
        TmsRemotePOP client;
        client.setServer(core.client().server());
        client.setUserName(core.client().userName());
        client.setPassword(core.client().password());
        client.UpdateInfo(); // warm-up: Dovecot builds its index
        for (int run = 0; run < TimedRuns; ++run) {
            clientRates << count / secondsOf([&] { client.UpdateInfo(); });
            windowRates << count / secondsOf([&] { window.btListClick(); });
            if (core.list.rowCount() != count || !prompts.asked.isEmpty())
                throw std::runtime_error("the window's check did not list the whole mailbox");
        }
    } catch (const std::exception &error) {
        err << "window-check: " << QString::fromUtf8(error.what()) << Qt::endl;
        return 1;
    }
    const double client = bench::median(clientRates);
    const double window = bench::median(windowRates);
    bench::printFigure(QStringLiteral("window_check.messages"), count, QStringLiteral("msg"));
    bench::printFigure(QStringLiteral("window_check.client_messages_per_second"), client, QStringLiteral("msg/s"));
    bench::printFigure(QStringLiteral("window_check.window_messages_per_second"), window, QStringLiteral("msg/s"));
    bench::printFigure(QStringLiteral("window_check.window_vs_client"), window / client, QStringLiteral("x"), 2);
    bench::printFigure(QStringLiteral("window_check.peak_memory"), bench::peakMemoryMiB(), QStringLiteral("MiB"), 1);
    return 0;
}
