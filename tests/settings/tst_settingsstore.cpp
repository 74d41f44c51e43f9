#include "settings/settingsstore.h"
#include "support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QString allCharactersUpTo255()
{
    QString text;
    for (int c = 0; c < 256; ++c)
        text += QChar(c);
    return text;
}

mode_t fileMode(const QString &path)
{
    struct stat info
    {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // Values survive a save and a load.
    void roundTripsValues_data();
    void roundTripsValues();
    void roundTripsEveryCharacterInOneValue();
    void keepsSectionsApart();
    void savingTwiceWritesTheSameBytes();

    // Names.
    void namesIgnoreLetterCase();
    void rewritingInOtherCaseKeepsOneValue();
    void removingAValueKeepsTheOthersFindable();

    // Typed reading.
    void readsIntegers_data();
    void readsIntegers();
    void readsBooleans();

    // The file.
    void missingFileIsAnEmptyStore();
    void fileIsOwnerOnly();
    void createsTheMissingFolder();
    void readsCrLfLines();
    void badLinesLoseOnlyThemselves();
    void location();

    // Size: every line is one look-up, so the work grows with the file.
    void largeFilesLoadAndSaveUnchanged_data();
    void largeFilesLoadAndSaveUnchanged();

    // Failures.
    void writeFailureIsReported();
    void fullDiskKeepsTheOldFile();
    void unreadableFileIsNotReplaced();

private:
    QString storePath() const { return m_dir.filePath(QStringLiteral("mailsieve.conf")); }
    QTemporaryDir m_dir;
};

void TestSettingsStore::init()
{
    QFile::remove(storePath());
}

void TestSettingsStore::roundTripsValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QStringLiteral("pop.example.com");
    QTest::newRow("zero byte") << QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    QTest::newRow("cr lf") << QStringLiteral("line\r\nnext\rx\n");
    QTest::newRow("syntax characters") << QStringLiteral("=[x]=%41%#;");
    QTest::newRow("section look-alike") << QStringLiteral("[General]");
    QTest::newRow("spaces kept") << QStringLiteral("  padded  ");
    QTest::newRow("non-ascii") << QStringLiteral("C:/Users/Jürgen/Звук €.wav");
    QTest::newRow("bom first") << QStringLiteral("\uFEFFtext");
    QTest::newRow("delete and c1") << QStringLiteral("\x7F\u0085\u00FF");
}

void TestSettingsStore::roundTripsValues()
{
    QFETCH(QString, value);
    SettingsStore store(storePath());
    store.setValue(SettingsStore::Server, QStringLiteral("Passwd1"), value);
    store.setValue(SettingsStore::Server, QStringLiteral("After"), QStringLiteral("still here"));
    QVERIFY2(store.save(), qPrintable(store.errorString()));

    SettingsStore reread(storePath());
    QVERIFY(reread.problems().isEmpty());
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Passwd1")), value);
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("After")), QStringLiteral("still here"));
}

void TestSettingsStore::roundTripsEveryCharacterInOneValue()
{
    const QString all = allCharactersUpTo255();
    SettingsStore store(storePath());
    store.setValue(QStringLiteral("Odd = [name]"), all, all);
    QVERIFY(store.save());
    // One line per value: no raw control character reaches the file.
    const QByteArray file = readFile(storePath());
    QCOMPARE(file.count('\n'), 3);
    QVERIFY(!file.contains('\0') && !file.contains('\r'));

    SettingsStore reread(storePath());
    QCOMPARE(reread.value(QStringLiteral("Odd = [name]"), all), all);
}

void TestSettingsStore::keepsSectionsApart()
{
    SettingsStore store(storePath());
    store.setValue(SettingsStore::General, QStringLiteral("Server1"), QStringLiteral("general"));
    store.setValue(SettingsStore::Server, QStringLiteral("Server1"), QStringLiteral("server"));
    QVERIFY(store.save());
    SettingsStore reread(storePath());
    QCOMPARE(reread.value(SettingsStore::General, QStringLiteral("Server1")), QStringLiteral("general"));
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Server1")), QStringLiteral("server"));
    QVERIFY(!reread.contains(QStringLiteral("Other"), QStringLiteral("Server1")));
}

void TestSettingsStore::savingTwiceWritesTheSameBytes()
{
    SettingsStore store(storePath());
    store.setValue(SettingsStore::General, QStringLiteral("Logfile"), QStringLiteral("x=y"));
    QVERIFY(store.save());
    const QByteArray first = readFile(storePath());
    SettingsStore reread(storePath());
    QVERIFY(reread.save());
    QCOMPARE(readFile(storePath()), first);
}

