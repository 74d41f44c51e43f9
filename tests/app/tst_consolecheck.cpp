// "mailsieve --check": the built program run without a display against a
// scripted mailbox, and the layout of its lines.

#include "app/appfixture.h"
#include "app/consolecheck.h"
#include "support/builtprogram.h"
#include "support/scriptedpop3server.h"
#include "support/testfiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <sys/resource.h>

using namespace appfixture;

Q_DECLARE_METATYPE(std::function<void(ScriptedPop3Server &)>)

namespace {

struct Run
{
    int exitCode = -1;
    QStringList out;
    QString err;
    QByteArray rawOut;
    QByteArray rawErr;
};

struct ConsoleRig
{
    QTemporaryDir home;
    ScriptedPop3Server server;

    ConsoleRig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        server.listen();
    }

    // Runs the program while this thread's event loop keeps serving the mailbox.
    Run run(const QStringList &arguments, const QString &password = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MAILSIEVE_HOME"), home.path());
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!password.isNull())
            env.insert(QStringLiteral("MAILSIEVE_PASSWORD"), password);
        process.setProcessEnvironment(env);
        process.start(builtProgramPath(), arguments);
        Run result;
        if (!process.waitForStarted(10000))
            return result;
        QElapsedTimer clock;
        clock.start();
        while (process.state() != QProcess::NotRunning && clock.elapsed() < 60000)
            QTest::qWait(10);
        if (process.state() != QProcess::NotRunning) {
            process.kill(); // hung: reported as -3
            process.waitForFinished(5000);
            result.exitCode = -3;
        } else {
            result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        }
        result.rawOut = process.readAllStandardOutput();
        result.rawErr = process.readAllStandardError();
        result.out = QString::fromUtf8(result.rawOut).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        result.err = QString::fromUtf8(result.rawErr);
        return result;
    }
};

QString expectedRow(int i)
{
    return QStringList{QString::number(i - 1),
                       QString::number(static_cast<int>(markOf(i))),
                       QString::number(ScriptedPop3Server::wireSize(messageText(i))),
                       senderOf(i),
                       subjectOf(i),
                       dateColumnOf(i)}
        .join(QLatin1Char('\t'));
}

// The bytes of the output a terminal would act on: C0 controls other than
// the tab and the line end, DEL, and C1 controls in UTF-8 (C2 80..C2 9F).
// Empty when there are none, else their offsets and values.
QString terminalControls(const QByteArray &output)
{
    QStringList found;
    for (qsizetype i = 0; i < output.size(); ++i) {
        const auto byte = static_cast<unsigned char>(output[i]);
        const bool c0 = byte < 0x20 && byte != '\t' && byte != '\n';
        const bool c1 =
            byte == 0xc2 && i + 1 < output.size() && (static_cast<unsigned char>(output[i + 1]) & 0xe0) == 0x80;
        if (c0 || byte == 0x7f || c1)
            found << QStringLiteral("%1:%2").arg(i).arg(byte, 2, 16, QLatin1Char('0'));
    }
    return found.join(QLatin1Char(' '));
}

// Escape sequences that recolour the text, ring the bell, retitle the
// terminal (OSC) and start a control sequence with the one-byte C1 CSI.
const QByteArray kHostile = "red \x1b[31mtext\x07 \x1b]0;owned\x07 csi\xc2\x9b"
                            "2J end";

} // namespace

class TestConsoleCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void rowLineKeepsEveryMessageOnOneLine();
    void checksTheStoredDefaultMailbox();
    void checksTheNamedMailbox();
    void damagedStoreIsAWarningAndReplaced();
    void checksAMailboxThatIsNotStored();
    void stoppedServerFailsWithTheErrorText();
    void refusedPasswordFailsWithTheServerLine();

    // Nothing from outside reaches the terminal as a control character.
    void hostileHeadersPrintAsSpaces();
    void hostileServerLinePrintsAsSpaces();
    void typedOptionPrintsAsSpaces();
    // A server that floods, lies or babbles ends the check by itself, in
    // bounded memory, with a status and not a signal.
    void hostileServerEndsTheCheckWithinBounds_data();
    void hostileServerEndsTheCheckWithinBounds();
    void wrongOptionsAreUsageErrors_data();
    void wrongOptionsAreUsageErrors();
    // Qt's own options (a session manager's -session) leave the window be;
    // an unknown option is named as it was typed.
    void onlyOurOptionsSelectTheConsole_data();
    void onlyOurOptionsSelectTheConsole();
    void unknownOptionIsNamedAsTyped_data();
    void unknownOptionIsNamedAsTyped();
    void checkIgnoresToolkitOptions();
    void helpDescribesTheCheck();
    void learnsAndClassifiesMessageFiles();
    void manPageListsEveryExitStatus();
};

