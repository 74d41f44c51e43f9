// What start-up relies on: the program's folder and its seeding from the
// shipped data, the removal of downloaded messages, the single-instance
// guard, the Date column of the message list, and the windows made as
// main.cpp makes them.

#include "app/desktoprig.h"
#include "app/desktopwindows.h"
#include "app/messagelist.h"
#include "app/programfolder.h"
#include "app/singleinstance.h"
#include "support/fakexdgmime.h"
#include "support/handtimers.h"
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

// Sets an environment variable for a scope.
class EnvironmentValue
{
public:
    EnvironmentValue(const char *name, const QString &value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value.toUtf8());
    }
    ~EnvironmentValue()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

} // namespace

Q_DECLARE_METATYPE(MailProtocol)

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
    // The General settings window of the program fills mailbox 1 from the
    // mail program's account and finds the mail program.
    void generalSettingsImportTheMailAccount_data();
    void generalSettingsImportTheMailAccount();
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
    const QStringList gone = {QStringLiteral("msg_0.eml"), QStringLiteral("msg_100.eml"),
                              QStringLiteral("msg_4711.eml")};
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

void TestProgramStartup::generalSettingsImportTheMailAccount_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<int>("port");
    QTest::addColumn<MailProtocol>("protocol");
    QTest::addColumn<QString>("server");
    QTest::newRow("POP3") << QByteArray("pop3") << 995 << MailProtocol::Pop3 << QStringLiteral("mail.example.org");
    QTest::newRow("IMAP") << QByteArray("imap") << 1143 << MailProtocol::Imap
                          << QStringLiteral("mail.example.org:1143");
}

void TestProgramStartup::generalSettingsImportTheMailAccount()
{
    QFETCH(QByteArray, type);
    QFETCH(int, port);
    QFETCH(MailProtocol, protocol);
    QFETCH(QString, server);
    // The user's home with a mail program's profile and its desktop entry.
    QTemporaryDir home;
    const EnvironmentValue homeValue("HOME", home.path());
    const EnvironmentValue dataValue("XDG_DATA_HOME", home.filePath(QStringLiteral("share")));
    const EnvironmentValue programValue("MAILSIEVE_HOME", home.filePath(QStringLiteral("program")));
    placeFile(home.filePath(QStringLiteral(".thunderbird/profiles.ini")),
              "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\nDefault=1\n");
    placeFile(home.filePath(QStringLiteral(".thunderbird/p.default/prefs.js")),
              "user_pref(\"mail.account.account1.server\", \"server1\");\n"
              "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n"
              "user_pref(\"mail.server.server1.type\", \""
                  + type
                  + "\");\n"
                    "user_pref(\"mail.server.server1.hostname\", \"mail.example.org\");\n"
                    "user_pref(\"mail.server.server1.port\", "
                  + QByteArray::number(port)
                  + ");\n"
                    "user_pref(\"mail.server.server1.socketType\", 3);\n"
                    "user_pref(\"mail.server.server1.userName\", \"jane\");\n");
    placeFile(home.filePath(QStringLiteral("share/applications/mailer.desktop")),
              "[Desktop Entry]\nType=Application\nExec=mailer --compose %u\n");

    ProgramCore core(programFolder());
    core.load(); // no rule files yet: empty tables
    ScriptedPrompts prompts;
    QStringList sounds;
    DesktopDevices devices;
    devices.automatic.player = std::make_unique<desktoprig::FakePlayer>(&sounds);
    devices.automatic.clock = std::make_unique<HandClock>();
    devices.automatic.timers = std::make_unique<HandTimers>();
    devices.automatic.notificationBus = QDBusConnection(QStringLiteral("mailsieve-tests-no-bus"));
    devices.commands = std::make_unique<FakeXdgMime>(QStringLiteral("mailer.desktop"));
    DesktopWindows windows(core, prompts, std::move(devices));
    windows.FormCreate(readStartupSettings(core.store));

    windows.frmGeneral.show();
    TfrmGeneral::MailboxRow &first = windows.frmGeneral.row(1);
    QCOMPARE(first.edServe->text(), server);
    QCOMPARE(first.edMailbox->text(), QStringLiteral("jane"));
    QCOMPARE(first.cbProtocol->currentText(), mailProtocolName(protocol));
    QCOMPARE(first.cbSecurity->currentText(), QStringLiteral("SSL/TLS"));
    QCOMPARE(windows.frmGeneral.edMailer->text(), QStringLiteral("mailer --compose"));
    windows.frmGeneral.hide();
    QVERIFY(prompts.asked.isEmpty());
}

QTEST_MAIN(TestProgramStartup)
#include "tst_programstartup.moc"
