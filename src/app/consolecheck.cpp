#include "app/consolecheck.h"

#include "app/deletion.h"
#include "app/deletionlog.h"
#include "app/filelearning.h"
#include "app/programcore.h"
#include "app/programfolder.h"
#include "app/toolkitoptions.h"
#include "learning/cluetext.h"
#include "learning/messagefiles.h"

#include "mail/printabletext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// --delete deleted the marked messages, and then the mailbox could not be
// listed again.
constexpr int kListingFailedStatus = 3;

struct ConsoleRequest
{
    int mailbox = 0; // 0: the stored default mailbox
    bool adHoc = false; // --server/--user: a mailbox that is not stored
    bool deleteMarked = false; // --delete
    MailboxLogin login;
};

// Fields joined by tabs. Most fields come from outside (header fields,
// server replies, file names, option values), so every control character
// in them, tabs and line breaks included, becomes a space: each message
// stays one line, the separators stay the only tabs, and nothing reaches
// the terminal as an escape sequence.
QString consoleLine(const QStringList &fields)
{
    QStringList printable;
    printable.reserve(fields.size());
    for (const QString &field : fields)
        printable << printableText(field);
    return printable.join(QLatin1Char('\t'));
}

QStringList rowFields(int index, const MessageEntry &row)
{
    return {QString::number(index),
            QString::number(static_cast<int>(row.Mark)),
            row.Size,
            row.Sender,
            row.Subject,
            row.Date};
}