void TestConsoleCheck::initTestCase()
{
    QVERIFY2(!builtProgramPath().isEmpty(), "the mailsieve program is not built");
}

void TestConsoleCheck::rowLineKeepsEveryMessageOnOneLine()
{
    MessageEntry row;
    row.Subject = QStringLiteral("Two\tparts\r\nand a line");
    row.Sender = QStringLiteral("a@b.example");
    row.Size = QStringLiteral("1234");
    row.Date = QStringLiteral("raw\ndate\u2028x");
    row.Mark = MarkState::KnownSpammer;
    QCOMPARE(consoleRowLine(7, row), QStringLiteral("7\t3\t1234\ta@b.example\tTwo parts  and a line\traw date x"));
    row.Sender = QStringLiteral("\x1b]0;t\x07"
                                "a@b\u009b");
    QVERIFY(consoleRowLine(7, row).contains(QStringLiteral("\t ]0;t a@b \t")));
    row.Mark = MarkState::None;
    QVERIFY(consoleRowLine(0, row).startsWith(QStringLiteral("0\t-1\t")));
}

void TestConsoleCheck::checksTheStoredDefaultMailbox()
{
    ConsoleRig rig;
    rig.server.setMessages(mailbox(20));
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });
    storeRules(rig.home.path());

    const Run run = rig.run({QStringLiteral("--check")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QStringList expected;
    for (int i = 1; i <= 20; ++i)
        expected << expectedRow(i);
    expected << QStringLiteral("Message Total: 20 Number Marked: 6");
    QCOMPARE(run.out, expected);
    QCOMPARE(rig.server.committedSessions(), 1);
}

void TestConsoleCheck::damagedStoreIsAWarningAndReplaced()
{
    ConsoleRig rig;
    rig.server.setMessages(mailbox(3));
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });
    storeRules(rig.home.path());
    QFile damaged(rig.home.filePath(QStringLiteral("mailsieve.db")));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a database");
    damaged.close();

    const QStringList expected = {expectedRow(1), expectedRow(2), expectedRow(3),
                                  QStringLiteral("Message Total: 3 Number Marked: 0")};
    const Run first = rig.run({QStringLiteral("--check")});
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(first.out, expected);
    QVERIFY2(first.err.startsWith(QStringLiteral("mailsieve: warning: The message store "))
                 && first.err.contains(QStringLiteral("mailsieve.db.bad")),
             qPrintable(first.err));
    // The next check finds a sound store and says nothing.
    const Run second = rig.run({QStringLiteral("--check")});
    QCOMPARE(second.err, QString());
    QCOMPARE(second.out, expected);
}

void TestConsoleCheck::checksTheNamedMailbox()
{
    ConsoleRig rig;
    ScriptedPop3Server second;
    second.setCredentials(QStringLiteral("two"), QStringLiteral("pw two"));
    second.setMessages(mailbox(2));
    QVERIFY(second.listen());
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
        storeMailbox(s, 3, second.address(), QStringLiteral("two"), QStringLiteral("pw two"));
    });

    const Run run = rig.run({QStringLiteral("--check"), QStringLiteral("--mailbox"), QStringLiteral("3")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.size(), 3);
    QCOMPARE(run.out.last(), QStringLiteral("Message Total: 2 Number Marked: 0"));
    QCOMPARE(rig.server.connectionCount(), 0);
}

