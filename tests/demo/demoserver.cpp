// mailsieve-demo-server: serves the *.eml files of one folder, in file-name
// order, on 127.0.0.1 for scripts/demo. Over POP3 it keeps them in memory,
// so deletions last as long as the process. Over IMAP a private Dovecot
// serves them from a maildir: INBOX holds them, and its Junk folder takes the
// spam Mailsieve moves there. Without --protocol it speaks IMAP when
// Dovecot's IMAP server is installed, else POP3.
//
// Once it listens it prints what a client needs, one value a line:
// "PROTOCOL pop3|imap", "USER <name>", "PASSWORD <text>" and last
// "PORT <n>". It serves until SIGTERM or SIGINT, and then stops Dovecot
// and removes its folder.

#include "support/dovecotserver.h"
#include "support/scriptedpop3server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <optional>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

int quitPipe[2] = {-1, -1};

void requestQuit(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &byte, 1);
}

// A terminating signal ends the event loop instead of the process, so that
// the servers' destructors run: a private Dovecot is stopped and its
// temporary folder removed. Only write() is safe inside a signal handler;
// the event loop reads its byte.
bool quitOnTermination(QCoreApplication &app)
{
    if (::pipe2(quitPipe, O_CLOEXEC) != 0)
        return false;
    auto *notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = requestQuit;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

// The raw messages of the folder's *.eml files in file-name order; nothing
// (with the reason on err) when one cannot be read or there are none.
std::optional<QList<QByteArray>> readMessages(const QDir &folder, QTextStream &err)
{
    QList<QByteArray> messages;
    for (const QString &name : folder.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "cannot read " << file.fileName() << ": " << file.errorString() << Qt::endl;
            return std::nullopt;
        }
        messages << file.readAll();
    }
    if (messages.isEmpty()) {
        err << "no .eml files in " << folder.path() << Qt::endl;
        return std::nullopt;
    }
    return messages;
}

void announce(const QString &protocol, const QString &user, const QString &password, quint16 port)
{
    QTextStream out(stdout);
    out << "PROTOCOL " << protocol << '\n'
        << "USER " << user << '\n'
        << "PASSWORD " << password << '\n'
        << "PORT " << port << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves a folder of .eml files over POP3 or IMAP on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption mailboxOption(QStringLiteral("mailbox"), QStringLiteral("Folder of .eml files."),
                                           QStringLiteral("folder"));
    const QCommandLineOption protocolOption(
        QStringLiteral("protocol"),
        QStringLiteral("pop3, imap (needs Dovecot's IMAP server) or auto: imap when that is installed."),
        QStringLiteral("protocol"), QStringLiteral("auto"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("POP3 port; 0 picks a free one."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("POP3 user name."),
                                        QStringLiteral("name"), QStringLiteral("demo"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("POP3 password."),
                                            QStringLiteral("password"), QStringLiteral("demo"));
    parser.addOptions({mailboxOption, protocolOption, portOption, userOption, passwordOption});
    parser.process(app);

    const QString protocol = parser.value(protocolOption).toLower();
    const bool imap =
        protocol == QLatin1String("imap") || (protocol == QLatin1String("auto") && DovecotServer::imapAvailable());
    // Dovecot chooses its own free port and has its own user and password.
    const bool popOnlyOptions = parser.isSet(portOption) || parser.isSet(userOption) || parser.isSet(passwordOption);
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!parser.isSet(mailboxOption) || !portOk || port > 65535
        || !QStringList{QStringLiteral("auto"), QStringLiteral("pop3"), QStringLiteral("imap")}.contains(protocol)
        || (imap && popOnlyOptions)) {
        err << "usage: mailsieve-demo-server --mailbox <folder> [--protocol auto|pop3|imap] [--port <n>] "
               "[--user <name>] [--password <text>] (port, user and password for POP3 only)"
            << Qt::endl;
        return 2;
    }
    if (imap && !DovecotServer::imapAvailable()) {
        err << "cannot serve IMAP: Dovecot's IMAP server is not installed (Debian packages dovecot-core and "
               "dovecot-imapd)"
            << Qt::endl;
        return 1;
    }

    const std::optional<QList<QByteArray>> messages = readMessages(QDir(parser.value(mailboxOption)), err);
    if (!messages)
        return 1;
    if (!quitOnTermination(app)) {
        err << "cannot catch the termination signals" << Qt::endl;
        return 1;
    }

    if (imap) {
        DovecotServer dovecot;
        dovecot.addMessages(*messages);
        if (!dovecot.start()) {
            err << "cannot start Dovecot: " << dovecot.errorString() << Qt::endl;
            return 1;
        }
        announce(QStringLiteral("imap"), dovecot.userName(), dovecot.password(), dovecot.imapPort());
        return app.exec();
    }
    ScriptedPop3Server server;
    server.setCredentials(parser.value(userOption), parser.value(passwordOption));
    server.setMessages(*messages);
    if (!server.listen(quint16(port))) {
        err << "cannot listen on 127.0.0.1:" << port << Qt::endl;
        return 1;
    }
    announce(QStringLiteral("pop3"), parser.value(userOption), parser.value(passwordOption), server.port());
    return app.exec();
}