// Standard output and standard error; every line goes out through consoleLine.
class ConsoleOutput
{
public:
    ConsoleOutput(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

    void print(const QStringList &fields) { m_out << consoleLine(fields) << '\n'; }
    void error(const QString &text) { m_err << consoleLine({QStringLiteral("mailsieve: ") + text}) << '\n'; }
    void warning(const QString &text) { error(QStringLiteral("warning: ") + text); }
    // A wrong command line: the reason, then how the program is called.
    void usageError(const QString &text)
    {
        error(text);
        m_err << "usage: mailsieve [--check [--mailbox N | --server HOST[:PORT] --user NAME"
                 " [--security CHOICE] [--protocol pop3|imap] [--folder F]] [--delete]]\n"
                 "       mailsieve --sign-in N\n"
                 "       mailsieve --learn|--unlearn spam|ham PATH... | --classify PATH...\n"
                 "       mailsieve --help | --version\n";
    }
    // Standard output first, so a later error line follows the rows.
    void flush() { m_out.flush(); }

private:
    QTextStream &m_out;
    QTextStream &m_err;
};

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QString::fromLatin1(
            "Mailsieve lists the messages waiting in a POP3 or IMAP mailbox and marks the spam among them.\n"
            "Without arguments, or with only Qt's own options such as -session or -style, it opens\n"
            "its window. With --check it checks one mailbox without a window, using the stored\n"
            "settings and rules, and prints one line per message:\n"
            "  row<TAB>mark<TAB>size<TAB>sender<TAB>subject<TAB>date\n"
            "(row from 0; mark -1 none, 0 delete, 1 possible spam, 2 exception, 3 known spammer),\n"
            "then the totals line. Exit status 0 after a check, 1 when it failed (the error on\n"
            "standard error), 2 for wrong options, 3 when --delete deleted the marked messages\n"
            "but the mailbox could not be listed again. With --server and --user it checks a\n"
            "mailbox that is not stored; the password comes from the environment variable ")
        + PasswordVariable
        + QStringLiteral(".\n"
                         "With --delete the marked messages are then deleted without a question and logged,\n"
                         "followed by the number deleted (once the server committed the deletions) and the\n"
                         "totals of the mailbox listed again.\n"
                         "With --sign-in N it signs stored mailbox N in with OAuth 2.0: it prints the address of\n"
                         "the provider's sign-in page (and opens it in the desktop's browser when there is one),\n"
                         "waits for the sign-in and keeps the grant for later checks.\n"
                         "With --learn spam|ham PATH... it teaches the learner the messages under each PATH (a\n"
                         "message file, a folder of them, a maildir or an mbox file; only header blocks are read)\n"
                         "and prints how many it learnt; --unlearn takes them back. With --classify PATH... it\n"
                         "prints one line per message:\n"
                         "  message<TAB>score<TAB>verdict<TAB>clues\n"
                         "(the score from 0.0000 to 1.0000, the verdict spam, unsure or ham, and the five\n"
                         "strongest clues)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("check"), QStringLiteral("Check one mailbox without a window.")});
    parser.addOption({QStringLiteral("mailbox"),
                      QStringLiteral("The stored mailbox to check, 1 to 12 (default: the default mailbox)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("server"), QStringLiteral("Check this POP3 server instead of a stored mailbox."),
                      QStringLiteral("HOST[:PORT]")});
    parser.addOption({QStringLiteral("user"), QStringLiteral("The user name on --server."), QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("security"),
                      QStringLiteral("How to protect the connection to --server: SSL/TLS (the default), "
                                     "STARTTLS or None."),
                      QStringLiteral("CHOICE")});
    parser.addOption({QStringLiteral("protocol"),
                      QStringLiteral("The protocol --server speaks: pop3 (the default) or imap."),
                      QStringLiteral("pop3|imap")});
    parser.addOption({QStringLiteral("folder"),
                      QStringLiteral("The IMAP folder to check on --server (default INBOX); spam is moved to the "
                                     "server's Junk folder."),
                      QStringLiteral("F")});
    parser.addOption(
        {QStringLiteral("delete"), QStringLiteral("Delete the marked messages after the check, without a question.")});
    parser.addOption({QStringLiteral("sign-in"),
                      QStringLiteral("Sign stored mailbox N in with OAuth 2.0 in a browser."), QStringLiteral("N")});
    parser.addOption({QStringLiteral("learn"), QStringLiteral("Teach the learner the messages under each PATH."),
                      QStringLiteral("spam|ham")});
    parser.addOption({QStringLiteral("unlearn"), QStringLiteral("Take back what the messages under each PATH taught."),
                      QStringLiteral("spam|ham")});
    parser.addOption({QStringLiteral("classify"), QStringLiteral("Print the learner's verdict on each message.")});
}

// The options of these names as they were typed: "-x" or "--x", without
// any "=value".
QStringList typedOptions(const QStringList &arguments, const QStringList &names)
{
    QStringList typed;
    for (const QString &name : names) {
        QString spelling = QStringLiteral("--") + name;
        for (const QString &argument : arguments.mid(1)) {
            const QString option = argument.section(QLatin1Char('='), 0, 0);
            if (option == QLatin1Char('-') + name || option == spelling) {
                spelling = option;
                break;
            }
        }
        typed << spelling;
    }
    return typed;
}

QString unknownOptionsText(const QStringList &typed)
{
    return (typed.size() == 1 ? QStringLiteral("Unknown option: ") : QStringLiteral("Unknown options: "))
           + typed.join(QStringLiteral(", ")) + QLatin1Char('.');
}

// The number of a stored mailbox given as an option's value; 0 when it is not one.
int mailboxNumber(const QString &value)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok && number >= 1 && number <= kMailboxCount ? number : 0;
}

// The option's value read by fromName into choice when it is set; false with
// the usage problem for a value it does not know.
template <typename Choice>
bool readChoice(const QCommandLineParser &parser, const QString &option,
                std::optional<Choice> (*fromName)(const QString &), Choice &choice, const QString &choices,
                QString &problem)
{
    if (!parser.isSet(option))
        return true;
    const std::optional<Choice> value = fromName(parser.value(option));
    if (!value) {
        problem = QStringLiteral("--%1 takes %2").arg(option, choices);
        return false;
    }
    choice = *value;
    return true;
}

// The request the options make, or the usage error.
std::optional<ConsoleRequest> readRequest(const QCommandLineParser &parser, QString &problem)
{
    ConsoleRequest request;
    request.deleteMarked = parser.isSet(QStringLiteral("delete"));
    if (!parser.positionalArguments().isEmpty()) {
        problem = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
        return std::nullopt;
    }
    if (!parser.isSet(QStringLiteral("check"))) {
        problem = QStringLiteral("nothing to do: use --check or --help");
        return std::nullopt;
    }
    const bool server = parser.isSet(QStringLiteral("server"));
    const bool user = parser.isSet(QStringLiteral("user"));
    if (server != user) {
        problem = QStringLiteral("--server and --user go together");
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("mailbox"))) {
        if (server) {
            problem = QStringLiteral("--mailbox cannot be combined with --server");
            return std::nullopt;
        }
        request.mailbox = mailboxNumber(parser.value(QStringLiteral("mailbox")));
        if (request.mailbox == 0) {
            problem = QStringLiteral("--mailbox takes a number from 1 to %1").arg(kMailboxCount);
            return std::nullopt;
        }
    }
    if (server) {
        request.adHoc = true;
        request.login.server = parser.value(QStringLiteral("server"));
        request.login.user = parser.value(QStringLiteral("user"));
        request.login.password = qEnvironmentVariable(qPrintable(PasswordVariable));
        if (!readChoice(parser, QStringLiteral("security"), mailSecurityFromName, request.login.security,
                        QStringLiteral("SSL/TLS, STARTTLS or None"), problem)
            || !readChoice(parser, QStringLiteral("protocol"), mailProtocolFromName, request.login.protocol,
                           QStringLiteral("pop3 or imap"), problem))
            return std::nullopt;
        if (parser.isSet(QStringLiteral("folder"))) {
            if (request.login.protocol != MailProtocol::Imap) {
                problem = QStringLiteral("--folder goes with --protocol imap");
                return std::nullopt;
            }
            request.login.folder = imapFolderOrInbox(parser.value(QStringLiteral("folder")));
        }
    } else {
        for (const QString &option :
             {QStringLiteral("security"), QStringLiteral("protocol"), QStringLiteral("folder")}) {
            if (parser.isSet(option)) {
                problem = QStringLiteral("--%1 goes with --server; a stored mailbox has its own").arg(option);
                return std::nullopt;
            }
        }
    }
    return request;
}