void TestConsoleCheck::checksAMailboxThatIsNotStored()
{
    ConsoleRig rig;
    rig.server.setCredentials(QStringLiteral("adhoc"), QStringLiteral("from env"));
    rig.server.setMessages(mailbox(1));

    const Run run =
        rig.run({QStringLiteral("--check"), QStringLiteral("--server"), rig.server.address(), QStringLiteral("--user"),
                 QStringLiteral("adhoc"), QStringLiteral("--security"), QStringLiteral("None")},
                QStringLiteral("from env"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, (QStringList{expectedRow(1), QStringLiteral("Message Total: 1 Number Marked: 0")}));
    QVERIFY(rig.server.commands().contains(QStringLiteral("PASS from env")));
}

void TestConsoleCheck::stoppedServerFailsWithTheErrorText()
{
    ConsoleRig rig;
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });
    rig.server.stopListening();

    const Run run = rig.run({QStringLiteral("--check")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(QStringLiteral("refused"), Qt::CaseInsensitive), qPrintable(run.err));
}

void TestConsoleCheck::refusedPasswordFailsWithTheServerLine()
{
    ConsoleRig rig;
    rig.server.setMessages(mailbox(2));
    rig.server.failAt(QStringLiteral("PASS"), "-ERR invalid password");
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });

    const Run run = rig.run({QStringLiteral("--check")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.isEmpty());
    QCOMPARE(run.err, "mailsieve: The server refused the password for user at " + rig.server.address()
                          + ": -ERR invalid password\n");
}

void TestConsoleCheck::hostileHeadersPrintAsSpaces()
{
    ConsoleRig rig;
    QList<QByteArray> messages = mailbox(2);
    messages << MessageBuilder::assemble(
        {"From: \"Evil\" <evil@example.org>",
         "Subject: " + kHostile + " =?utf-8?Q?enc=C2=9B=1B=07oded?=", "Date: Sat, 05 Jun 1999 10:22:05 -0400\x1b[5m"},
        {"body"});
    rig.server.setMessages(messages);
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });

    const Run run = rig.run({QStringLiteral("--check")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(terminalControls(run.rawOut).isEmpty(), qPrintable(terminalControls(run.rawOut)));
    QVERIFY2(terminalControls(run.rawErr).isEmpty(), qPrintable(terminalControls(run.rawErr)));
    QCOMPARE(run.out.size(), 4);
    QCOMPARE(run.out[0], expectedRow(1));
    for (const QString &line : run.out.mid(0, 3))
        QCOMPARE(line.count(QLatin1Char('\t')), 5);
    const QStringList hostile = run.out[2].split(QLatin1Char('\t'));
    QCOMPARE(hostile[0], QStringLiteral("2"));
    QVERIFY2(hostile[4].startsWith(QStringLiteral("red  [31mtext   ]0;owned  csi")), qPrintable(hostile[4]));
    QVERIFY2(hostile[4].endsWith(QStringLiteral("enc   oded")), qPrintable(hostile[4]));
    QCOMPARE(run.out[3], QStringLiteral("Message Total: 3 Number Marked: 0"));
}

void TestConsoleCheck::hostileServerLinePrintsAsSpaces()
{
    ConsoleRig rig;
    rig.server.failAt(QStringLiteral("PASS"), "-ERR " + kHostile + "\x1b[?1049h");
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });

    const Run run = rig.run({QStringLiteral("--check")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.rawOut.isEmpty());
    QVERIFY2(terminalControls(run.rawErr).isEmpty(), qPrintable(terminalControls(run.rawErr)));
    QVERIFY2(run.err.startsWith("mailsieve: The server refused the password for user at " + rig.server.address()
                                + ": -ERR red  [31mtext   ]0;owned  csi"),
             qPrintable(run.err));
    QVERIFY2(run.err.endsWith(QStringLiteral(" end [?1049h\n")), qPrintable(run.err));
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
}

