// second-check: what a check costs once the program has seen the mailbox. A
// private Dovecot serves N generated messages; the program checks it three
// times through a proxy that counts the bytes each way: the first check
// (nothing known yet), a second one with nothing new, and a third after one
// message arrived. Each check is a "mailsieve --check" of the stored default
// mailbox, the console check path in a process of its own (this program run
// as "run-check") with a program folder in a temporary folder, so the store
// file is real and each process's peak memory is its check's alone. A check
// of an empty mailbox gives the memory of the program without messages. The
// program folders hold the rule set and known list of the rules benchmark.
//
// Dovecot builds its index at the first session on a maildir; that session
// is run beforehand, straight to the server and uncounted, so the first
// check is not charged for the server's own first-time work.

#include "benchmarks.h"
#include "benchutil.h"
#include "latencyproxy.h"

#include "app/consolecheck.h"
#include "mail/imapclient.h"
#include "mail/pop3client.h"
#include "support/dovecotserver.h"
#include "support/messagebuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <stdexcept>

namespace {

constexpr int DefaultMessages = 20000;
constexpr int CheckTimeoutMs = 30 * 60 * 1000;

// What one check process reports.
struct CheckRun
{
    double seconds = 0;
    int rows = -1;
    double peakMiB = 0;
    qint64 bytesToServer = 0;
    qint64 bytesFromServer = 0;
};

// The "NAME VALUE" lines of a run-check process.
CheckRun parseRun(const QByteArray &output)
{
    CheckRun run;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "check.seconds")
            run.seconds = fields[1].toDouble();
        else if (fields[0] == "check.rows")
            run.rows = fields[1].toInt();
        else if (fields[0] == "check.peak_memory")
            run.peakMiB = fields[1].toDouble();
    }
    return run;
}

// One check of the default mailbox stored in home, in a process of its own,
// with no desktop session to reach (the password is in the settings file).
// The proxy's counters give its bytes.
CheckRun checkInOwnProcess(const QString &home, const LatencyProxy *proxy, int expectedRows)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MAILSIEVE_HOME"), home);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + home + QStringLiteral("/no-bus"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 toServer = proxy ? proxy->bytesToServer() : 0;
    const qint64 fromServer = proxy ? proxy->bytesFromServer() : 0;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("run-check")});
    if (!child.waitForFinished(CheckTimeoutMs) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw std::runtime_error("the check failed: " + child.errorString().toStdString());
    CheckRun run = parseRun(child.readAllStandardOutput());
    if (run.rows != expectedRows)
        throw std::runtime_error(
            QStringLiteral("the check listed %1 of %2 messages").arg(run.rows).arg(expectedRows).toStdString());
    if (proxy) {
        run.bytesToServer = proxy->bytesToServer() - toServer;
        run.bytesFromServer = proxy->bytesFromServer() - fromServer;
    }
    return run;
}

// A program folder whose default mailbox is server's, reached at address,
// with the rules benchmark's rule set and known list: every check marks
// every row against rules of realistic size, as a user's would.
std::unique_ptr<QTemporaryDir> programFolderFor(const DovecotServer &server, const QString &address,
                                                MailProtocol protocol)
{
    auto home = std::make_unique<QTemporaryDir>();
    if (!home->isValid())
        throw std::runtime_error("cannot create a temporary program folder");
    bench::storeMailbox(home->filePath(QStringLiteral("mailsieve.conf")), server, address, protocol);
    if (!writeBenchRuleFiles(home->path()))
        throw std::runtime_error("cannot write the rule files");
    return home;
}

// The store's files in the program folder: the database and its write-ahead log.
qint64 storeBytes(const QString &home)
{
    qint64 bytes = 0;
    for (const QString &name : QDir(home).entryList({QStringLiteral("mailsieve.db*")}, QDir::Files))
        if (!name.endsWith(QLatin1String(".bad")))
            bytes += QFileInfo(QDir(home).filePath(name)).size();
    return bytes;
}

// One header pass straight to the server, so that Dovecot has its index.
void warmUp(const DovecotServer &server, MailProtocol protocol, int count)
{
    std::unique_ptr<RemoteMailbox> client;
    if (protocol == MailProtocol::Imap) {
        client = std::make_unique<ImapClient>();
        server.logInImap(*client);
    } else {
        auto pop = std::make_unique<TmsRemotePOP>();
        server.logIn(*pop);
        client = std::move(pop);
    }
    client->setTimeOut(600);
    client->UpdateInfo();
    if (client->Info().Count() != count)
        throw std::runtime_error("the warm-up pass did not list the whole mailbox");
}

quint16 protocolPort(const DovecotServer &server, MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? server.imapPort() : server.port();
}

QString protocolAddress(const DovecotServer &server, MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? server.imapServer() : server.server();
}

