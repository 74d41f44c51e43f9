// header-pass: how fast a check lists a mailbox. A private Dovecot serves N
// generated messages with realistic header blocks; TmsRemotePOP::UpdateInfo
// reads the size and header block of each (LIST n, TOP n 1). With
// --peer-poplib, Python's poplib does the same exchange on the same mailbox,
// its runs interleaved with ours so that both see the same machine load.
//
// With --rtt-ms M the client reaches Dovecot through a proxy that holds
// every chunk M/2 ms in each direction, as across a network: the pass is
// measured with pipelining (the default against Dovecot, which offers it)
// and once without, and with --peer-mpop the mpop POP3 client makes the same
// header pass (a filter that reads each header block and skips the message,
// so nothing is retrieved or deleted) through the same proxy.
//
// With --protocol imap the pass is ImapClient::UpdateInfo over Dovecot's IMAP
// (EXAMINE and one UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER])) on the
// same maildir, its runs interleaved with POP3 passes of that mailbox, and
// with --peer-imaplib with Python's imaplib doing the same FETCH.

#include "benchmarks.h"
#include "benchutil.h"
#include "latencyproxy.h"

#include "mail/imapclient.h"
#include "mail/pop3client.h"
#include "support/dovecotserver.h"
#include "support/messagebuilder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <stdexcept>

namespace {

constexpr int DefaultMessages = 2000;
// The first session also builds Dovecot's index; it is run once, untimed,
// and the figures are the medians of the timed runs after it.
constexpr int TimedRuns = 5;

// Messages per second of one header pass of the client.
double clientRate(RemoteMailbox &client, int expectedCount)
{
    QElapsedTimer timer;
    timer.start();
    client.UpdateInfo();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (client.Info().Count() != expectedCount)
        throw std::runtime_error(
            QStringLiteral("listed %1 of %2 messages").arg(client.Info().Count()).arg(expectedCount).toStdString());
    return expectedCount / seconds;
}

// Messages per second of one run of a Python peer script of bench/
// (peer_poplib.py, peer_imaplib.py) against the mailbox at port.
double pythonPeerRate(const QString &script, const DovecotServer &server, quint16 port)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral(MAILSIEVE_SOURCE_DIR "/bench/") + script, QStringLiteral("--port"),
                  QString::number(port), QStringLiteral("--user"), server.userName(), QStringLiteral("--password"),
                  server.password(), QStringLiteral("--runs"), QStringLiteral("1")});
    if (!python.waitForFinished(600000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        throw std::runtime_error(script.toStdString() + " failed: " + python.readAllStandardError().toStdString());
    for (const QByteArray &line : python.readAllStandardOutput().split('\n'))
        if (line.startsWith("messages_per_second "))
            return line.mid(20).toDouble();
    throw std::runtime_error(script.toStdString() + " printed no rate");
}

// Messages per second of one mpop session over the mailbox at server:port.
// Its filter reads each header block and answers 2 (skip: do not retrieve),
// and keep is on, so the mailbox is left exactly as it was.
double mpopRate(const DovecotServer &server, quint16 port, int expectedCount)
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("mpoprc"));
    QFile file(config);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the mpop configuration");
    file.write(QStringLiteral("account bench\n"
                              "host 127.0.0.1\n"
                              "port %1\n"
                              "user %2\n"
                              "password \"%3\"\n"
                              "auth user\n"
                              "tls off\n"
                              "pipelining auto\n"
                              "only_new off\n"
                              "keep on\n"
                              "filter \"cat >/dev/null; exit 2\"\n"
                              "delivery mda \"cat >/dev/null\"\n"
                              "uidls_file %4\n"
                              "timeout 120\n")
                   .arg(port)
                   .arg(server.userName(), server.password(), dir.filePath(QStringLiteral("uidls")))
                   .toUtf8());
    file.close();
    // mpop refuses a password file that others may read.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    QProcess mpop;
    QElapsedTimer timer;
    timer.start();
    mpop.start(QStringLiteral("mpop"),
               {QStringLiteral("-C"), config, QStringLiteral("--quiet"), QStringLiteral("bench")});
    if (!mpop.waitForFinished(600000) || mpop.exitStatus() != QProcess::NormalExit || mpop.exitCode() != 0)
        throw std::runtime_error("mpop failed (" + mpop.errorString().toStdString()
                                 + "): " + mpop.readAllStandardError().toStdString());
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (server.storedMessageCount() != expectedCount)
        throw std::runtime_error("mpop changed the mailbox");
    return expectedCount / seconds;
}