void TestConsoleCheck::hostileServerEndsTheCheckWithinBounds_data()
{
    using Script = std::function<void(ScriptedPop3Server &)>;
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("error"); // empty: the check lists the mailbox
    QTest::newRow("a billion messages claimed")
        << Script([](ScriptedPop3Server &server) { server.failAt(QStringLiteral("STAT"), "+OK 1000000000 5000"); })
        << QStringLiteral("mailsieve: -ERR no such message\n");
    QTest::newRow("endless header block") << Script([](ScriptedPop3Server &server) {
        server.endlessAt(QStringLiteral("TOP 1 1"), "+OK", "X-Spam: yes\r\n");
    }) << QStringLiteral("mailsieve: The server sent a data block of more than 64 MiB\n");
    QTest::newRow("three 50 MB header blocks") << Script([](ScriptedPop3Server &server) {
        for (const char *top : {"TOP 1 1", "TOP 2 1", "TOP 3 1"})
            server.endlessAt(QLatin1String(top), "+OK", "X-Padding: \x1b[31m\x07\r\n", 50'000'000, "\r\n.\r\n");
    }) << QStringLiteral("");
    QTest::newRow("endless capability list") << Script([](ScriptedPop3Server &server) {
        server.endlessAt(QStringLiteral("CAPA"), "+OK", "X-\x1b]0;FEATURE\x07\r\n");
    }) << QStringLiteral("mailsieve: The server sent a data block of more than 64 KiB\n");
    QTest::newRow("10 MB status line") << Script([](ScriptedPop3Server &server) {
        server.replyAt(QStringLiteral("STAT"), "+OK " + QByteArray(10'000'000, '\x1b') + "\r\n");
    }) << QStringLiteral("mailsieve: Reply line too long (<server>)\n");
    QTest::newRow("random bytes") << Script([](ScriptedPop3Server &server) {
        QRandomGenerator random(1207);
        QByteArray noise(4096, Qt::Uninitialized);
        for (char &c : noise)
            c = char(random.bounded(256));
        server.replyAndCloseAt(QStringLiteral("TOP 2 1"), "+OK\r\n" + noise);
    }) << QStringLiteral("mailsieve: Connection closed by the server (<server>)\n");
}

void TestConsoleCheck::hostileServerEndsTheCheckWithinBounds()
{
    QFETCH(std::function<void(ScriptedPop3Server &)>, script);
    QFETCH(QString, error);
    ConsoleRig rig;
    rig.server.setMessages({messageText(1), messageText(2), messageText(3)});
    script(rig.server);
    const Run run =
        rig.run({QStringLiteral("--check"), QStringLiteral("--server"), rig.server.address(), QStringLiteral("--user"),
                 rig.server.user(), QStringLiteral("--security"), QStringLiteral("None")},
                rig.server.password());
    QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 1);
    QCOMPARE(run.err, error.replace(QStringLiteral("<server>"), rig.server.address()));
    if (error.isEmpty())
        QCOMPARE(run.out.size(), 4); // three rows and the totals
    QVERIFY2(terminalControls(run.rawOut).isEmpty(), qPrintable(terminalControls(run.rawOut)));
    QVERIFY2(terminalControls(run.rawErr).isEmpty(), qPrintable(terminalControls(run.rawErr)));
    // The largest of every program run so far, this one included.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const qint64 peakBytes = qint64(usage.ru_maxrss) * 1024;
    QVERIFY2(peakBytes < 300 * 1024 * 1024, qPrintable(QString::number(peakBytes)));
}

