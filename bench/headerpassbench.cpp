// header-pass: how fast a check lists a mailbox. A private Dovecot serves N
// generated messages with realistic header blocks; TmsRemotePOP::UpdateInfo
// reads the size and header block of each (LIST n, TOP n 1). With
// --peer-poplib, Python's poplib does the same exchange on the same mailbox,
// its runs interleaved with ours so that both see the same machine load.

#include "benchmarks.h"
#include "benchutil.h"

#include "mail/pop3client.h"
#include "support/dovecotserver.h"
#include "support/messagebuilder.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>

#include <stdexcept>

namespace {

constexpr int DefaultMessages = 2000;
// The first session also builds Dovecot's index; it is run once, untimed,
// and the figures are the medians of the timed runs after it.
constexpr int TimedRuns = 5;

// Messages per second of one header pass through TmsRemotePOP.
double clientRate(TmsRemotePOP &pop, int expectedCount)
{
    QElapsedTimer timer;
    timer.start();
    pop.UpdateInfo();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (pop.Info().Count() != expectedCount)
        throw std::runtime_error(
            QStringLiteral("listed %1 of %2 messages").arg(pop.Info().Count()).arg(expectedCount).toStdString());
    return expectedCount / seconds;
}

// Messages per second of one run of the poplib script.
double poplibRate(const DovecotServer &server)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral(MAILSIEVE_SOURCE_DIR "/bench/peer_poplib.py"), QStringLiteral("--port"),
                  QString::number(server.port()), QStringLiteral("--user"), server.userName(),
                  QStringLiteral("--password"), server.password(), QStringLiteral("--runs"), QStringLiteral("1")});
    if (!python.waitForFinished(600000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        throw std::runtime_error("peer_poplib.py failed: " + python.readAllStandardError().toStdString());
    for (const QByteArray &line : python.readAllStandardOutput().split('\n'))
        if (line.startsWith("messages_per_second "))
            return line.mid(20).toDouble();
    throw std::runtime_error("peer_poplib.py printed no rate");
}

} // namespace

int runHeaderPassBench(const QStringList &args)
{
    QTextStream err(stderr);
    const int count = bench::intOption(args, QStringLiteral("--messages")).value_or(DefaultMessages);
    if (count <= 0) {
        err << "header-pass: --messages needs a positive number" << Qt::endl;
        return 2;
    }
    const bool withPoplib = args.contains(QStringLiteral("--peer-poplib"));

    DovecotServer server;
    {
        MessageBuilder builder(20240601);
        for (int i = 0; i < count; ++i)
            server.addMessage(builder.message(i).raw);
    }
    if (!server.start()) {
        err << "header-pass: " << server.errorString() << Qt::endl;
        return 1;
    }

    TmsRemotePOP pop;
    pop.setServer(server.server());
    pop.setUserName(server.userName());
    pop.setPassword(server.password());
    QList<double> rates;
    QList<double> peerRates;
    try {
        clientRate(pop, count); // warm-up
        for (int run = 0; run < TimedRuns; ++run) {
            rates << clientRate(pop, count);
            if (withPoplib)
                peerRates << poplibRate(server);
        }
    } catch (const std::exception &error) { // the client's errors and our own
        err << "header-pass: " << QString::fromUtf8(error.what()) << Qt::endl;
        return 1;
    }
    const double rate = bench::median(rates);

    bench::printFigure(QStringLiteral("header_pass.messages"), count, QStringLiteral("msg"));
    bench::printFigure(QStringLiteral("header_pass.messages_per_second"), rate, QStringLiteral("msg/s"));
    bench::printFigure(QStringLiteral("header_pass.peak_memory"), bench::peakMemoryMiB(), QStringLiteral("MiB"), 1);
    if (withPoplib) {
        const double peer = bench::median(peerRates);
        bench::printFigure(QStringLiteral("header_pass.poplib_messages_per_second"), peer, QStringLiteral("msg/s"));
        bench::printFigure(QStringLiteral("header_pass.ratio_vs_poplib"), rate / peer, QStringLiteral("x"), 2);
    }
    return 0;
}
