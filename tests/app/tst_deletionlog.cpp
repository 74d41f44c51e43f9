// The log file: the layout of every line, the locale's date and time, the
// appending, control characters from message headers, a file that cannot
// be opened, and deletion records that cannot be written.

#include "app/deletionlog.h"
#include "app/messagelist.h"
#include "settings/generalsettings.h"
#include "support/testfiles.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime kWhen(QDate(2024, 3, 5), QTime(14, 7, 30));

struct LogRig
{
    QTemporaryDir dir;
    GeneralSettings settings;
    DeletionLog log{settings};
    QStringList errors;

    LogRig()
    {
        settings.logFile = dir.filePath(QStringLiteral("logfile.txt"));
        log.now = [] { return kWhen; };
        log.onError = [this](const QString &message) { errors << message; };
    }

    QByteArray contents() const { return readFile(settings.logFile); }
};

MessageEntry row(const QString &subject, const QString &sender, const QString &size, const QString &date)
{
    MessageEntry entry;
    entry.Subject = subject;
    entry.Sender = sender;
    entry.Size = size;
    entry.Date = date;
    return entry;
}

} // namespace

class TestDeletionLog : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::system()); }

    void datesFollowTheUsersLocale();
    void everyLineLayout();
    void appendsToWhatIsThere();
    void groupKeepsTheFileOpenAndRecordsOpenItForThemselves();
    void headerTextCannotForgeLines();
    void blankNameWritesNothing();
    void unwritableFileIsReportedWithItsName();
    void unwritableRecordsListEveryDeletedMessage();
};

