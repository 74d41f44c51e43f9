// mailsieve-demo-setup: fills the program folder named by $MAILSIEVE_HOME
// for scripts/demo: mailbox 1 on the demo server (password scrambled by the
// settings store; over IMAP its INBOX, with marked spam moved to the server's
// Junk folder), manual checking, a log file, and a handful of sample rules
// that catch the spam of the demo mailbox. Everything is written by the
// program's own store and list-file classes, so the files are exactly what
// Mailsieve itself writes.

#include "rules/knownlist.h"
#include "rules/listfiles.h"
#include "rules/rulelist.h"
#include "rules/ruletexts.h"
#include "settings/generalsettings.h"
#include "settings/settingsstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

namespace {

using namespace RuleText;

// Replaces the rule rows of a table by the given ones, each a full row of
// cells from column 0; the Hits cells start at "0".
void setRules(RuleList &table, const QList<QStringList> &rows)
{
    table.setRowCount(1 + int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c)
            table.setCell(c, r + 1, rows[r][c]);
        table.setCell(table.layout().hitsColumn, r + 1, QStringLiteral("0"));
    }
    setPicturesFromDel(table);
}

RuleSet sampleRules()
{
    RuleSet rules;
    rules.SetGridHeadings();
    // Picture, What, Matches, Case, Del?
    setRules(rules.SubjectRules, {{{}, IsUppercase, {}, {}, Yes},
                                  {{}, Contains, QStringLiteral("viagra"), No, Yes},
                                  {{}, StartsWith, QStringLiteral("ADV:"), Yes, Yes},
                                  {{}, Contains, QStringLiteral("replica"), No, Yes},
                                  {{}, ContainsWholeWord, QStringLiteral("free"), No, No},
                                  {{}, IsBlank, {}, {}, No}});
    setRules(rules.HeaderRules, {{{}, Contains, QStringLiteral("X-Mailer: MassMail"), No, Yes},
                                 {{}, Equals, QStringLiteral("Precedence: bulk"), No, No},
                                 {{}, Sender, DoesNotMatchReplyTo, No, No}});
    // Picture, What, Condition, Matches, Del?
    setRules(rules.SenderRules, {{{}, EmailAddress, AllNumeric, {}, Yes},
                                 {{}, EmailAddress, HalfNumeric, {}, No},
                                 {{}, DomainName, EndsWith, QStringLiteral(".biz"), Yes}});
    // What, Condition, Matches, Case?
    setRules(rules.ExceptionRules, {{DomainName, Equals, QStringLiteral("example-company.com"), No},
                                    {Subject, Contains, QStringLiteral("[project-x]"), No}});
    rules.sizeRules.largerEnabled = true;
    rules.sizeRules.largerLimit = 100000;
    rules.sizeRules.largerCheck = false; // big mail is only suspicious
    rules.knownListEnabled = true;
    return rules;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the demo settings into $MAILSIEVE_HOME."));
    parser.addHelpOption();
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("host:port of the demo server."),
                                          QStringLiteral("server"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("User name."), QStringLiteral("name"),
                                        QStringLiteral("demo"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("Password."),
                                            QStringLiteral("password"), QStringLiteral("demo"));
    const QCommandLineOption protocolOption(QStringLiteral("protocol"), QStringLiteral("pop3 or imap."),
                                            QStringLiteral("protocol"), QStringLiteral("pop3"));
    parser.addOptions({serverOption, userOption, passwordOption, protocolOption});
    parser.process(app);

    const QString folder = qEnvironmentVariable("MAILSIEVE_HOME");
    const std::optional<MailProtocol> protocol = mailProtocolFromName(parser.value(protocolOption));
    if (folder.isEmpty() || !parser.isSet(serverOption) || !protocol) {
        err << "usage: MAILSIEVE_HOME=<folder> mailsieve-demo-setup --server <host:port> [--user <name>] "
               "[--password <text>] [--protocol pop3|imap]"
            << Qt::endl;
        return 2;
    }
    if (!QDir().mkpath(folder)) {
        err << "cannot create " << folder << Qt::endl;
        return 1;
    }

    SettingsStore store; // $MAILSIEVE_HOME/mailsieve.conf, the file Mailsieve reads
    GeneralSettings settings;
    settings.logFile = QDir(folder).filePath(QStringLiteral("logfile.txt"));
    settings.launchAfterDelete = false; // the demo has no mail program to hand over to
    settings.defaultMailbox = 1;
    MailboxConfig &mailbox = settings.mailboxes[0];
    mailbox.server = parser.value(serverOption);
    mailbox.mailbox = parser.value(userOption);
    mailbox.password = parser.value(passwordOption);
    mailbox.security = MailSecurity::None; // the demo server speaks without TLS, on 127.0.0.1 only
    // Over IMAP the defaults show the safety net: INBOX is checked, and
    // "Delete marked messages" moves the spam to the folder the server marks
    // \Junk, where it can still be looked at.
    mailbox.protocol = *protocol;
    const ServerSaveResult saved = settings.saveServerSettings(store);
    if (!saved.ok() || !settings.SaveSettings(store)) {
        err << "cannot write the settings: " << saved.message << saved.writeError << store.errorString() << Qt::endl;
        return 1;
    }

    RuleSet rules = sampleRules();
    const RuleFilesResult written = Savesettings(rules, folder);
    if (!written.ok()) {
        err << written.errors.join(QLatin1Char('\n')) << Qt::endl;
        return 1;
    }
    // The known list is written only over an existing file.
    QFile known(QDir(folder).filePath(KnownSpammerList::fileName()));
    if (!known.open(QIODevice::WriteOnly)) {
        err << "cannot create " << known.fileName() << ": " << known.errorString() << Qt::endl;
        return 1;
    }
    known.close();
    const KnownListResult listed =
        rules.knownList.saveFromEditorText(QStringLiteral("spam-king.example\ndeals@cheap-meds.example\n"), folder);
    if (!listed.ok) {
        err << "cannot write the known spammer list: " << listed.error << Qt::endl;
        return 1;
    }
    return 0;
}