void TestConsoleCheck::typedOptionPrintsAsSpaces()
{
    ConsoleRig rig;
    const Run run = rig.run({QStringLiteral("--check"), QStringLiteral("--bo\x1b]0;owned\x07gus\u009b")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(terminalControls(run.rawErr).isEmpty(), qPrintable(terminalControls(run.rawErr)));
    // One error line whatever the option holds, then the usage lines.
    const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines[0].contains(QStringLiteral("bo ]0;owned gus ")), qPrintable(run.err));
    QVERIFY2(lines[1].startsWith(QStringLiteral("usage: ")), qPrintable(run.err));
}

void TestConsoleCheck::wrongOptionsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("mailbox 13") << QStringList{QStringLiteral("--check"), QStringLiteral("--mailbox"),
                                               QStringLiteral("13")};
    QTest::newRow("mailbox word") << QStringList{QStringLiteral("--check"), QStringLiteral("--mailbox"),
                                                 QStringLiteral("two")};
    QTest::newRow("server without user") << QStringList{QStringLiteral("--check"), QStringLiteral("--server"),
                                                        QStringLiteral("h")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--check"), QStringLiteral("--bogus")};
    // Without --check too: no window opens (without a display it would abort).
    QTest::newRow("unknown option alone") << QStringList{QStringLiteral("--bogus")};
    QTest::newRow("stray argument") << QStringList{QStringLiteral("--check"), QStringLiteral("inbox")};
    QTest::newRow("delete without check") << QStringList{QStringLiteral("--delete")};
    QTest::newRow("sign-in 13") << QStringList{QStringLiteral("--sign-in"), QStringLiteral("13")};
    QTest::newRow("sign-in with check") << QStringList{QStringLiteral("--sign-in"), QStringLiteral("1"),
                                                       QStringLiteral("--check")};
}

void TestConsoleCheck::wrongOptionsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    ConsoleRig rig;
    const Run run = rig.run(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.startsWith(QStringLiteral("mailsieve: ")));
    QVERIFY2(run.err.contains(QStringLiteral("\nusage: mailsieve [--check")), qPrintable(run.err));
    QCOMPARE(rig.server.connectionCount(), 0);
}

void TestConsoleCheck::onlyOurOptionsSelectTheConsole_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("console");
    QTest::newRow("none") << QStringList{} << false;
    QTest::newRow("session restart") << QStringList{QStringLiteral("-session"), QStringLiteral("1234abcd_5678")}
                                     << false;
    QTest::newRow("style") << QStringList{QStringLiteral("-style"), QStringLiteral("fusion")} << false;
    QTest::newRow("platform") << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb")} << false;
    QTest::newRow("two dashes and =") << QStringList{QStringLiteral("--style=fusion"), QStringLiteral("-reverse")}
                                      << false;
    QTest::newRow("session without its value") << QStringList{QStringLiteral("-session")} << true;
    QTest::newRow("check") << QStringList{QStringLiteral("--check")} << true;
    QTest::newRow("check after a toolkit option")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("--check")} << true;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus")} << true;
    QTest::newRow("flag with a value") << QStringList{QStringLiteral("-reverse=1")} << true;
}

void TestConsoleCheck::onlyOurOptionsSelectTheConsole()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, console);
    QCOMPARE(wantsConsole(QStringList{QStringLiteral("mailsieve")} + arguments), console);
}

void TestConsoleCheck::unknownOptionIsNamedAsTyped_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("two dashes") << QStringList{QStringLiteral("--bogus")}
                                << QStringLiteral("mailsieve: Unknown option: --bogus.");
    QTest::newRow("one dash") << QStringList{QStringLiteral("--check"), QStringLiteral("-session")}
                              << QStringLiteral("mailsieve: Unknown option: -session.");
    QTest::newRow("with a value") << QStringList{QStringLiteral("--check"), QStringLiteral("--bogus=1")}
                                  << QStringLiteral("mailsieve: Unknown option: --bogus.");
    QTest::newRow("several") << QStringList{QStringLiteral("-x"), QStringLiteral("--check"), QStringLiteral("--why")}
                             << QStringLiteral("mailsieve: Unknown options: -x, --why.");
}

void TestConsoleCheck::unknownOptionIsNamedAsTyped()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    QCOMPARE(runConsoleCheck(QStringList{QStringLiteral("mailsieve")} + arguments, out, err), 2);
    err.flush();
    QCOMPARE(errText.section(QLatin1Char('\n'), 0, 0), error);
    QVERIFY(outText.isEmpty());
}

void TestConsoleCheck::checkIgnoresToolkitOptions()
{
    ConsoleRig rig;
    rig.server.setMessages(mailbox(2));
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 1, rig.server.address(), rig.server.user(), rig.server.password());
    });
    const Run run = rig.run({QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--check"),
                             QStringLiteral("-platform"), QStringLiteral("offscreen")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.last(), QStringLiteral("Message Total: 2 Number Marked: 0"));
}

