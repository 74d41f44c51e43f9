#include "settings/generalsettings.h"
#include "settings/scramble.h"

#include "mail/pop3client.h"
#include "support/testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void setMailbox(GeneralSettings &settings, int n, const QString &server, const QString &user, const QString &password)
{
    MailboxConfig &mailbox = settings.mailboxes[n - 1];
    mailbox.server = server;
    mailbox.mailbox = user;
    mailbox.password = password;
}

} // namespace

class TestGeneralSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // Reading.
    void firstStartReadsTheDefaults();
    void roundTripsEveryValue();
    void readsValueNamesInAnyCase();
    void readsHexAndFallsBackOnBadNumbers();
    void outOfRangeValuesReadSafely();
    void defaultMailboxOutsideTheTableReadsAsOne_data();
    void defaultMailboxOutsideTheTableReadsAsOne();

    // Passwords in the store.
    void passwordsAreStoredScrambled();
    void passwordWithAnyCharacterComesBackWhole_data();
    void passwordWithAnyCharacterComesBackWhole();
    void savingTwiceWritesTheSameFile();
    void fileOfTheEarlierVersionSavesBackByteForByte();
    void mailboxChoicesAreStoredOnlyWhenTicked();

    // Connection security of a mailbox.
    void securityOfOlderMailboxesReadsAsNone();
    void unknownSecurityTextReadsAsSslTls();

    // Saving the mailbox table.
    void validationStopsAtTheFirstBadMailbox();
    void eachCheckNamesItsField_data();
    void eachCheckNamesItsField();
    void emptyRowsAreValid();
    void textsThatCouldAddCommandsAreRefused_data();
    void textsThatCouldAddCommandsAreRefused();
    void passwordMayHoldOtherControlCharacters();
    void trustedServerIsOneNameStoredTrimmed_data();
    void trustedServerIsOneNameStoredTrimmed();

    // Writing.
    void writeFailuresAreReported();
    void savingKeepsValuesOfOthers();
    void automaticSwitchWritesOnlyAutomatic();

    // Look-ups.
    void remoteSettingsComeFromTheStore();
    void remoteSettingsGoIntoTheClient();
    void serverToIndexFindsTheFirstMatch();
    void spamCounterAddsUp();
    void dialUpIndexWithinTheEntryList();

private:
    QString storePath() const { return m_dir.filePath(QStringLiteral("mailsieve.conf")); }
    QTemporaryDir m_dir;
};

void TestGeneralSettings::init()
{
    QFile::remove(storePath());
}

void TestGeneralSettings::firstStartReadsTheDefaults()
{
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.automatic = true; // must be replaced by the default
    QVERIFY(settings.ReadSettings(store));
    QVERIFY(settings.readServerSettings(store));

    QVERIFY(settings.logFile.isEmpty());
    QVERIFY(settings.mailProgram.isEmpty());
    QVERIFY(settings.alarmFile.isEmpty());
    QCOMPARE(settings.automatic, false);
    QCOMPARE(settings.askBeforeDelete, true);
    QCOMPARE(settings.deleteWithoutConfirmation, false);
    QCOMPARE(settings.minutes, 10);
    QCOMPARE(settings.launchAfterDelete, true);
    QCOMPARE(settings.exitWhenEmpty, false);
    QCOMPARE(settings.alarm, true);
    QCOMPARE(settings.repeatAlarm, true);
    QCOMPARE(settings.dialUpIndex, 0);
    QCOMPARE(settings.spamCount, QStringLiteral("0"));
    QCOMPARE(settings.startInTray, false);
    QCOMPARE(settings.killAll, true);
    QCOMPARE(settings.defaultMailbox, 1);
    for (int n = 1; n <= kMailboxCount; ++n) {
        const MailboxConfig &mailbox = settings.mailboxes[n - 1];
        QCOMPARE(mailbox.number, n);
        QVERIFY(mailbox.server.isEmpty() && mailbox.mailbox.isEmpty() && mailbox.password.isEmpty());
        QCOMPARE(mailbox.security, MailSecurity::SslTls);
        QVERIFY(mailbox.fingerprint.isEmpty());
        QVERIFY(!mailbox.isConfigured());
    }

    const StartupSettings startup = readStartupSettings(store);
    QCOMPARE(startup.startInTray, false);
    QCOMPARE(startup.automatic, false);
    QCOMPARE(startup.minutes, 10);
    QCOMPARE(startup.defaultMailbox, 1);
    QVERIFY(!QFile::exists(storePath()));
}

