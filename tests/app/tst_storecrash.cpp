// The built program killed (SIGKILL) at seeded points of "mailsieve --check"
// and of "mailsieve --check --delete" against a private Dovecot, over POP3
// and IMAP on one maildir: the message store is still a sound database, the
// next check lists exactly what the server holds, and no message the rules
// do not mark was ever deleted. Two checks at once on one store end without
// damage either.

#include "app/appfixture.h"
#include "support/builtprogram.h"
#include "support/dovecotserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <array>

using namespace appfixture;

namespace {

// A mailbox big enough that a check spends a while on the store, small
// enough that each run takes a fraction of a second.
constexpr int kMessages = 120;
constexpr int kPop3Mailbox = 1;
constexpr int kImapMailbox = 2;
constexpr int kRunTimeoutMs = 60000;

bool marked(int number)
{
    return isMarkedForDeletion(markOf(number));
}

struct Finished
{
    int exitCode = -1;
    QStringList rows; // the row lines, without the totals line
    QString err;
};

} // namespace

class TestStoreCrash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void killedAtSeededPoints_data();
    void killedAtSeededPoints();
    void twoChecksAtOnce_data();
    void twoChecksAtOnce();

private:
    QStringList arguments(int mailbox, bool deleteMarked) const;
    std::unique_ptr<QProcess> start(const QStringList &arguments) const;
    Finished finish(QProcess &process) const;
    // The milliseconds an undisturbed run of these arguments takes.
    qint64 runLength(const QStringList &arguments);
    // Puts back the marked messages a delete pass took, so every pass has some.
    void restoreMarkedMessages();
    // The rows of a check are the server's messages, in its order.
    void verifyListing(const Finished &check) const;
    // A check alone lists the mailbox with the store's help: no warning
    // about the store, which did open and take the check.
    void verifyCheckWithStore(int mailbox) const;
    // The store is a database whose every page is sound.
    void verifyStoreIsSound() const;
    void verifyOnlyMarkedWereDeleted() const;

    DovecotServer m_dovecot;
    QTemporaryDir m_home;
    QString m_program;
    QHash<QString, qint64> m_runLengths;
};

void TestStoreCrash::initTestCase()
{
    m_program = builtProgramPath();
    QVERIFY2(!m_program.isEmpty(), "the mailsieve program is not built");
    m_dovecot.addMessages(mailbox(kMessages));
    MS_START_DOVECOT(m_dovecot);
    if (m_dovecot.imapPort() == 0)
        QSKIP("Dovecot's IMAP server is not installed");
    qputenv("MAILSIEVE_HOME", QFile::encodeName(m_home.path()));
    storeRules(m_home.path());
    storeSettings([this](GeneralSettings &settings) {
        storeMailbox(settings, kPop3Mailbox, m_dovecot.server(), m_dovecot.userName(), m_dovecot.password());
        storeMailbox(settings, kImapMailbox, m_dovecot.imapServer(), m_dovecot.userName(), m_dovecot.password());
        settings.mailboxes[kImapMailbox - 1].protocol = MailProtocol::Imap;
        settings.mailboxes[kImapMailbox - 1].removal = SpamRemoval::Delete;
        for (MailboxConfig &mailbox : settings.mailboxes)
            mailbox.keepPasswordInFile = true;
    });
}

QStringList TestStoreCrash::arguments(int mailbox, bool deleteMarked) const
{
    QStringList list{QStringLiteral("--check"), QStringLiteral("--mailbox"), QString::number(mailbox)};
    if (deleteMarked)
        list << QStringLiteral("--delete");
    return list;
}

std::unique_ptr<QProcess> TestStoreCrash::start(const QStringList &arguments) const
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MAILSIEVE_HOME"), m_home.path());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // No desktop session: the passwords are in the settings file.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + m_home.filePath(QStringLiteral("no-bus")));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    process->setProcessEnvironment(env);
    process->start(m_program, arguments);
    return process;
}

Finished TestStoreCrash::finish(QProcess &process) const
{
    Finished finished;
    if (!process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        finished.err = QStringLiteral("did not end");
        return finished;
    }
    finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    finished.rows = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    finished.err = QString::fromUtf8(process.readAllStandardError());
    if (!finished.rows.isEmpty())
        finished.rows.removeLast(); // the totals line
    return finished;
}

qint64 TestStoreCrash::runLength(const QStringList &arguments)
{
    const QString key = arguments.join(QLatin1Char(' '));
    if (!m_runLengths.contains(key)) {
        QElapsedTimer clock;
        clock.start();
        const auto process = start(arguments);
        const Finished run = finish(*process);
        m_runLengths[key] = clock.elapsed();
        if (run.exitCode != 0)
            qWarning("undisturbed run of %s: %s", qPrintable(key), qPrintable(run.err));
    }
    return m_runLengths.value(key);
}