void TestDeletionLog::datesFollowTheUsersLocale()
{
    QCOMPARE(DeletionLog::dateTimeText(kWhen), QStringLiteral("Tue 3/5/24 2:07 PM"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(DeletionLog::dateTimeText(kWhen), QStringLiteral("Di. 05.03.24 14:07"));
}

void TestDeletionLog::everyLineLayout()
{
    LogRig rig;
    rig.log.mailCheck(3, QStringLiteral("joe"), QStringLiteral("pop.example.org"));
    rig.log.error(QStringLiteral("Operation timed out"), QStringLiteral("joe"), QStringLiteral("pop.example.org"));
    rig.log.canceled(QStringLiteral("joe"), QStringLiteral("pop.example.org"));
    rig.log.automaticMode(true);
    rig.log.automaticMode(false);
    QCOMPARE(rig.log.OpenLogFile(), QString());
    rig.log.deletedMessages(
        QStringLiteral("pop.example.org"), QStringLiteral("joe"),
        {row(QStringLiteral("Cheap pills"), QStringLiteral("spam@bad.example"), QStringLiteral("1234"),
             QStringLiteral("6/4/99 10:22:05 AM")),
         row(QStringLiteral("Win now"), QStringLiteral("win@bad.example"), QStringLiteral("99"), QString())});
    rig.log.CloseLogFile();

    const QByteArray expected = "MAIL CHECK 3 msg(s) for \"joe\" on server pop.example.org at Tue 3/5/24 2:07 PM\r\n"
                                "ERROR Operation timed out FOR joe ON pop.example.org AT Tue 3/5/24 2:07 PM\r\n"
                                "OPERATION CANCELED FOR joe ON pop.example.org AT Tue 3/5/24 2:07 PM\r\n"
                                "Automatic mode enabled at Tue 3/5/24 2:07 PM\r\n"
                                "Automatic mode disabled at Tue 3/5/24 2:07 PM\r\n"
                                "DELETE SPAM on Tue 3/5/24 2:07 PM\r\n"
                                "   Server:  pop.example.org Mailbox: joe\r\n"
                                "   Subject: Cheap pills\r\n"
                                "   Sender:  spam@bad.example\r\n"
                                "   Size:    1234  Date: 6/4/99 10:22:05 AM\r\n"
                                "DELETE SPAM on Tue 3/5/24 2:07 PM\r\n"
                                "   Server:  pop.example.org Mailbox: joe\r\n"
                                "   Subject: Win now\r\n"
                                "   Sender:  win@bad.example\r\n"
                                "   Size:    99  Date: \r\n";
    QCOMPARE(rig.contents(), expected);
    QVERIFY(rig.errors.isEmpty());
    QVERIFY(!rig.log.logOpen());
}

void TestDeletionLog::appendsToWhatIsThere()
{
    LogRig rig;
    QVERIFY(writeFile(rig.settings.logFile, "earlier line\r\n"));
    rig.log.automaticMode(true);
    QCOMPARE(rig.contents(), QByteArray("earlier line\r\nAutomatic mode enabled at Tue 3/5/24 2:07 PM\r\n"));
}

void TestDeletionLog::groupKeepsTheFileOpenAndRecordsOpenItForThemselves()
{
    LogRig rig;
    // No deleted message, no file.
    rig.log.deletedMessages(QStringLiteral("s"), QStringLiteral("u"), {});
    QVERIFY(!QFile::exists(rig.settings.logFile));

    // A line written while a group is open stays in that group's file and
    // leaves it open.
    QCOMPARE(rig.log.OpenLogFile(), QString());
    QVERIFY(rig.log.logOpen());
    rig.log.error(QStringLiteral("x"), QStringLiteral("u"), QStringLiteral("s"));
    QVERIFY(rig.log.logOpen());
    rig.log.CloseLogFile();
    QCOMPARE(rig.contents().count('\n'), 1);
    QCOMPARE(rig.log.errorReports(), 1);

    // Records arriving with the log closed open it for themselves: a
    // deletion the server committed is never dropped for want of an open file.
    rig.log.deletedMessages(QStringLiteral("s"), QStringLiteral("u"), {row({}, {}, {}, {})});
    QVERIFY(!rig.log.logOpen());
    QCOMPARE(rig.contents().count('\n'), 6);
    QVERIFY(rig.errors.isEmpty());
}

void TestDeletionLog::headerTextCannotForgeLines()
{
    LogRig rig;
    rig.log.deletedMessages(
        QStringLiteral("pop.example.org"), QStringLiteral("joe"),
        {row(QStringLiteral("Hi\r\nDELETE SPAM on never\tx"), QStringLiteral("a@b\nc"), QStringLiteral("12"),
             QStringLiteral("d\x0b"
                            "e\u2028f"))});
    rig.log.CloseLogFile();
    const QList<QByteArray> lines = rig.contents().split('\n');
    QCOMPARE(lines.size(), 6); // five lines and the empty rest after the last break
    QCOMPARE(lines[2], QByteArray("   Subject: Hi  DELETE SPAM on never x\r"));
    QCOMPARE(lines[3], QByteArray("   Sender:  a@b c\r"));
    QCOMPARE(lines[4], QByteArray("   Size:    12  Date: d e f\r"));
}

void TestDeletionLog::blankNameWritesNothing()
{
    LogRig rig;
    rig.settings.logFile = QStringLiteral("   ");
    rig.log.mailCheck(1, QStringLiteral("u"), QStringLiteral("s"));
    QCOMPARE(rig.log.OpenLogFile(), QString()); // nothing to open is no failure
    QVERIFY(!rig.log.logOpen());
    rig.log.deletedMessages(QStringLiteral("s"), QStringLiteral("u"), {row({}, {}, {}, {})});
    QVERIFY(rig.errors.isEmpty());
    QVERIFY(QDir(rig.dir.path()).isEmpty());
}

void TestDeletionLog::unwritableFileIsReportedWithItsName()
{
    LogRig rig;
    rig.settings.logFile = rig.dir.filePath(QStringLiteral("missing-folder/logfile.txt"));
    const QString failure = QStringLiteral("The log file %1 could not be written: No such file or directory")
                                .arg(QDir::toNativeSeparators(rig.settings.logFile));
    // The delete pass reports it as its own error.
    QCOMPARE(rig.log.OpenLogFile(), failure);
    QVERIFY(!rig.log.logOpen());
    QVERIFY(rig.errors.isEmpty());

    // A line of its own is reported through onError.
    rig.log.automaticMode(true);
    QCOMPARE(rig.errors, QStringList{failure});
}

void TestDeletionLog::unwritableRecordsListEveryDeletedMessage()
{
    // A disk that is full: the file opens, every write fails.
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("needs /dev/full");
    LogRig rig;
    rig.settings.logFile = QStringLiteral("/dev/full");
    QCOMPARE(rig.log.OpenLogFile(), QString());
    rig.log.deletedMessages(
        QStringLiteral("pop.example.org"), QStringLiteral("joe"),
        {row(QStringLiteral("Cheap pills"), QStringLiteral("spam@bad.example"), QStringLiteral("1234"),
             QStringLiteral("6/4/99 10:22:05 AM")),
         row(QStringLiteral("Win\r\nnow"), QStringLiteral("win@bad.example"), QStringLiteral("99"), QString())});
    QVERIFY(!rig.log.logOpen());
    rig.log.CloseLogFile();
    QCOMPARE(rig.errors,
             QStringList{QStringLiteral("The log file /dev/full could not be written: No space left on device\n\n"
                                        "These messages were deleted from the server:\n"
                                        "Sender: spam@bad.example  Subject: Cheap pills  Date: 6/4/99 10:22:05 AM\n"
                                        "Sender: win@bad.example  Subject: Win  now  Date: ")});
}

QTEST_GUILESS_MAIN(TestDeletionLog)
#include "tst_deletionlog.moc"