void TestGeneralSettings::roundTripsEveryValue()
{
    GeneralSettings written;
    written.logFile = QStringLiteral("/home/u/ms log.txt");
    written.mailProgram = QStringLiteral("thunderbird -mail");
    written.alarmFile = QStringLiteral("/usr/share/sounds/ding=1.wav");
    written.automatic = true;
    written.askBeforeDelete = false;
    written.deleteWithoutConfirmation = true;
    written.minutes = 45;
    written.launchAfterDelete = false;
    written.exitWhenEmpty = true;
    written.alarm = false;
    written.repeatAlarm = false;
    written.dialUpIndex = 2;
    written.spamCount = QStringLiteral("1234");
    written.startInTray = true;
    written.killAll = false;
    written.defaultMailbox = 12;
    for (MailboxConfig &mailbox : written.mailboxes) {
        const QString n = QString::number(mailbox.number);
        mailbox.server = QStringLiteral("pop") + n + QStringLiteral(".example.com:995");
        mailbox.mailbox = QStringLiteral("user") + n;
        mailbox.password = QStringLiteral("pw") + n;
        mailbox.security = mailbox.number % 3 == 0   ? MailSecurity::None
                           : mailbox.number % 3 == 1 ? MailSecurity::StartTls
                                                     : MailSecurity::SslTls;
        mailbox.fingerprint = QString(64, QChar(u'a' + mailbox.number % 6));
    }
    SettingsStore store(storePath());
    QVERIFY(written.SaveSettings(store));
    QVERIFY(written.saveServerSettings(store).ok());

    GeneralSettings read;
    SettingsStore other(storePath());
    QVERIFY(read.ReadSettings(other));
    QVERIFY(read.readServerSettings(other));
    QCOMPARE(read.logFile, written.logFile);
    QCOMPARE(read.mailProgram, written.mailProgram);
    QCOMPARE(read.alarmFile, written.alarmFile);
    QCOMPARE(read.automatic, true);
    QCOMPARE(read.askBeforeDelete, false);
    QCOMPARE(read.deleteWithoutConfirmation, true);
    QCOMPARE(read.minutes, 45);
    QCOMPARE(read.launchAfterDelete, false);
    QCOMPARE(read.exitWhenEmpty, true);
    QCOMPARE(read.alarm, false);
    QCOMPARE(read.repeatAlarm, false);
    QCOMPARE(read.dialUpIndex, 2);
    QCOMPARE(read.spamCount, QStringLiteral("1234"));
    QCOMPARE(read.startInTray, true);
    QCOMPARE(read.killAll, false);
    QCOMPARE(read.defaultMailbox, 12);
    for (int i = 0; i < kMailboxCount; ++i) {
        QCOMPARE(read.mailboxes[i].number, i + 1);
        QCOMPARE(read.mailboxes[i].server, written.mailboxes[i].server);
        QCOMPARE(read.mailboxes[i].mailbox, written.mailboxes[i].mailbox);
        QCOMPARE(read.mailboxes[i].password, written.mailboxes[i].password);
        QCOMPARE(read.mailboxes[i].security, written.mailboxes[i].security);
        QCOMPARE(read.mailboxes[i].fingerprint, written.mailboxes[i].fingerprint);
    }

    // The stored texts of the encodings.
    const QByteArray file = readFile(storePath());
    for (const char *line : {"Automatic=1\n", "Ask=0\n", "Minutes=45\n", "RAS=2\n", "Count=1234\n",
                             "AlarmFile=", "Which=12\n", "Server12=", "Mailbox1=user1\n", "Security1=STARTTLS\n",
                             "Security2=SSL/TLS\n", "Security3=None\n", "KillAll=0\n"})
        QVERIFY2(file.contains(line), line);
    QVERIFY(!file.contains("Points"));

    const StartupSettings startup = readStartupSettings(other);
    QCOMPARE(startup.startInTray, true);
    QCOMPARE(startup.automatic, true);
    QCOMPARE(startup.minutes, 45);
    QCOMPARE(startup.defaultMailbox, 12);
}