void TestSettingsStore::namesIgnoreLetterCase()
{
    QVERIFY(writeFile(storePath(), "[general]\nAlarmfile=/a.wav\n"));
    SettingsStore store(storePath());
    QVERIFY(store.contains(SettingsStore::General, QStringLiteral("AlarmFile")));
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("ALARMFILE")), QStringLiteral("/a.wav"));
}

void TestSettingsStore::rewritingInOtherCaseKeepsOneValue()
{
    QVERIFY(writeFile(storePath(), "[General]\nAlarmfile=/old.wav\n"));
    SettingsStore store(storePath());
    store.setValue(QStringLiteral("GENERAL"), QStringLiteral("AlarmFile"), QStringLiteral("/new.wav"));
    QVERIFY(store.save());
    const QByteArray file = readFile(storePath());
    QCOMPARE(file.count("[General]"), 1);
    QVERIFY(file.contains("AlarmFile=/new.wav\n"));
    QVERIFY(!file.toLower().contains("old"));
}

void TestSettingsStore::removingAValueKeepsTheOthersFindable()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer1=a\nPasswd1=x\nMailbox1=b\nPasswd2=y\n"));
    SettingsStore store(storePath());
    store.remove(QStringLiteral("server"), QStringLiteral("PASSWD1"));
    store.remove(SettingsStore::Server, QStringLiteral("Passwd9")); // missing: nothing happens
    store.remove(QStringLiteral("NoSection"), QStringLiteral("Passwd2"));
    QVERIFY(!store.contains(SettingsStore::Server, QStringLiteral("Passwd1")));
    // The values after the removed one moved up and are still found by name.
    QCOMPARE(store.value(SettingsStore::Server, QStringLiteral("Mailbox1")), QStringLiteral("b"));
    QCOMPARE(store.value(SettingsStore::Server, QStringLiteral("passwd2")), QStringLiteral("y"));
    store.setValue(SettingsStore::Server, QStringLiteral("Mailbox1"), QStringLiteral("c"));
    QVERIFY(store.save());
    QCOMPARE(readFile(storePath()).mid(readFile(storePath()).indexOf("[Server]")),
             QByteArray("[Server]\nServer1=a\nMailbox1=c\nPasswd2=y\n"));
}

void TestSettingsStore::readsIntegers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("valid");
    QTest::newRow("decimal") << "10" << 10 << true;
    QTest::newRow("negative") << "-1" << -1 << true;
    QTest::newRow("hex") << "0x1E" << 30 << true;
    QTest::newRow("hex upper X, lower digits") << "0Xff" << 255 << true;
    QTest::newRow("leading zero decimal") << "010" << 10 << true;
    QTest::newRow("bare 0x") << "0x" << 77 << false;
    QTest::newRow("hex with sign") << "0x-1" << 77 << false;
    QTest::newRow("double prefix") << "0x0x1" << 77 << false;
    QTest::newRow("bad hex digit") << "0x1G" << 77 << false;
    QTest::newRow("word") << "ten" << 77 << false;
    QTest::newRow("empty") << "" << 77 << false;
    QTest::newRow("too big") << "99999999999" << 77 << false;
}

void TestSettingsStore::readsIntegers()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QFETCH(bool, valid);
    bool ok = !valid;
    QCOMPARE(parseSettingInt(text, 77, &ok), expected);
    QCOMPARE(ok, valid);

    SettingsStore store(storePath());
    store.setValue(SettingsStore::General, QStringLiteral("Minutes"), text);
    QCOMPARE(store.intValue(SettingsStore::General, QStringLiteral("minutes"), 77), expected);
}

void TestSettingsStore::readsBooleans()
{
    QVERIFY(writeFile(storePath(), "[General]\nA=1\nB=0\nC=0x2\nD=junk\n"));
    SettingsStore store(storePath());
    QCOMPARE(store.boolValue(SettingsStore::General, QStringLiteral("A"), false), true);
    QCOMPARE(store.boolValue(SettingsStore::General, QStringLiteral("B"), true), false);
    QCOMPARE(store.boolValue(SettingsStore::General, QStringLiteral("C"), false), true);
    QCOMPARE(store.boolValue(SettingsStore::General, QStringLiteral("D"), true), true);
    QCOMPARE(store.boolValue(SettingsStore::General, QStringLiteral("D"), false), false);
    QCOMPARE(store.boolValue(SettingsStore::General, QStringLiteral("Missing"), true), true);

    store.setBool(SettingsStore::General, QStringLiteral("E"), true);
    store.setBool(SettingsStore::General, QStringLiteral("F"), false);
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("E")), QStringLiteral("1"));
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("F")), QStringLiteral("0"));
}

