// mailsieve-demo-server: a POP3 server on 127.0.0.1 serving the *.eml files
// of one folder, in file-name order, for scripts/demo. Prints "PORT <n>"
// once it listens and serves until it is terminated. Deletions last as long
// as the process.

#include "support/scriptedpop3server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves a folder of .eml files over POP3 on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption mailboxOption(QStringLiteral("mailbox"), QStringLiteral("Folder of .eml files."),
                                           QStringLiteral("folder"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port; 0 picks a free one."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("User name."), QStringLiteral("name"),
                                        QStringLiteral("demo"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("Password."),
                                            QStringLiteral("password"), QStringLiteral("demo"));
    parser.addOptions({mailboxOption, portOption, userOption, passwordOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!parser.isSet(mailboxOption) || !portOk || port > 65535) {
        err << "usage: mailsieve-demo-server --mailbox <folder> [--port <n>] [--user <name>] [--password <text>]"
            << Qt::endl;
        return 2;
    }

    const QDir folder(parser.value(mailboxOption));
    QList<QByteArray> messages;
    for (const QString &name : folder.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "cannot read " << file.fileName() << ": " << file.errorString() << Qt::endl;
            return 1;
        }
        messages << file.readAll();
    }
    if (messages.isEmpty()) {
        err << "no .eml files in " << folder.path() << Qt::endl;
        return 1;
    }

    ScriptedPop3Server server;
    server.setCredentials(parser.value(userOption), parser.value(passwordOption));
    server.setMessages(messages);
    if (!server.listen(quint16(port))) {
        err << "cannot listen on 127.0.0.1:" << port << Qt::endl;
        return 1;
    }
    out << "PORT " << server.port() << Qt::endl;
    return app.exec();
}