void TestGeneralSettings::readsValueNamesInAnyCase()
{
    QVERIFY(writeFile(storePath(), "[GENERAL]\nAlarmfile=/x.wav\nsystray=1\nKILLALL=0\n"
                                   "[server]\nwhich=4\nSERVER4=pop.example.com\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.ReadSettings(store);
    settings.readServerSettings(store);
    QCOMPARE(settings.alarmFile, QStringLiteral("/x.wav"));
    QCOMPARE(settings.startInTray, true);
    QCOMPARE(settings.killAll, false);
    QCOMPARE(settings.defaultMailbox, 4);
    QCOMPARE(settings.mailboxes[3].server, QStringLiteral("pop.example.com"));

    // Saving writes the value once, in its own spelling.
    QVERIFY(settings.SaveSettings(store));
    const QByteArray file = readFile(storePath());
    QCOMPARE(file.toLower().count("alarmfile="), 1);
    QVERIFY(file.contains("AlarmFile=/x.wav\n"));
}

void TestGeneralSettings::readsHexAndFallsBackOnBadNumbers()
{
    QVERIFY(writeFile(storePath(), "[General]\nMinutes=0x1E\nAutomatic=0x1\nAsk=maybe\nRAS=0X2\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.ReadSettings(store);
    QCOMPARE(settings.minutes, 30);
    QCOMPARE(settings.automatic, true);
    QCOMPARE(settings.askBeforeDelete, true); // the default of "Ask"
    QCOMPARE(settings.dialUpIndex, 2);

    QVERIFY(writeFile(storePath(), "[General]\nMinutes=ten\nCount=lots\n"));
    settings.ReadSettings(store);
    QCOMPARE(settings.minutes, 10);
    QCOMPARE(settings.spamCount, QStringLiteral("0"));

    QVERIFY(writeFile(storePath(), "[General]\nCount=0x10\n"));
    settings.ReadSettings(store);
    QCOMPARE(settings.spamCount, QStringLiteral("16"));
}

void TestGeneralSettings::outOfRangeValuesReadSafely()
{
    // Minutes outside 2..600 are kept: the window decides how to show them.
    QVERIFY(writeFile(storePath(), "[General]\nMinutes=1000\nRAS=-3\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.ReadSettings(store);
    QCOMPARE(settings.minutes, 1000);
    QCOMPARE(settings.dialUpIndex, 0);
    QCOMPARE(readStartupSettings(store).minutes, 1000);
}

void TestGeneralSettings::defaultMailboxOutsideTheTableReadsAsOne_data()
{
    QTest::addColumn<QByteArray>("which");
    QTest::newRow("zero") << QByteArray("0");
    QTest::newRow("thirteen") << QByteArray("13");
    QTest::newRow("negative") << QByteArray("-1");
    QTest::newRow("not a number") << QByteArray("two");
}

void TestGeneralSettings::defaultMailboxOutsideTheTableReadsAsOne()
{
    QFETCH(QByteArray, which);
    QVERIFY(writeFile(storePath(), "[Server]\nWhich=" + which + "\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.defaultMailbox = 7;
    settings.readServerSettings(store);
    QCOMPARE(settings.defaultMailbox, 1);
    QCOMPARE(readStartupSettings(store).defaultMailbox, 1);
}

void TestGeneralSettings::passwordsAreStoredScrambled()
{
    GeneralSettings settings;
    setMailbox(settings, 3, QStringLiteral("pop.example.com"), QStringLiteral("me"), QStringLiteral("hunter2secret"));
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    QVERIFY(!readFile(storePath()).contains("hunter2secret"));
    QCOMPARE(SettingsStore(storePath()).value(SettingsStore::Server, QStringLiteral("Passwd3")),
             ScramblePassword(QStringLiteral("hunter2secret"), passwordKey(3)));
}

void TestGeneralSettings::passwordWithAnyCharacterComesBackWhole_data()
{
    QTest::addColumn<QString>("password");
    // Under mailbox 1 a first character equal to the key's high byte
    // scrambles to a zero byte; the rest covers every other character a
    // password may hold (CR and LF are refused before anything is saved).
    const QChar zeroMaker(passwordKey(1) >> 8);
    const auto allowed = [](int c) { return c != '\r' && c != '\n'; };
    for (int c = 1; c < 256; ++c) {
        if (allowed(c))
            QTest::addRow("char %d", c) << QString(zeroMaker) + QChar(c) + QStringLiteral("=\t[%]#") + QChar(c);
    }
    QString all;
    for (int c = 1; c < 256; ++c) {
        if (allowed(c))
            all += QChar(c);
    }
    QTest::newRow("all characters") << zeroMaker + all;
}

void TestGeneralSettings::passwordWithAnyCharacterComesBackWhole()
{
    QFETCH(QString, password);
    GeneralSettings settings;
    setMailbox(settings, 1, QStringLiteral("pop.example.com"), QStringLiteral("me"), password);
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());

    SettingsStore reread(storePath());
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Passwd1")).at(0), QChar(0));
    GeneralSettings read;
    read.readServerSettings(reread);
    QCOMPARE(read.mailboxes[0].password, password);
    QCOMPARE(GetRemotePOPSettings(reread, 1).password, password);
}

void TestGeneralSettings::savingTwiceWritesTheSameFile()
{
    GeneralSettings settings;
    setMailbox(settings, 1, QStringLiteral("pop.example.com"), QStringLiteral("me"), QStringLiteral("pw"));
    SettingsStore store(storePath());
    QVERIFY(settings.SaveSettings(store));
    QVERIFY(settings.saveServerSettings(store).ok());
    const QByteArray first = readFile(storePath());
    QVERIFY(settings.SaveSettings(store));
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(readFile(storePath()), first);
}

void TestGeneralSettings::fileOfTheEarlierVersionSavesBackByteForByte()
{
    // The values as the version before the keep and plain-text choices and
    // the trusted server wrote them (no TrustedServer lines come back): a password mailbox, an OAuth 2.0 one without a client secret, an
    // IMAP one, and nine empty rows.
    SettingsStore earlier(storePath());
    const auto put = [&](const QString &name, int n, const QString &value) {
        earlier.setValue(SettingsStore::Server, name + QString::number(n), value);
    };
    earlier.setValue(SettingsStore::Server, QStringLiteral("Which"), QStringLiteral("2"));
    for (int n = 1; n <= kMailboxCount; ++n) {
        const bool oauth = n == 2;
        put(QStringLiteral("Passwd"), n,
            n == 1 || n == 3 ? ScramblePassword(QStringLiteral("pw"), passwordKey(n)) : QString());
        put(QStringLiteral("Server"), n, n <= 3 ? QStringLiteral("mail.example.com") : QString());
        put(QStringLiteral("Mailbox"), n, n <= 3 ? QStringLiteral("me%1").arg(n) : QString());
        put(QStringLiteral("Security"), n, n == 1 ? QStringLiteral("None") : QStringLiteral("SSL/TLS"));
        put(QStringLiteral("Fingerprint"), n, QString());
        put(QStringLiteral("Auth"), n, oauth ? QStringLiteral("OAuth 2.0 (Microsoft)") : QStringLiteral("Password"));
        put(QStringLiteral("Protocol"), n, n == 3 ? QStringLiteral("IMAP") : QStringLiteral("POP3"));
        if (n == 3) {
            put(QStringLiteral("Folder"), n, QStringLiteral("INBOX"));
            put(QStringLiteral("Remove"), n, QStringLiteral("Move to folder"));
            put(QStringLiteral("JunkFolder"), n, QString());
        }
        if (oauth) {
            put(QStringLiteral("OAuthClient"), n, QStringLiteral("client"));
            put(QStringLiteral("OAuthSecret"), n, QString());
        }
    }
    QVERIFY(earlier.save());
    const QByteArray written = readFile(storePath());

    SettingsStore store(storePath());
    GeneralSettings settings;
    QVERIFY(settings.readServerSettings(store));
    QVERIFY(!settings.mailboxes[0].keepPasswordInFile && !settings.mailboxes[0].plainTextPassword);
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(readFile(storePath()), written);
}

void TestGeneralSettings::mailboxChoicesAreStoredOnlyWhenTicked()
{
    GeneralSettings settings;
    setMailbox(settings, 4, QStringLiteral("pop.example.com"), QStringLiteral("me"), QStringLiteral("pw"));
    settings.mailboxes[3].keepPasswordInFile = true;
    settings.mailboxes[3].plainTextPassword = true;
    settings.mailboxes[3].security = MailSecurity::None;
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    QByteArray file = readFile(storePath());
    QVERIFY(file.contains("KeepPassword4=1\n"));
    QVERIFY(file.contains("PlainTextPassword4=1\n"));
    QCOMPARE(file.count("KeepPassword"), 1);

    GeneralSettings read;
    QVERIFY(read.readServerSettings(store));
    QVERIFY(read.mailboxes[3].keepPasswordInFile);
    QVERIFY(read.mailboxes[3].plainTextPassword);
    TmsRemotePOP client;
    QVERIFY(GetRemotePOPSettings(store, 4, client).plainTextPassword);
    QVERIFY(client.plainTextAllowed());
    GetRemotePOPSettings(store, 5, client);
    QVERIFY(!client.plainTextAllowed());

    read.mailboxes[3].keepPasswordInFile = false;
    read.mailboxes[3].plainTextPassword = false;
    QVERIFY(read.saveServerSettings(store).ok());
    file = readFile(storePath());
    QVERIFY(!file.contains("KeepPassword") && !file.contains("PlainTextPassword"));
}

void TestGeneralSettings::securityOfOlderMailboxesReadsAsNone()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer1=pop.example.com\nMailbox1=me\nMailbox2=only-user\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.readServerSettings(store);
    QCOMPARE(settings.mailboxes[0].security, MailSecurity::None);
    QCOMPARE(settings.mailboxes[1].security, MailSecurity::None);
    QCOMPARE(settings.mailboxes[2].security, MailSecurity::SslTls);
    QCOMPARE(GetRemotePOPSettings(store, 1).security, MailSecurity::None);
}

void TestGeneralSettings::unknownSecurityTextReadsAsSslTls()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer1=pop.example.com\nSecurity1=TLS please\n"
                                   "Server2=pop.example.com\nSecurity2=starttls\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    settings.readServerSettings(store);
    QCOMPARE(settings.mailboxes[0].security, MailSecurity::SslTls);
    QCOMPARE(settings.mailboxes[1].security, MailSecurity::StartTls);
}

void TestGeneralSettings::validationStopsAtTheFirstBadMailbox()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer3=old3.example.com\nServer5=old5.example.com\n"));
    GeneralSettings settings;
    settings.defaultMailbox = 2;
    setMailbox(settings, 1, QStringLiteral("pop1.example.com"), QStringLiteral("one"), QStringLiteral("pw1"));
    setMailbox(settings, 2, QStringLiteral("pop2.example.com"), QString(), QStringLiteral("pw2"));
    setMailbox(settings, 3, QString(), QString(), QString());
    setMailbox(settings, 5, QString(), QStringLiteral("five"), QStringLiteral("pw5"));
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);

    QVERIFY(!result.ok());
    QVERIFY(result.validationFailed());
    QVERIFY(result.writeError.isEmpty());
    QCOMPARE(result.mailbox, 2);
    QCOMPARE(result.field, MailboxField::UserName);
    QCOMPARE(result.message, QStringLiteral("Mailbox 2 has a server pop2.example.com but no mailbox"));

    // "Which" and mailboxes 1 and 2 are written; the later ones keep the old values.
    SettingsStore reread(storePath());
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Which")), QStringLiteral("2"));
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Server1")), QStringLiteral("pop1.example.com"));
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Server2")), QStringLiteral("pop2.example.com"));
    QCOMPARE(GetRemotePOPSettings(reread, 2).password, QStringLiteral("pw2"));
    QCOMPARE(reread.value(SettingsStore::Server, QStringLiteral("Server3")), QStringLiteral("old3.example.com"));
    QVERIFY(!reread.contains(SettingsStore::Server, QStringLiteral("Mailbox5")));
}

void TestGeneralSettings::eachCheckNamesItsField_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<MailboxField>("field");
    QTest::addColumn<QString>("message");
    QTest::newRow("no user name") << "pop.example.com"
                                  << ""
                                  << "pw" << MailboxField::UserName
                                  << "Mailbox 7 has a server pop.example.com but no mailbox";
    QTest::newRow("no server") << ""
                               << "me"
                               << "pw" << MailboxField::Server << "Mailbox 7 me has a blank server";
    QTest::newRow("no password") << "pop.example.com"
                                 << "me"
                                 << "" << MailboxField::Password << "Mailbox 7 - there is no password set";
    QTest::newRow("percent signs stay literal")
        << "%1.example.com"
        << ""
        << "" << MailboxField::UserName << "Mailbox 7 has a server %1.example.com but no mailbox";
}

void TestGeneralSettings::eachCheckNamesItsField()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(MailboxField, field);
    QFETCH(QString, message);
    GeneralSettings settings;
    setMailbox(settings, 7, server, user, password);
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QCOMPARE(result.mailbox, 7);
    QCOMPARE(result.field, field);
    QCOMPARE(result.message, message);
}

void TestGeneralSettings::emptyRowsAreValid()
{
    GeneralSettings settings;
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QVERIFY(result.ok());
    QCOMPARE(result.mailbox, 0);
    QCOMPARE(result.field, MailboxField::None);
    SettingsStore reread(storePath());
    QVERIFY(reread.contains(SettingsStore::Server, QStringLiteral("Passwd12")));
    QVERIFY(reread.value(SettingsStore::Server, QStringLiteral("Server12")).isEmpty());
}

void TestGeneralSettings::textsThatCouldAddCommandsAreRefused_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<MailboxField>("field");
    QTest::addColumn<QString>("message");
    const QString serverMessage = QStringLiteral("The server name of mailbox 4 must not contain line breaks, tabs, "
                                                 "NUL or other control characters.");
    const QString userMessage = QStringLiteral("The user name of mailbox 4 must not contain line breaks, tabs, "
                                               "NUL or other control characters.");
    const QString passwordMessage = QStringLiteral("The password of mailbox 4 must not contain line breaks or NUL "
                                                   "characters.");
    const QString nul(QChar(0));
    QTest::newRow("server LF") << "pop.example.com\nQUIT"
                               << "me"
                               << "pw" << MailboxField::Server << serverMessage;
    QTest::newRow("server tab") << "pop\t.example.com"
                                << "me"
                                << "pw" << MailboxField::Server << serverMessage;
    QTest::newRow("server without user") << "pop.example.com\r"
                                         << ""
                                         << "" << MailboxField::Server << serverMessage;
    QTest::newRow("user CR LF") << "pop.example.com"
                                << "me\r\nDELE 1"
                                << "pw" << MailboxField::UserName << userMessage;
    QTest::newRow("user NUL") << "pop.example.com"
                              << "me" + nul << "pw" << MailboxField::UserName << userMessage;
    QTest::newRow("user ESC") << "pop.example.com"
                              << "me\x1b[2J"
                              << "pw" << MailboxField::UserName << userMessage;
    QTest::newRow("user DEL") << "pop.example.com"
                              << "me\x7f"
                              << "pw" << MailboxField::UserName << userMessage;
    QTest::newRow("user C1") << "pop.example.com" << QStringLiteral("me\u0085") << "pw" << MailboxField::UserName
                             << userMessage;
    QTest::newRow("both: server first") << "pop\n"
                                        << "me\n"
                                        << "pw\n"
                                        << MailboxField::Server << serverMessage;
    QTest::newRow("password LF") << "pop.example.com"
                                 << "me"
                                 << "pw\nDELE 1" << MailboxField::Password << passwordMessage;
    QTest::newRow("password CR") << "pop.example.com"
                                 << "me"
                                 << "pw\r" << MailboxField::Password << passwordMessage;
    QTest::newRow("password NUL") << "pop.example.com"
                                  << "me" << nul + "pw" << MailboxField::Password << passwordMessage;
    QTest::newRow("password of an empty row") << ""
                                              << ""
                                              << "\n"
                                              << MailboxField::Password << passwordMessage;
}