void printChecks(const CheckRun &first, const CheckRun &second, const CheckRun &third, qint64 newHeaderBytes)
{
    const auto bytes = [](const char *name, qint64 value) {
        bench::printFigure(QStringLiteral("second_check.") + QLatin1String(name), double(value), QStringLiteral("B"));
    };
    bench::printFigure(QStringLiteral("second_check.first_seconds"), first.seconds, QStringLiteral("s"), 2);
    bytes("first_bytes_from_server", first.bytesFromServer);
    bytes("first_bytes_to_server", first.bytesToServer);
    bench::printFigure(QStringLiteral("second_check.second_seconds"), second.seconds, QStringLiteral("s"), 2);
    bytes("second_bytes_from_server", second.bytesFromServer);
    bytes("second_bytes_to_server", second.bytesToServer);
    bench::printFigure(QStringLiteral("second_check.second_vs_first_time"), second.seconds / first.seconds,
                       QStringLiteral("x"), 3);
    bytes("third_bytes_from_server", third.bytesFromServer);
    bytes("third_bytes_to_server", third.bytesToServer);
    bytes("third_extra_bytes_from_server", third.bytesFromServer - second.bytesFromServer);
    bytes("new_message_header_bytes", newHeaderBytes);
}

} // namespace

int runCheckOnce()
{
    // The rows go to a file, not to memory, so the peak is the check's.
    QTemporaryDir scratch;
    QFile rows(scratch.filePath(QStringLiteral("rows.txt")));
    if (!scratch.isValid() || !rows.open(QIODevice::WriteOnly)) {
        QTextStream(stderr) << "run-check: cannot write the rows" << Qt::endl;
        return 1;
    }
    QTextStream out(&rows);
    QTextStream err(stderr);
    QElapsedTimer timer;
    timer.start();
    const int code = runConsoleCheck({QStringLiteral("mailsieve"), QStringLiteral("--check")}, out, err);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double peak = bench::peakMemoryMiB();
    out.flush();
    rows.close();
    if (code != 0)
        return code;
    // The last line is the totals line; every other one is a row.
    int count = -1;
    if (rows.open(QIODevice::ReadOnly))
        while (!rows.readLine().isEmpty())
            ++count;
    bench::printFigure(QStringLiteral("check.seconds"), seconds, QStringLiteral("s"), 4);
    bench::printFigure(QStringLiteral("check.rows"), count, QStringLiteral("msg"));
    bench::printFigure(QStringLiteral("check.peak_memory"), peak, QStringLiteral("MiB"), 2);
    return 0;
}

int runSecondCheckBench(const QStringList &args)
{
    QTextStream err(stderr);
    const int count = bench::intOption(args, QStringLiteral("--messages")).value_or(DefaultMessages);
    const auto protocol =
        mailProtocolFromName(bench::textOption(args, QStringLiteral("--protocol")).value_or(QStringLiteral("imap")));
    if (count <= 0 || !protocol) {
        err << "second-check: --messages needs a positive number, --protocol is pop3 or imap" << Qt::endl;
        return 2;
    }

    DovecotServer server;
    DovecotServer empty;
    MessageBuilder builder(20240601);
    if (!server.addMessages(count, [&builder](int i) { return builder.message(i).raw; })) {
        err << "second-check: cannot write the maildir" << Qt::endl;
        return 1;
    }
    if (!server.start() || !empty.start()) {
        err << "second-check: " << server.errorString() << empty.errorString() << Qt::endl;
        return 1;
    }
    if (*protocol == MailProtocol::Imap && server.imapPort() == 0) {
        err << "second-check: Dovecot's IMAP server is not installed (Debian package dovecot-imapd)" << Qt::endl;
        return 1;
    }
    LatencyProxy proxy(protocolPort(server, *protocol));
    if (!proxy.start()) {
        err << "second-check: the proxy found no free port" << Qt::endl;
        return 1;
    }

    try {
        warmUp(server, *protocol, count);
        const auto emptyHome = programFolderFor(empty, protocolAddress(empty, *protocol), *protocol);
        const CheckRun none = checkInOwnProcess(emptyHome->path(), nullptr, 0);

        const auto home = programFolderFor(server, proxy.server(), *protocol);
        const CheckRun first = checkInOwnProcess(home->path(), &proxy, count);
        const qint64 store = storeBytes(home->path());
        const CheckRun second = checkInOwnProcess(home->path(), &proxy, count);
        const GeneratedMessage arrived = builder.message(count);
        server.addMessage(arrived.raw);
        const CheckRun third = checkInOwnProcess(home->path(), &proxy, count + 1);

        bench::printFigure(QStringLiteral("second_check.messages"), count, QStringLiteral("msg"));
        printChecks(first, second, third, arrived.raw.indexOf("\r\n\r\n") + 4);
        bench::printFigure(QStringLiteral("second_check.first_peak_memory"), first.peakMiB, QStringLiteral("MiB"), 1);
        bench::printFigure(QStringLiteral("second_check.empty_peak_memory"), none.peakMiB, QStringLiteral("MiB"), 1);
        bench::printFigure(QStringLiteral("second_check.memory_per_message"),
                           (first.peakMiB - none.peakMiB) * 1024.0 / count, QStringLiteral("KiB"), 2);
        bench::printFigure(QStringLiteral("second_check.store_bytes_per_message"), double(store) / count,
                           QStringLiteral("B"));
    } catch (const std::exception &error) { // the clients' errors and our own
        err << "second-check: " << QString::fromUtf8(error.what()) << Qt::endl;
        return 1;
    }
    return 0;
}