void TestConsoleCheck::helpDescribesTheCheck()
{
    ConsoleRig rig;
    const Run run = rig.run({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    const QString text = run.out.join(QLatin1Char('\n'));
    for (const char *option : {"--check", "--mailbox", "--server", "--user", "MAILSIEVE_PASSWORD"})
        QVERIFY2(text.contains(QLatin1String(option)), option);
}

// Twenty spam and twenty good messages in two folders of .eml files teach
// the learner enough to judge; learning them again teaches nothing.
void TestConsoleCheck::learnsAndClassifiesMessageFiles()
{
    ConsoleRig rig;
    QDir home(rig.home.path());
    for (const char *kind : {"spam", "ham"}) {
        QVERIFY(home.mkdir(QLatin1String(kind)));
        for (int i = 0; i < 20; ++i) {
            const QByteArray n = QByteArray::number(i);
            const QByteArray from = qstrcmp(kind, "spam") == 0 ? "\"Promo\" <deal" + n + "@promo" + n + ".example>"
                                                               : "\"Colleague\" <c" + n + "@work.example>";
            const QByteArray subject = qstrcmp(kind, "spam") == 0 ? "save big today " + n : "meeting notes " + n;
            QVERIFY(writeFile(home.filePath(QStringLiteral("%1/%2.eml").arg(QLatin1String(kind)).arg(i)),
                              "From: " + from + "\nSubject: " + subject + "\nTo: me@home.example\n\nbody\n"));
        }
    }
    const QString spam = home.filePath(QStringLiteral("spam"));
    const QString ham = home.filePath(QStringLiteral("ham"));
    const QStringList learnt = {QStringLiteral("Learned 20 of 20 messages as spam (0 learnt before or classified "
                                               "right already)"),
                                QStringLiteral("Learned 20 of 20 messages as ham (0 learnt before or classified "
                                               "right already)"),
                                QStringLiteral("Learned 0 of 20 messages as spam (20 learnt before or classified "
                                               "right already)")};
    QCOMPARE(rig.run({QStringLiteral("--learn"), QStringLiteral("spam"), spam}).out, QStringList{learnt[0]});
    QCOMPARE(rig.run({QStringLiteral("--learn"), QStringLiteral("ham"), ham}).out, QStringList{learnt[1]});
    QCOMPARE(rig.run({QStringLiteral("--learn"), QStringLiteral("spam"), spam}).out, QStringList{learnt[2]});

    const Run run = rig.run({QStringLiteral("--classify"), spam + QStringLiteral("/3.eml"),
                             ham + QStringLiteral("/3.eml"), home.filePath(QStringLiteral("none"))});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out.size(), 2);
    const QStringList spamLine = run.out[0].split(u'\t');
    QCOMPARE(spamLine.mid(0, 1), QStringList{spam + QStringLiteral("/3.eml")});
    QVERIFY2(spamLine.size() == 4 && spamLine[1].toDouble() >= 0.9 && spamLine[2] == "spam"
                 && spamLine[3].contains("(seen in 20 spam, 0 ham)"),
             qPrintable(run.out[0]));
    QCOMPARE(run.out[1].section(u'\t', 2, 2), QStringLiteral("ham"));
    QVERIFY2(run.err.contains(QStringLiteral("none")), qPrintable(run.err));
}

void TestConsoleCheck::manPageListsEveryExitStatus()
{
    const QString page = QString::fromUtf8(readFile(QStringLiteral(MAILSIEVE_DATA_DIR "/man/mailsieve.1")));
    const QString section =
        page.section(QStringLiteral(".SH EXIT STATUS\n"), 1).section(QStringLiteral("\n.SH "), 0, 0);
    QStringList listed;
    const QStringList lines = section.split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i - 1] == QLatin1String(".TP"))
            listed << lines[i];
    }
    // 0 done, 1 failed, 2 wrong options, 3 deleted but not listed again.
    QCOMPARE(listed, (QStringList{QStringLiteral(".B 0"), QStringLiteral(".B 1"), QStringLiteral(".B 2"),
                                  QStringLiteral(".B 3")}));
}

QTEST_GUILESS_MAIN(TestConsoleCheck)
#include "tst_consolecheck.moc"