void TestGeneralSettings::textsThatCouldAddCommandsAreRefused()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(MailboxField, field);
    QFETCH(QString, message);
    QVERIFY(writeFile(storePath(), "[Server]\nWhich=1\nServer1=old1.example.com\nServer4=old4.example.com\n"));
    GeneralSettings settings;
    settings.defaultMailbox = 2;
    setMailbox(settings, 1, QStringLiteral("pop1.example.com"), QStringLiteral("one"), QStringLiteral("pw1"));
    setMailbox(settings, 2, QStringLiteral("pop2.example.com"), QString(), QStringLiteral("pw2"));
    setMailbox(settings, 4, server, user, password);

    const QByteArray before = readFile(storePath());
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QCOMPARE(result.mailbox, 4); // before mailbox 2's missing user name
    QCOMPARE(result.field, field);
    QCOMPARE(result.message, message);
    QVERIFY(result.refused);
    QVERIFY(result.validationFailed());
    QVERIFY(!result.ok());
    QCOMPARE(checkMailboxText(settings.mailboxes[3]).message, message);
    // Nothing is written, not even the mailboxes before it.
    QCOMPARE(readFile(storePath()), before);
}

void TestGeneralSettings::passwordMayHoldOtherControlCharacters()
{
    GeneralSettings settings;
    const QString password = QStringLiteral("a\tb\x1b\x7f") + QChar(0x85);
    setMailbox(settings, 1, QStringLiteral("pop.example.com"), QStringLiteral("me"), password);
    QVERIFY(!checkMailboxText(settings.mailboxes[0]).refused);
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(GetRemotePOPSettings(store, 1).password, password);
}

