// scripts/demo end to end, as `scripts/run --demo --check` runs it: the demo
// server and program folder of this build, and a console check of them.

#include "rules/markstate.h"
#include "support/dovecotserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

struct DemoRun
{
    int exitCode = -1;
    QString out;
    QString err;
    QString programFolder; // kept by MAILSIEVE_DEMO_KEEP=1; removed by the test
};

int demoMessageCount()
{
    const QDir demo(QStringLiteral(MAILSIEVE_DATA_DIR "/demo"));
    return int(demo.entryList({QStringLiteral("*.eml")}, QDir::Files).size());
}

// scripts/demo against the build this test belongs to, with the given
// MAILSIEVE_DEMO_PROTOCOL and arguments for Mailsieve.
DemoRun runDemo(const QString &protocol, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MAILSIEVE_BUILD"),
                       QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).canonicalPath());
    environment.insert(QStringLiteral("MAILSIEVE_DEMO_PROTOCOL"), protocol);
    environment.insert(QStringLiteral("MAILSIEVE_DEMO_KEEP"), QStringLiteral("1"));
    QProcess demo;
    demo.setProcessEnvironment(environment);
    demo.start(QStringLiteral(MAILSIEVE_SOURCE_DIR "/scripts/demo"), arguments);
    DemoRun run;
    if (!demo.waitForFinished(180000)) {
        demo.kill();
        demo.waitForFinished();
        run.err = QStringLiteral("scripts/demo did not finish");
        return run;
    }
    run.exitCode = demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -1;
    run.out = QString::fromUtf8(demo.readAllStandardOutput());
    run.err = QString::fromUtf8(demo.readAllStandardError());
    run.programFolder =
        QRegularExpression(QStringLiteral("^demo: program folder kept in (.*)$"), QRegularExpression::MultilineOption)
            .match(run.out)
            .captured(1);
    return run;
}

// The marks of the printed message rows ("index<TAB>mark<TAB>size...").
QList<int> printedMarks(const QString &out)
{
    QList<int> marks;
    static const QRegularExpression row(QStringLiteral("^\\d+\\t(-?\\d+)\\t"), QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(out); it.hasNext();)
        marks << it.next().captured(1).toInt();
    return marks;
}

qsizetype countDeletionMarks(const QList<int> &marks)
{
    return std::count_if(marks.begin(), marks.end(),
                         [](int mark) { return isMarkedForDeletion(static_cast<MarkState>(mark)); });
}

QString fileText(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void popDemoListsAndMarksEveryMessage();
    void imapDemoListsAndMarksEveryMessage();
    void imapDemoMovesTheMarkedSpamToJunk();

private:
    DemoRun m_run;
};

void TestDemo::init()
{
    m_run = {};
}

void TestDemo::cleanup()
{
    if (!m_run.programFolder.isEmpty())
        QDir(QFileInfo(m_run.programFolder).path()).removeRecursively();
}

void TestDemo::popDemoListsAndMarksEveryMessage()
{
    m_run = runDemo(QStringLiteral("pop3"), {QStringLiteral("--check")});
    QVERIFY2(m_run.exitCode == 0, qPrintable(m_run.out + m_run.err));
    QVERIFY2(m_run.out.contains(QLatin1String("demo: POP3 mailbox 127.0.0.1:")), qPrintable(m_run.out));
    const QList<int> marks = printedMarks(m_run.out);
    QCOMPARE(marks.size(), demoMessageCount());
    QVERIFY(countDeletionMarks(marks) > 0);
}

void TestDemo::imapDemoListsAndMarksEveryMessage()
{
    if (!DovecotServer::imapAvailable() && !DovecotServer::required())
        QSKIP("Dovecot's IMAP server is not installed");
    m_run = runDemo(QStringLiteral("imap"), {QStringLiteral("--check")});
    QVERIFY2(m_run.exitCode == 0, qPrintable(m_run.out + m_run.err));
    QVERIFY2(m_run.out.contains(QLatin1String("demo: IMAP mailbox 127.0.0.1:")), qPrintable(m_run.out));
    // The same messages and rules give the same marks as over POP3.
    const QList<int> imapMarks = printedMarks(m_run.out);
    cleanup();
    m_run = runDemo(QStringLiteral("pop3"), {QStringLiteral("--check")});
    QVERIFY2(m_run.exitCode == 0, qPrintable(m_run.out + m_run.err));
    QCOMPARE(imapMarks, printedMarks(m_run.out));
}

void TestDemo::imapDemoMovesTheMarkedSpamToJunk()
{
    if (!DovecotServer::imapAvailable() && !DovecotServer::required())
        QSKIP("Dovecot's IMAP server is not installed");
    m_run = runDemo(QStringLiteral("imap"), {QStringLiteral("--check"), QStringLiteral("--delete")});
    QVERIFY2(m_run.exitCode == 0, qPrintable(m_run.out + m_run.err));
    const qsizetype marked = countDeletionMarks(printedMarks(m_run.out));
    QVERIFY(marked > 0);
    QVERIFY2(m_run.out.contains(QStringLiteral("There were %1 messages deleted").arg(marked)), qPrintable(m_run.out));
    // INBOX, listed again, has lost exactly those...
    QVERIFY2(m_run.out.contains(QStringLiteral("Message Total: %1 ").arg(demoMessageCount() - marked)),
             qPrintable(m_run.out));
    // ... and the log says where each went.
    QVERIFY(!m_run.programFolder.isEmpty());
    const QString log = fileText(m_run.programFolder + QStringLiteral("/logfile.txt"));
    QCOMPARE(log.count(QLatin1String("   Moved to: Junk")), marked);
}

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