// The IMAP pass beside the POP3 pass of the same maildir (and imaplib's).
int imapHeaderPass(const DovecotServer &server, int count, int timedRuns, int rttMs, bool withImaplib)
{
    QTextStream err(stderr);
    // A proxy before each protocol's port: both passes cross the same delay.
    std::unique_ptr<LatencyProxy> imapProxy;
    std::unique_ptr<LatencyProxy> popProxy;
    if (rttMs > 0) {
        imapProxy = std::make_unique<LatencyProxy>(server.imapPort(), rttMs / 2);
        popProxy = std::make_unique<LatencyProxy>(server.port(), rttMs / 2);
        if (!imapProxy->start() || !popProxy->start()) {
            err << "header-pass: the latency proxy found no free port" << Qt::endl;
            return 1;
        }
    }

    ImapClient imap;
    server.logInImap(imap);
    imap.setTimeOut(120);
    TmsRemotePOP pop;
    server.logIn(pop);
    pop.setTimeOut(120);
    QList<double> imapRates;
    QList<double> popRates;
    QList<double> peerRates;
    try {
        clientRate(imap, count); // warm-up, straight to the server
        clientRate(pop, count);
        if (rttMs > 0) {
            imap.setServer(imapProxy->server());
            pop.setServer(popProxy->server());
        }
        const quint16 imapPort = imapProxy ? imapProxy->port() : server.imapPort();
        for (int run = 0; run < timedRuns; ++run) {
            imapRates << clientRate(imap, count);
            popRates << clientRate(pop, count);
            if (withImaplib)
                peerRates << pythonPeerRate(QStringLiteral("peer_imaplib.py"), server, imapPort);
        }
    } catch (const std::exception &error) { // the clients' errors and our own
        err << "header-pass: " << QString::fromUtf8(error.what()) << Qt::endl;
        return 1;
    }
    const double rate = bench::median(imapRates);
    const double popRate = bench::median(popRates);

    bench::printFigure(QStringLiteral("header_pass.messages"), count, QStringLiteral("msg"));
    if (rttMs > 0)
        bench::printFigure(QStringLiteral("header_pass.added_rtt"), rttMs, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("header_pass.imap_messages_per_second"), rate, QStringLiteral("msg/s"));
    bench::printFigure(QStringLiteral("header_pass.pop3_messages_per_second"), popRate, QStringLiteral("msg/s"));
    bench::printFigure(QStringLiteral("header_pass.imap_vs_pop3"), rate / popRate, QStringLiteral("x"), 2);
    bench::printFigure(QStringLiteral("header_pass.peak_memory"), bench::peakMemoryMiB(), QStringLiteral("MiB"), 1);
    if (withImaplib) {
        const double peer = bench::median(peerRates);
        bench::printFigure(QStringLiteral("header_pass.imaplib_messages_per_second"), peer, QStringLiteral("msg/s"));
        bench::printFigure(QStringLiteral("header_pass.ratio_vs_imaplib"), rate / peer, QStringLiteral("x"), 2);
    }
    return 0;
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
    const bool withMpop = args.contains(QStringLiteral("--peer-mpop"));
    const bool withImaplib = args.contains(QStringLiteral("--peer-imaplib"));
    const QString protocol = bench::textOption(args, QStringLiteral("--protocol")).value_or(QStringLiteral("pop3"));
    const bool imap = protocol == QLatin1String("imap");
    if (!imap && protocol != QLatin1String("pop3")) {
        err << "header-pass: --protocol is pop3 or imap" << Qt::endl;
        return 2;
    }
    if (imap ? withPoplib || withMpop : withImaplib) {
        err << "header-pass: --peer-poplib and --peer-mpop go with POP3, --peer-imaplib with --protocol imap"
            << Qt::endl;
        return 2;
    }
    const int rttMs = bench::intOption(args, QStringLiteral("--rtt-ms")).value_or(0);
    // A pass without pipelining costs a round trip per command: fewer runs.
    const int timedRuns = bench::intOption(args, QStringLiteral("--runs")).value_or(rttMs > 0 ? 3 : TimedRuns);
    if (timedRuns <= 0) {
        err << "header-pass: --runs needs a positive number" << Qt::endl;
        return 2;
    }

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
    if (imap) {
        if (server.imapPort() == 0) {
            err << "header-pass: Dovecot's IMAP server is not installed (Debian package dovecot-imapd)" << Qt::endl;
            return 1;
        }
        return imapHeaderPass(server, count, timedRuns, rttMs, withImaplib);
    }
    std::unique_ptr<LatencyProxy> proxy;
    if (rttMs > 0) {
        proxy = std::make_unique<LatencyProxy>(server.port(), rttMs / 2);
        if (!proxy->start()) {
            err << "header-pass: the latency proxy found no free port" << Qt::endl;
            return 1;
        }
    }

    TmsRemotePOP pop;
    server.logIn(pop);
    pop.setTimeOut(120);
    QList<double> rates;
    QList<double> peerRates;
    QList<double> mpopRates;
    double unpipelined = 0;
    try {
        clientRate(pop, count); // warm-up, straight to the server
        if (proxy)
            pop.setServer(proxy->server());
        const quint16 port = proxy ? proxy->port() : server.port();
        for (int run = 0; run < timedRuns; ++run) {
            rates << clientRate(pop, count);
            if (withPoplib)
                peerRates << pythonPeerRate(QStringLiteral("peer_poplib.py"), server, port);
            if (withMpop)
                mpopRates << mpopRate(server, port, count);
        }
        if (proxy) {
            pop.setPipeliningAllowed(false);
            unpipelined = clientRate(pop, count);
        }
    } catch (const std::exception &error) { // the client's errors and our own
        err << "header-pass: " << QString::fromUtf8(error.what()) << Qt::endl;
        return 1;
    }
    const double rate = bench::median(rates);

    bench::printFigure(QStringLiteral("header_pass.messages"), count, QStringLiteral("msg"));
    if (proxy)
        bench::printFigure(QStringLiteral("header_pass.added_rtt"), rttMs, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("header_pass.messages_per_second"), rate, QStringLiteral("msg/s"));
    bench::printFigure(QStringLiteral("header_pass.peak_memory"), bench::peakMemoryMiB(), QStringLiteral("MiB"), 1);
    if (proxy) {
        bench::printFigure(QStringLiteral("header_pass.unpipelined_messages_per_second"), unpipelined,
                           QStringLiteral("msg/s"), 1);
        bench::printFigure(QStringLiteral("header_pass.pipelining_speedup"), rate / unpipelined, QStringLiteral("x"),
                           1);
    }
    if (withPoplib) {
        const double peer = bench::median(peerRates);
        bench::printFigure(QStringLiteral("header_pass.poplib_messages_per_second"), peer, QStringLiteral("msg/s"));
        bench::printFigure(QStringLiteral("header_pass.ratio_vs_poplib"), rate / peer, QStringLiteral("x"), 2);
    }
    if (withMpop) {
        const double peer = bench::median(mpopRates);
        bench::printFigure(QStringLiteral("header_pass.mpop_messages_per_second"), peer, QStringLiteral("msg/s"));
        bench::printFigure(QStringLiteral("header_pass.ratio_vs_mpop"), rate / peer, QStringLiteral("x"), 2);
    }
    return 0;
}