void TestGeneralSettings::trustedServerIsOneNameStoredTrimmed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("stored"); // as read back
    QTest::addColumn<QByteArray>("line"); // in the file; empty: no TrustedServer line
    const QString gmail = QStringLiteral("mx.google.com");
    const QByteArray gmailLine = "TrustedServer2=mx.google.com\n";
    QTest::newRow("none") << QString() << false << QString() << QByteArray();
    QTest::newRow("blanks only") << QStringLiteral("  ") << false << QString() << QByteArray();
    QTest::newRow("name") << gmail << false << gmail << gmailLine;
    QTest::newRow("blanks around") << QStringLiteral(" mx.google.com\u00a0") << false << gmail << gmailLine;
    QTest::newRow("blank inside") << QStringLiteral("mx google.com") << true << QString() << QByteArray();
    QTest::newRow("no-break space inside") << QStringLiteral("mx\u00a0google.com") << true << QString() << QByteArray();
    QTest::newRow("line break") << QStringLiteral("mx.google.com\r\nQUIT") << true << QString() << QByteArray();
    QTest::newRow("tab at the end") << QStringLiteral("mx.google.com\t") << true << QString() << QByteArray();
}

void TestGeneralSettings::trustedServerIsOneNameStoredTrimmed()
{
    QFETCH(QString, name);
    QFETCH(bool, refused);
    QFETCH(QString, stored);
    QFETCH(QByteArray, line);
    GeneralSettings settings;
    setMailbox(settings, 2, QStringLiteral("pop.example.com"), QStringLiteral("me"), QStringLiteral("pw"));
    settings.mailboxes[1].trustedServer = name;
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QCOMPARE(result.refused, refused);
    if (refused) {
        QCOMPARE(result.mailbox, 2);
        QCOMPARE(result.field, MailboxField::TrustedServer);
        QCOMPARE(result.message, QStringLiteral("The trusted server of mailbox 2 must be one name, without blanks, "
                                                "line breaks, tabs or other control characters."));
        QVERIFY(!QFile::exists(storePath()));
        return;
    }
    QVERIFY(result.ok());
    const QByteArray file = readFile(storePath());
    QCOMPARE(file.count("TrustedServer"), line.isEmpty() ? 0 : 1);
    QVERIFY(file.contains(line));
    GeneralSettings read;
    QVERIFY(read.readServerSettings(store));
    QCOMPARE(read.mailboxes[1].trustedServer, stored);
}