// --delete: the delete pass as automatic mode runs it, then the number
// deleted (as soon as the server committed the pass) and the totals of the
// mailbox listed again.
int deleteMarked(ProgramCore &core, CheckCycle &cycle, ConsoleCheckView &view, DeletionLog &log, ConsoleOutput &console,
                 DelayTimers *timers)
{
    DeletionHooks hooks;
    hooks.saveGeneralSettings = [&] {
        if (core.settings.SaveSettings(core.store))
            return true;
        console.error(QStringLiteral("the spam counter was not stored: ") + core.store.errorString());
        return false;
    };
    bool committed = false;
    hooks.committed = [&](int deleted) {
        committed = true;
        console.print({DeletionPass::deletedText(deleted)});
        console.flush();
    };
    hooks.timers = timers;
    DeletionPass deletion(cycle, core.clients, core.list, core.settings, view, log, nullptr, hooks);
    const bool deleted = deletion.DeleteMessages();
    for (const QString &warning : view.takeWarnings())
        console.warning(warning);
    if (!deleted) {
        console.error(view.errorText());
        return committed ? kListingFailedStatus : 1;
    }
    console.print({CheckCycle::totalCountText(core.list.count(), core.list.markedCount())});
    return 0;
}

// The program's folder and objects, loaded as the window loads them; what
// could not be read is a warning.
std::unique_ptr<ProgramCore> loadProgram(ConsoleOutput &console)
{
    const QString folder = programFolder();
    seedProgramFolder(folder, shippedDataFolders());
    auto core = std::make_unique<ProgramCore>(folder);
    core->useDesktopKeyring();
    for (const QString &warning : core->load())
        console.warning(warning);
    return core;
}

// The desktop's browser, when there is a desktop to show it on.
bool openDesktopBrowser(const QUrl &url)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