void TestSettingsStore::missingFileIsAnEmptyStore()
{
    SettingsStore store(storePath());
    QVERIFY(store.load());
    QVERIFY(store.errorString().isEmpty());
    QVERIFY(!store.contains(SettingsStore::General, QStringLiteral("Minutes")));
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("Count"), QStringLiteral("0")), QStringLiteral("0"));
    QVERIFY(!QFile::exists(storePath()));
}

void TestSettingsStore::fileIsOwnerOnly()
{
    SettingsStore store(storePath());
    store.setValue(SettingsStore::Server, QStringLiteral("Passwd1"), QStringLiteral("x"));
    QVERIFY(store.save());
    QCOMPARE(fileMode(storePath()), mode_t(0600));

    // A file that was readable by others is tightened by the next save.
    QVERIFY(chmod(QFile::encodeName(storePath()).constData(), 0644) == 0);
    QVERIFY(store.save());
    QCOMPARE(fileMode(storePath()), mode_t(0600));
}

void TestSettingsStore::createsTheMissingFolder()
{
    const QString path = m_dir.filePath(QStringLiteral("new/deeper/mailsieve.conf"));
    SettingsStore store(path);
    store.setValue(SettingsStore::General, QStringLiteral("Minutes"), QStringLiteral("5"));
    QVERIFY2(store.save(), qPrintable(store.errorString()));
    QCOMPARE(SettingsStore(path).value(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("5"));
}

void TestSettingsStore::readsCrLfLines()
{
    QVERIFY(writeFile(storePath(), "[General]\r\nLogfile=C:\\log.txt\r\n\r\n[Server]\r\nWhich=2\r\n"));
    SettingsStore store(storePath());
    QVERIFY(store.problems().isEmpty());
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("Logfile")), QStringLiteral("C:\\log.txt"));
    QCOMPARE(store.value(SettingsStore::Server, QStringLiteral("Which")), QStringLiteral("2"));
}

void TestSettingsStore::badLinesLoseOnlyThemselves()
{
    QVERIFY(writeFile(storePath(), "Orphan=before any section\n"
                                   "[General]\n"
                                   "Logfile=/var/log/ms.txt\n"
                                   "this line has no equals sign\n"
                                   "Mailer=bad %G1 escape\n"
                                   "Count=truncated %4\n"
                                   "=no name\n"
                                   "Minutes=20\n"
                                   "# a comment\n"
                                   "   \n"
                                   "\xff\xfe binary=\x01\x02\n"
                                   "[Unclosed\n"
                                   "Server1=section unknown\n"
                                   "[ ]\n"
                                   "[Server]\n"
                                   "Which=3\n"));
    SettingsStore store(storePath());
    QCOMPARE(store.problems().size(), 8);
    QVERIFY(store.problems().first().startsWith(QStringLiteral("line 1:")));
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("Logfile")), QStringLiteral("/var/log/ms.txt"));
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("20"));
    QCOMPARE(store.value(SettingsStore::Server, QStringLiteral("Which")), QStringLiteral("3"));
    QVERIFY(!store.contains(SettingsStore::General, QStringLiteral("Mailer")));
    QVERIFY(!store.contains(SettingsStore::General, QStringLiteral("Count")));
    QVERIFY(!store.contains(SettingsStore::General, QStringLiteral("Server1")));
    QVERIFY(!store.contains(SettingsStore::Server, QStringLiteral("Server1")));
    // Bytes that are not UTF-8 are read as Latin-1 rather than dropped.
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("\u00ff\u00fe binary")), QStringLiteral("\x01\x02"));
}