void TestGeneralSettings::writeFailuresAreReported()
{
    const QString parent = m_dir.filePath(QStringLiteral("plainfile"));
    QVERIFY(writeFile(parent, "x"));
    SettingsStore store(parent + QStringLiteral("/mailsieve.conf"));
    GeneralSettings settings;
    setMailbox(settings, 1, QStringLiteral("pop.example.com"), QStringLiteral("me"), QStringLiteral("pw"));
    QVERIFY(!settings.SaveSettings(store));
    QCOMPARE(store.errorString(), QStringLiteral("Cannot create the folder ") + parent);
    const ServerSaveResult result = settings.saveServerSettings(store);
    QVERIFY(!result.ok());
    QVERIFY(!result.validationFailed());
    QCOMPARE(result.writeError, QStringLiteral("Cannot create the folder ") + parent);
    QVERIFY(!saveAutomatic(store, true));
    QVERIFY(!savePoints(store, 3));
}

void TestGeneralSettings::savingKeepsValuesOfOthers()
{
    SettingsStore about(storePath());
    QVERIFY(savePoints(about, 42));
    // Another store object, as another window holds, saves the General section.
    SettingsStore window(storePath());
    GeneralSettings settings;
    settings.minutes = 15;
    QVERIFY(settings.SaveSettings(window));
    QCOMPARE(readPoints(about), 42);
    QCOMPARE(SettingsStore(storePath()).value(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("15"));
}

void TestGeneralSettings::automaticSwitchWritesOnlyAutomatic()
{
    SettingsStore store(storePath());
    QVERIFY(saveAutomatic(store, true));
    QCOMPARE(readFile(storePath()), QByteArray("# Mailsieve settings. Special characters are written as %XX.\n"
                                               "[General]\nAutomatic=1\n"));
    QVERIFY(saveAutomatic(store, false));
    GeneralSettings settings;
    settings.ReadSettings(store);
    QCOMPARE(settings.automatic, false);
}

void TestGeneralSettings::remoteSettingsComeFromTheStore()
{
    GeneralSettings settings;
    setMailbox(settings, 4, QStringLiteral("pop.example.com"), QStringLiteral("me"), QStringLiteral("pw"));
    settings.mailboxes[3].security = MailSecurity::StartTls;
    settings.mailboxes[3].fingerprint = QStringLiteral("ab12");
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());

    // Changed in memory but not saved: the login still reads the stored values.
    settings.mailboxes[3].password = QStringLiteral("unsaved");
    MailboxLogin login = GetRemotePOPSettings(store, 4);
    QCOMPARE(login.server, QStringLiteral("pop.example.com"));
    QCOMPARE(login.user, QStringLiteral("me"));
    QCOMPARE(login.password, QStringLiteral("pw"));
    QCOMPARE(login.security, MailSecurity::StartTls);
    QCOMPARE(login.fingerprint, QStringLiteral("ab12"));

    // Written by someone else meanwhile: read afresh.
    SettingsStore other(storePath());
    other.setValue(SettingsStore::Server, QStringLiteral("Server4"), QStringLiteral("new.example.com"));
    QVERIFY(other.save());
    QCOMPARE(GetRemotePOPSettings(store, 4).server, QStringLiteral("new.example.com"));

    login = GetRemotePOPSettings(store, 5);
    QVERIFY(login.server.isEmpty() && login.user.isEmpty() && login.password.isEmpty());
    QVERIFY(GetRemotePOPSettings(store, 0).server.isEmpty());
    QVERIFY(GetRemotePOPSettings(store, 13).server.isEmpty());
}