// --sign-in N: the browser sign-in of a stored OAuth 2.0 mailbox.
int signIn(const QCommandLineParser &parser, ConsoleOutput &console)
{
    const QStringList others = {QStringLiteral("check"),  QStringLiteral("mailbox"),  QStringLiteral("server"),
                                QStringLiteral("user"),   QStringLiteral("security"), QStringLiteral("protocol"),
                                QStringLiteral("folder"), QStringLiteral("delete")};
    for (const QString &other : others) {
        if (parser.isSet(other)) {
            console.usageError(QStringLiteral("--sign-in cannot be combined with --%1").arg(other));
            return 2;
        }
    }
    const int mailbox = mailboxNumber(parser.value(QStringLiteral("sign-in")));
    if (mailbox == 0) {
        console.usageError(QStringLiteral("--sign-in takes a number from 1 to %1").arg(kMailboxCount));
        return 2;
    }
    const std::unique_ptr<ProgramCore> program = loadProgram(console);
    ProgramCore &core = *program;
    const MailboxLogin login = GetRemotePOPSettings(core.store, mailbox);
    if (login.server.isEmpty() || login.user.isEmpty()) {
        console.error(QStringLiteral("mailbox %1 is not set up").arg(mailbox));
        return 1;
    }
    if (!isOAuth(login.signIn)) {
        console.error(QStringLiteral("mailbox %1 signs in with \"%2\", not OAuth 2.0")
                          .arg(QString::number(mailbox), signInMethodName(login.signIn)));
        return 1;
    }
    const SignInResult result = core.signIn(login, [&console](const QUrl &url) {
        console.print({QStringLiteral("To sign in, open this address in a browser:")});
        console.print({url.toString(QUrl::FullyEncoded)});
        console.flush();
        openDesktopBrowser(url);
        return true;
    });
    if (!result.ok) {
        console.error(result.error);
        return 1;
    }
    console.print(
        {QStringLiteral("Signed in to mailbox %1 (%2 at %3)").arg(QString::number(mailbox), login.user, login.server)});
    return 0;
}

// The five strongest clues of a verdict, either way, in words.
QString strongestClues(const Classification &verdict)
{
    QList<Clue> clues = verdict.spamClues + verdict.hamClues;
    std::stable_sort(clues.begin(), clues.end(), [](const Clue &a, const Clue &b) {
        return std::abs(a.probability - 0.5) > std::abs(b.probability - 0.5);
    });
    QStringList texts;
    for (const Clue &clue : clues.mid(0, ChiSquare::ShownClues))
        texts << clueText(clue) + QStringLiteral(" ") + QString::number(clue.probability, 'f', 3);
    return texts.join(QStringLiteral("; "));
}

int classifyFiles(MessageLearner &learner, const QStringList &paths, ConsoleOutput &console)
{
    if (!learner.givesVerdicts())
        console.warning(QStringLiteral("the learner has not learnt %1 spam and %1 good messages yet: its scores "
                                       "mean little and the program gives no verdict")
                            .arg(Learner::MinimumMessages));
    const auto problem = [&console](const QString &text) { console.warning(text); };
    const auto print = [&](const MessageFileEntry &entry) {
        const TmsHeaders headers = storedHeaderLines(entry.headerBlock);
        if (headers.isEmpty()) {
            problem(entry.name + QStringLiteral(": no header lines, skipped"));
            return;
        }
        const Classification verdict = learner.classify(headers, QString(), learner.cutoffs());
        const QString verdictText = verdict.verdict == Verdict::Spam  ? QStringLiteral("spam")
                                    : verdict.verdict == Verdict::Ham ? QStringLiteral("ham")
                                                                      : QStringLiteral("unsure");
        console.print({entry.name, QString::number(verdict.score, 'f', 4), verdictText, strongestClues(verdict)});
    };
    bool allRead = true;
    for (const QString &path : paths)
        allRead = readMessageFiles(path, print, problem) && allRead;
    return allRead ? 0 : 1;
}