void TestSettingsStore::location()
{
    const QByteArray saved = qgetenv("MAILSIEVE_HOME");
    qputenv("MAILSIEVE_HOME", "/some/home");
    QCOMPARE(SettingsStore::defaultFilePath(), QStringLiteral("/some/home/mailsieve.conf"));
    qunsetenv("MAILSIEVE_HOME");
    QCOMPARE(SettingsStore::defaultFilePath(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                                   + QStringLiteral("/mailsieve/mailsieve.conf"));
    if (!saved.isNull())
        qputenv("MAILSIEVE_HOME", saved);
}

void TestSettingsStore::largeFilesLoadAndSaveUnchanged_data()
{
    QTest::addColumn<int>("sections");
    QTest::addColumn<int>("valuesPerSection");
    QTest::newRow("40000 values in one section") << 1 << 40000;
    QTest::newRow("20000 sections") << 20000 << 2;
}

void TestSettingsStore::largeFilesLoadAndSaveUnchanged()
{
    QFETCH(int, sections);
    QFETCH(int, valuesPerSection);
    const auto sectionName = [](int s) { return QStringLiteral("Section%1").arg(s); };
    const auto valueName = [](int v) { return QStringLiteral("Value%1").arg(v); };
    const auto valueText = [](int s, int v) { return QStringLiteral("%1 = %2%").arg(s).arg(v); };
    QByteArray content = "# Mailsieve settings. Special characters are written as %XX.\n";
    for (int s = 0; s < sections; ++s) {
        content += "[" + sectionName(s).toUtf8() + "]\n";
        for (int v = 0; v < valuesPerSection; ++v)
            content += valueName(v).toUtf8() + "=" + escapeSettingText(valueText(s, v)) + "\n";
    }
    QVERIFY(writeFile(storePath(), content));

    QElapsedTimer timer;
    timer.start();
    SettingsStore store(storePath());
    const qint64 loadMs = timer.elapsed();
    timer.restart();
    QVERIFY(store.save());
    const qint64 saveMs = timer.elapsed();
    qInfo("%lld bytes: load %lld ms, save %lld ms", qint64(content.size()), loadMs, saveMs);
    // About 0.1 s each; a search per line made the load take minutes.
    QVERIFY2(loadMs < 10000 && saveMs < 10000, "far slower than one look-up per line");

    QVERIFY(store.problems().isEmpty());
    QCOMPARE(readFile(storePath()), content);
    for (int s = 0; s < sections; ++s) {
        const QString section = sectionName(s).toUpper();
        for (int v = 0; v < valuesPerSection; ++v)
            QCOMPARE(store.value(section, valueName(v).toLower()), valueText(s, v));
    }
    // Names that differ only in case still name one value: it is replaced
    // in place, under the spelling of the last write.
    const int last = sections - 1;
    store.setValue(sectionName(last).toLower(), valueName(0).toUpper(), QStringLiteral("new"));
    const QByteArray oldLine = valueName(0).toUtf8() + '=' + escapeSettingText(valueText(last, 0)) + '\n';
    const QByteArray newLine = valueName(0).toUpper().toUtf8() + "=new\n";
    QByteArray expected = content;
    expected.replace(expected.lastIndexOf(oldLine), oldLine.size(), newLine);
    QCOMPARE(store.serialized(), expected);
}

void TestSettingsStore::writeFailureIsReported()
{
    // Permissions do not stop root, so the parent "folder" is a regular file.
    const QString parent = m_dir.filePath(QStringLiteral("plainfile"));
    QVERIFY(writeFile(parent, "not a folder"));
    const QString path = parent + QStringLiteral("/mailsieve.conf");
    SettingsStore store(path);
    store.setValue(SettingsStore::General, QStringLiteral("Minutes"), QStringLiteral("5"));
    QVERIFY(!store.save());
    QVERIFY(store.errorString().contains(QStringLiteral("plainfile")));
    QCOMPARE(readFile(parent), QByteArray("not a folder"));
    // The values stay in memory for another try.
    QCOMPARE(store.value(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("5"));
}

void TestSettingsStore::fullDiskKeepsTheOldFile()
{
    SettingsStore store(storePath());
    store.setValue(SettingsStore::General, QStringLiteral("Logfile"), QStringLiteral("old"));
    QVERIFY(store.save());
    const QByteArray before = readFile(storePath());

    // A file size limit makes writes fail as a full disk does.
    struct rlimit saved
    {};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    store.setValue(SettingsStore::General, QStringLiteral("Logfile"), QString(100000, u'x'));
    const bool saved_ok = store.save();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!saved_ok);
    QVERIFY2(store.errorString().startsWith(QStringLiteral("Cannot write settings file ") + storePath() + ": "),
             qPrintable(store.errorString()));
    QCOMPARE(readFile(storePath()), before);
    // No temporary file is left behind.
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("mailsieve.conf*")}, QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("mailsieve.conf")});
}

void TestSettingsStore::unreadableFileIsNotReplaced()
{
    // A folder where the file should be cannot be read as one.
    const QString path = m_dir.filePath(QStringLiteral("folder.conf"));
    QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    SettingsStore store(path);
    QVERIFY(!store.load());
    QVERIFY2(store.errorString().startsWith(QStringLiteral("Cannot read settings file ") + path + ": "),
             qPrintable(store.errorString()));
    store.setValue(SettingsStore::General, QStringLiteral("Minutes"), QStringLiteral("5"));
    QVERIFY(!store.save());
    QCOMPARE(store.errorString(), QStringLiteral("Settings file %1 was not readable; not replacing it").arg(path));
    QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