void TestGeneralSettings::remoteSettingsGoIntoTheClient()
{
    GeneralSettings settings;
    setMailbox(settings, 2, QStringLiteral("pop.example.com:1110"), QStringLiteral("me"), QStringLiteral("pw"));
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());

    TmsRemotePOP client;
    client.setServer(QStringLiteral("previous.example.com"));
    const MailboxLogin login = GetRemotePOPSettings(store, 2, client);
    QCOMPARE(client.server(), QStringLiteral("pop.example.com:1110"));
    QCOMPARE(client.userName(), QStringLiteral("me"));
    QCOMPARE(client.password(), QStringLiteral("pw"));
    QCOMPARE(login.security, MailSecurity::SslTls);

    // An unused mailbox empties the client's login rather than keeping the old one.
    GetRemotePOPSettings(store, 3, client);
    QVERIFY(client.server().isEmpty() && client.userName().isEmpty() && client.password().isEmpty());
}

void TestGeneralSettings::serverToIndexFindsTheFirstMatch()
{
    GeneralSettings settings;
    setMailbox(settings, 2, QStringLiteral("pop.example.com"), QStringLiteral("alice"), QString());
    setMailbox(settings, 5, QStringLiteral("POP.Example.com"), QStringLiteral("Bob"), QString());
    setMailbox(settings, 9, QStringLiteral("pop.example.com"), QStringLiteral("bob"), QString());
    const MailboxTable &table = settings.mailboxes;
    QCOMPARE(serverToIndex(table, QStringLiteral("pop.example.com"), QStringLiteral("alice")), 2);
    QCOMPARE(serverToIndex(table, QStringLiteral("pop.example.COM"), QStringLiteral("BOB")), 5);
    QCOMPARE(serverToIndex(table, QStringLiteral("pop.example.com"), QStringLiteral("carol")), 0);
    QCOMPARE(serverToIndex(table, QStringLiteral("other.example.com"), QStringLiteral("alice")), 0);
    // Unused rows do not match a client that has no server yet.
    QCOMPARE(serverToIndex(table, QString(), QString()), 0);
}

void TestGeneralSettings::spamCounterAddsUp()
{
    GeneralSettings settings;
    settings.addToSpamCount(3);
    QCOMPARE(settings.spamCount, QStringLiteral("3"));
    settings.spamCount = QStringLiteral("2147483647");
    settings.addToSpamCount(1);
    QCOMPARE(settings.spamCount, QStringLiteral("2147483648"));

    SettingsStore store(storePath());
    QVERIFY(settings.SaveSettings(store));
    GeneralSettings read;
    read.ReadSettings(store);
    QCOMPARE(read.spamCount, QStringLiteral("2147483648"));
}

void TestGeneralSettings::dialUpIndexWithinTheEntryList()
{
    GeneralSettings settings;
    settings.dialUpIndex = 3;
    QCOMPARE(settings.dialUpIndexWithin(3), 3);
    QCOMPARE(settings.dialUpIndexWithin(2), 0);
    QCOMPARE(settings.dialUpIndexWithin(0), 0);
}

QTEST_GUILESS_MAIN(TestGeneralSettings)
#include "tst_generalsettings.moc"