void TestStoreCrash::restoreMarkedMessages()
{
    const QList<int> present = numbersIn(m_dovecot.storedMessages());
    for (int number = 1; number <= kMessages; ++number)
        if (marked(number) && !present.contains(number))
            m_dovecot.addMessage(messageText(number));
}

void TestStoreCrash::verifyListing(const Finished &check) const
{
    QVERIFY2(check.exitCode == 0, qPrintable(check.err));
    const QList<int> numbers = numbersIn(m_dovecot.storedMessages());
    QCOMPARE(check.rows.size(), numbers.size());
    for (qsizetype row = 0; row < numbers.size(); ++row)
        QCOMPARE(check.rows[row].section(QLatin1Char('\t'), 4, 4), subjectOf(numbers[row]));
}

void TestStoreCrash::verifyCheckWithStore(int mailbox) const
{
    const auto process = start(arguments(mailbox, false));
    const Finished check = finish(*process);
    verifyListing(check);
    QVERIFY2(!check.err.contains(QLatin1String("message store")), qPrintable(check.err));
}

void TestStoreCrash::verifyStoreIsSound() const
{
    QVERIFY2(!QFile::exists(m_home.filePath(QStringLiteral("mailsieve.db.bad"))), "the store was set aside");
    QVERIFY(QFile::exists(m_home.filePath(QStringLiteral("mailsieve.db"))));
    const QString connection = QStringLiteral("crash-test");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(m_home.filePath(QStringLiteral("mailsieve.db")));
        QVERIFY(db.open());
        QSqlQuery check(db);
        QVERIFY(check.exec(QStringLiteral("PRAGMA integrity_check")));
        QVERIFY(check.next());
        QCOMPARE(check.value(0).toString(), QStringLiteral("ok"));
    }
    QSqlDatabase::removeDatabase(connection);
}

void TestStoreCrash::verifyOnlyMarkedWereDeleted() const
{
    const QList<int> present = numbersIn(m_dovecot.storedMessages());
    for (int number = 1; number <= kMessages; ++number)
        if (!marked(number))
            QVERIFY2(present.count(number) == 1, qPrintable(subjectOf(number)));
}

void TestStoreCrash::killedAtSeededPoints_data()
{
    QTest::addColumn<int>("mailbox");
    QTest::addColumn<bool>("deleteMarked");
    QTest::addColumn<double>("point"); // of an undisturbed run's length
    // Fixed points, the same at every run of the test.
    QRandomGenerator random(22);
    const std::array<std::pair<const char *, int>, 2> protocols = {{{"POP3", kPop3Mailbox}, {"IMAP", kImapMailbox}}};
    for (int kill = 0; kill < 20; ++kill) {
        const auto &[protocol, mailbox] = protocols[kill % 2];
        const bool deleteMarked = kill % 4 >= 2;
        const double point = random.generateDouble();
        QTest::addRow("%s %s at %.2f", protocol, deleteMarked ? "delete pass" : "check", point)
            << mailbox << deleteMarked << point;
    }
}

void TestStoreCrash::killedAtSeededPoints()
{
    QFETCH(int, mailbox);
    QFETCH(bool, deleteMarked);
    QFETCH(double, point);
    restoreMarkedMessages();
    const QStringList killed = arguments(mailbox, deleteMarked);
    const auto delay = int(point * double(runLength(killed)));
    restoreMarkedMessages();

    const auto process = start(killed);
    QVERIFY(process->waitForStarted(kRunTimeoutMs));
    if (!process->waitForFinished(delay))
        process->kill(); // SIGKILL
    process->waitForFinished(kRunTimeoutMs);

    verifyCheckWithStore(mailbox);
    if (QTest::currentTestFailed())
        return;
    verifyStoreIsSound();
    if (QTest::currentTestFailed())
        return;
    verifyOnlyMarkedWereDeleted();
}

void TestStoreCrash::twoChecksAtOnce_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<bool>("newStore"); // both start where there is no file yet
    QTest::newRow("POP3 and IMAP") << kPop3Mailbox << kImapMailbox << false;
    QTest::newRow("POP3 twice") << kPop3Mailbox << kPop3Mailbox << false;
    QTest::newRow("IMAP twice") << kImapMailbox << kImapMailbox << false;
    QTest::newRow("POP3 and IMAP, new store") << kPop3Mailbox << kImapMailbox << true;
}

void TestStoreCrash::twoChecksAtOnce()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(bool, newStore);
    if (newStore)
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(m_home.filePath(QStringLiteral("mailsieve.db") + QLatin1String(suffix)));
    const auto one = start(arguments(first, false));
    const auto other = start(arguments(second, false));
    verifyListing(finish(*one));
    if (QTest::currentTestFailed())
        return;
    verifyListing(finish(*other));
    if (QTest::currentTestFailed())
        return;
    verifyStoreIsSound();
    if (QTest::currentTestFailed())
        return;
    verifyCheckWithStore(first);
}

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "tst_storecrash.moc"
