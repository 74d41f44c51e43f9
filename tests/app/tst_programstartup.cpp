// What start-up relies on: the program's folder and its seeding from the
// shipped data, the removal of downloaded messages, the single-instance
// guard, and the Date column of the message list.

#include "app/messagelist.h"
#include "app/programfolder.h"
#include "app/singleinstance.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Writes the file, making the folders it needs.
void placeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(writeFile(path, bytes));
}

} // namespace

class TestProgramStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void folderComesFromTheEnvironment();
    void seedingCopiesOnlyWhatIsMissing();
    void removesEveryDownloadedMessageAndNothingElse();
    void secondInstanceAsksTheFirstToShowItself();
    void dateColumn_data();
    void dateColumn();
};

void TestProgramStartup::folderComesFromTheEnvironment()
{
    QTemporaryDir dir;
    const QString home = dir.path() + QStringLiteral("/not/yet/there");
    qputenv("MAILSIEVE_HOME", home.toUtf8());
    QCOMPARE(programFolder(), QDir::cleanPath(home));
    QVERIFY(QFileInfo(home).isDir());
    QCOMPARE(programFile(QStringLiteral("known.lst")), QDir::cleanPath(home) + QStringLiteral("/known.lst"));
}

void TestProgramStartup::seedingCopiesOnlyWhatIsMissing()
{
    QTemporaryDir shipped, system, home;
    placeFile(shipped.filePath(QStringLiteral("known.lst")), "shipped@spam.example\r\n");
    placeFile(shipped.filePath(QStringLiteral("harptune.wav")), "RIFF");
    placeFile(shipped.filePath(QStringLiteral("help/index.html")), "<h1>Help</h1>");
    placeFile(shipped.filePath(QStringLiteral("icons/check.png")), "png");
    placeFile(system.filePath(QStringLiteral("known.lst")), "older@spam.example\r\n");
    placeFile(system.filePath(QStringLiteral("mailsieve.hlp")), "help");
    // The user's own list is never replaced.
    placeFile(home.filePath(QStringLiteral("known.lst")), "mine@spam.example\r\n");

    QCOMPARE(seedProgramFolder(home.path(), {shipped.path(), system.path()}), QStringList());
    QCOMPARE(readFile(home.filePath(QStringLiteral("known.lst"))), QByteArray("mine@spam.example\r\n"));
    QCOMPARE(readFile(home.filePath(QStringLiteral("harptune.wav"))), QByteArray("RIFF"));
    QCOMPARE(readFile(home.filePath(QStringLiteral("help/index.html"))), QByteArray("<h1>Help</h1>"));
    QCOMPARE(readFile(home.filePath(QStringLiteral("mailsieve.hlp"))), QByteArray("help"));
    QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("icons"))));

    // Removed by the user later: seeded again from the first folder that has it.
    QVERIFY(QFile::remove(home.filePath(QStringLiteral("known.lst"))));
    QCOMPARE(seedProgramFolder(home.path(), {shipped.path(), system.path()}), QStringList());
    QCOMPARE(readFile(home.filePath(QStringLiteral("known.lst"))), QByteArray("shipped@spam.example\r\n"));
}

void TestProgramStartup::removesEveryDownloadedMessageAndNothingElse()
{
    QTemporaryDir home;
    const QStringList gone = {QStringLiteral("msg_0.eml"), QStringLiteral("msg_100.eml"), QStringLiteral("msg_4711.eml")};
    const QStringList kept = {QStringLiteral("msg_.eml"), QStringLiteral("msg_1.eml.bak"), QStringLiteral("msg_x1.eml"),
                              QStringLiteral("known.lst")};
    for (const QString &name : gone + kept)
        placeFile(home.filePath(name), "x");

    removeDownloadedMessages(home.path());
    for (const QString &name : gone)
        QVERIFY2(!QFileInfo::exists(home.filePath(name)), qPrintable(name));
    for (const QString &name : kept)
        QVERIFY2(QFileInfo::exists(home.filePath(name)), qPrintable(name));
}

void TestProgramStartup::secondInstanceAsksTheFirstToShowItself()
{
    QTemporaryDir home, other;
    SingleInstance first(home.path());
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::activationRequested);

    SingleInstance second(home.path());
    QVERIFY(!second.claim());
    QTRY_COMPARE(shown.count(), 1);

    // Another program folder is another program.
    SingleInstance elsewhere(other.path());
    QVERIFY(elsewhere.claim());
}

void TestProgramStartup::dateColumn_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("column");
    QTest::newRow("full") << QStringLiteral("Sat, 05 Jun 1999 10:22:05 -0400") << QStringLiteral("6/5/99 10:22:05 AM");
    QTest::newRow("zone not applied") << QStringLiteral("Tue, 2 Jan 2024 23:59:59 +1400")
                                      << QStringLiteral("1/2/24 11:59:59 PM");
    QTest::newRow("midnight") << QStringLiteral("5 Jun 99 00:00:00 GMT") << QStringLiteral("6/5/99");
    QTest::newRow("unreadable") << QStringLiteral("next Tuesday") << QStringLiteral("next Tuesday");
    QTest::newRow("impossible day") << QStringLiteral("31 Feb 2001 10:00") << QStringLiteral("31 Feb 2001 10:00");
    QTest::newRow("empty") << QString() << QString();
}

void TestProgramStartup::dateColumn()
{
    QFETCH(QString, header);
    QFETCH(QString, column);
    QCOMPARE(dateColumnText(header), column);
}

QTEST_GUILESS_MAIN(TestProgramStartup)
#include "tst_programstartup.moc"