// --learn, --unlearn and --classify.
int learningCommand(const QCommandLineParser &parser, ConsoleOutput &console)
{
    const QStringList paths = parser.positionalArguments();
    const bool classify = parser.isSet(QStringLiteral("classify"));
    const QString option = parser.isSet(QStringLiteral("learn")) ? QStringLiteral("learn") : QStringLiteral("unlearn");
    const int commands =
        int(classify) + int(parser.isSet(QStringLiteral("learn"))) + int(parser.isSet(QStringLiteral("unlearn")));
    const QString labelName = parser.value(option);
    if (commands > 1 || parser.isSet(QStringLiteral("check"))) {
        console.usageError(QStringLiteral("--learn, --unlearn, --classify and --check go one at a time"));
        return 2;
    }
    if (!classify && labelName != QLatin1String("spam") && labelName != QLatin1String("ham")) {
        console.usageError(QStringLiteral("--%1 takes spam or ham").arg(option));
        return 2;
    }
    if (paths.isEmpty()) {
        console.usageError(QStringLiteral("name at least one message file, folder or mbox file"));
        return 2;
    }
    const std::unique_ptr<ProgramCore> program = loadProgram(console);
    MessageLearner &learner = program->learner;
    if (classify)
        return classifyFiles(learner, paths, console);
    const Label label = labelName == QLatin1String("spam") ? Label::Spam : Label::Ham;
    const bool unlearn = option == QLatin1String("unlearn");
    const LearningRun result =
        learnFromFiles(learner, paths, label, unlearn, [&console](const QString &text) { console.warning(text); });
    if (!result.ok) {
        console.error(QStringLiteral("nothing was learnt"));
        return 1;
    }
    const QString count = QString::number(result.learned);
    const QString total = QString::number(result.messages);
    console.print({unlearn ? QStringLiteral("Unlearned %1 of %2 messages as %3").arg(count, total, labelName)
                           : QStringLiteral("Learned %1 of %2 messages as %3 (%4 learnt before or classified right "
                                            "already)")
                                 .arg(count, total, labelName, QString::number(result.alreadyKnown))});
    return 0;
}

} // namespace

QString consoleRowLine(int index, const MessageEntry &row)
{
    return consoleLine(rowFields(index, row));
}

bool wantsConsole(const QStringList &arguments)
{
    return withoutToolkitOptions(arguments).size() > 1;
}

int runConsoleCheck(const QStringList &allArguments, QTextStream &out, QTextStream &err, DelayTimers *timers)
{
    ConsoleOutput console(out, err);
    const QStringList arguments = withoutToolkitOptions(allArguments);
    QCommandLineParser parser;
    // "-bogus" is one option, not the letters b, o, g, u and s.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    describeOptions(parser);
    if (!parser.parse(arguments)) {
        const QStringList unknown = typedOptions(arguments, parser.unknownOptionNames());
        console.usageError(unknown.isEmpty() ? parser.errorText() : unknownOptionsText(unknown));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    if (parser.isSet(QStringLiteral("sign-in")))
        return signIn(parser, console);
    if (parser.isSet(QStringLiteral("learn")) || parser.isSet(QStringLiteral("unlearn"))
        || parser.isSet(QStringLiteral("classify")))
        return learningCommand(parser, console);
    QString problem;
    const std::optional<ConsoleRequest> request = readRequest(parser, problem);
    if (!request) {
        console.usageError(problem);
        return 2;
    }

    const std::unique_ptr<ProgramCore> program = loadProgram(console);
    ProgramCore &core = *program;

    ConsoleCheckView view;
    DeletionLog log(core.settings);
    log.onError = [&console](const QString &message) { console.warning(message); };
    CheckHooks hooks = core.checkHooks();
    hooks.journal = &log;
    QStringList saveErrors;
    hooks.saveRules = [&] { saveErrors = core.saveRules(); };
    if (request->adHoc)
        hooks.loadMailbox = [login = request->login](int) { return login; };
    // No browser is opened for a check: the user signs in on purpose.
    hooks.offerSignIn = [&view](int n, const QString &message) {
        view.showError(message + QStringLiteral(": run mailsieve --sign-in %1").arg(n));
    };
    CheckCycle cycle(core.clients, core.list, core.settings, view, hooks);
    // Nobody is in the tray to swallow errors for: every failure is reported.
    cycle.startInTray = false;
    const int mailbox = request->mailbox ? request->mailbox : core.settings.defaultMailbox;
    cycle.currentMailbox = mailbox;

    const bool checked = cycle.checkMailbox(mailbox);
    for (const QString &warning : view.takeWarnings())
        console.warning(warning);
    if (!checked) {
        console.error(view.errorText());
        return 1;
    }
    for (int row = 0; row < core.list.count(); ++row)
        console.print(rowFields(row, core.list.entry(row)));
    console.print({CheckCycle::totalCountText(core.list.count(), core.list.markedCount())});
    console.flush();
    if (!saveErrors.isEmpty()) {
        console.error(QStringLiteral("the rule hit counters were not stored: ")
                      + saveErrors.join(QStringLiteral("; ")));
        return 1;
    }
    return request->deleteMarked ? deleteMarked(core, cycle, view, log, console, timers) : 0;
}
