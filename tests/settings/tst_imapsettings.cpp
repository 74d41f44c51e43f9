// The protocol of a mailbox and its IMAP options in the settings: the
// stored "Protocol<n>", "Folder<n>", "Remove<n>" and "JunkFolder<n>", what a
// save keeps and drops, the checks before saving, and what a login carries.

#include "settings/generalsettings.h"
#include "support/testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

MailboxConfig imapMailbox(int n)
{
    MailboxConfig mailbox;
    mailbox.number = n;
    mailbox.server = QStringLiteral("imap.example.org");
    mailbox.mailbox = QStringLiteral("ann");
    mailbox.password = QStringLiteral("pw");
    mailbox.protocol = MailProtocol::Imap;
    return mailbox;
}

} // namespace

class TestImapSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(storePath()); }

    // The names.
    void namesReadBackInAnyCase();

    // The store.
    void missingOrUnknownValuesReadAsTheSafeOnes();
    void imapOptionsRoundTrip();
    void pop3MailboxKeepsNoImapOptions();

    // Checks before saving.
    void imapChecksNameTheMailboxAndField_data();
    void imapChecksNameTheMailboxAndField();
    void saveStopsAtTheImapMailboxWithApop();
    void controlCharactersInFolderNamesAreRefused_data();
    void controlCharactersInFolderNamesAreRefused();

    // What signing in is given.
    void loginCarriesTheImapOptions();

private:
    QString storePath() const { return m_dir.filePath(QStringLiteral("mailsieve.conf")); }
    QTemporaryDir m_dir;
};

void TestImapSettings::namesReadBackInAnyCase()
{
    for (const MailProtocol protocol : {MailProtocol::Pop3, MailProtocol::Imap})
        QCOMPARE(mailProtocolFromName(mailProtocolName(protocol).toLower()), protocol);
    QCOMPARE(mailProtocolName(MailProtocol::Imap), QStringLiteral("IMAP"));
    QCOMPARE(mailProtocolName(MailProtocol::Pop3), QStringLiteral("POP3"));
    QCOMPARE(mailProtocolFromName(QStringLiteral(" imap ")), MailProtocol::Imap);
    QVERIFY(!mailProtocolFromName(QStringLiteral("SMTP")));
    QVERIFY(!mailProtocolFromName(QString()));

    QCOMPARE(spamRemovalName(SpamRemoval::MoveToFolder), QStringLiteral("Move to folder"));
    QCOMPARE(spamRemovalName(SpamRemoval::Delete), QStringLiteral("Delete"));
    QCOMPARE(spamRemovalFromName(QStringLiteral("MOVE TO FOLDER")), SpamRemoval::MoveToFolder);
    QCOMPARE(spamRemovalFromName(QStringLiteral("delete")), SpamRemoval::Delete);
    QVERIFY(!spamRemovalFromName(QStringLiteral("Move")));
}

void TestImapSettings::missingOrUnknownValuesReadAsTheSafeOnes()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer1=pop.example.org\nMailbox1=ann\nFolder1=Spam\nRemove1=Delete\n"
                                   "Server2=mail.example.org\nMailbox2=bob\nProtocol2=SMTP\n"
                                   "Server3=imap.example.org\nMailbox3=cy\nProtocol3=imap\n"
                                   "Server4=imap.example.org\nMailbox4=di\nProtocol4=IMAP\nFolder4=\nRemove4=Shred\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    QVERIFY(settings.readServerSettings(store));
    // Every mailbox stored before the choice stays POP3; what it never used is not read.
    const MailboxConfig &stored = settings.mailboxes[0];
    QCOMPARE(stored.protocol, MailProtocol::Pop3);
    QCOMPARE(stored.folder, QStringLiteral("INBOX"));
    QCOMPARE(stored.removal, SpamRemoval::MoveToFolder);
    QCOMPARE(settings.mailboxes[1].protocol, MailProtocol::Pop3);
    QCOMPARE(GetRemotePOPSettings(store, 2).protocol, MailProtocol::Pop3);
    QCOMPARE(settings.mailboxes[5].protocol, MailProtocol::Pop3);

    // An IMAP mailbox without options checks INBOX and moves spam to the server's Junk folder.
    for (const int i : {2, 3}) {
        const MailboxConfig &imap = settings.mailboxes[i];
        QCOMPARE(imap.protocol, MailProtocol::Imap);
        QCOMPARE(imap.folder, QStringLiteral("INBOX"));
        QCOMPARE(imap.removal, SpamRemoval::MoveToFolder); // an unknown choice never destroys mail
        QVERIFY(imap.junkFolder.isEmpty());
    }
}

void TestImapSettings::imapOptionsRoundTrip()
{
    GeneralSettings written;
    written.mailboxes[1] = imapMailbox(2);
    written.mailboxes[1].folder = QStringLiteral("Listen/Entwürfe \"alt\"");
    written.mailboxes[1].removal = SpamRemoval::Delete;
    written.mailboxes[1].junkFolder = QStringLiteral("Papierkorb");
    written.mailboxes[2] = imapMailbox(3);
    written.mailboxes[2].folder = QStringLiteral("  ");
    written.mailboxes[2].junkFolder = QStringLiteral("Junk E-mail");
    SettingsStore store(storePath());
    QVERIFY(written.saveServerSettings(store).ok());

    GeneralSettings read;
    SettingsStore reread(storePath());
    QVERIFY(read.readServerSettings(reread));
    QCOMPARE(read.mailboxes[0].protocol, MailProtocol::Pop3);
    const MailboxConfig &deleting = read.mailboxes[1];
    QCOMPARE(deleting.protocol, MailProtocol::Imap);
    QCOMPARE(deleting.folder, QStringLiteral("Listen/Entwürfe \"alt\""));
    QCOMPARE(deleting.removal, SpamRemoval::Delete);
    QCOMPARE(deleting.junkFolder, QStringLiteral("Papierkorb")); // kept for a later switch back to moving
    const MailboxConfig &moving = read.mailboxes[2];
    QCOMPARE(moving.folder, QStringLiteral("INBOX"));
    QCOMPARE(moving.removal, SpamRemoval::MoveToFolder);
    QCOMPARE(moving.junkFolder, QStringLiteral("Junk E-mail"));

    const QByteArray file = readFile(storePath());
    for (const char *line : {"Protocol1=POP3\n", "Protocol2=IMAP\n", "Protocol12=POP3\n", "Remove2=Delete\n",
                             "Folder3=INBOX\n", "Remove3=Move to folder\n", "JunkFolder3=Junk E-mail\n"})
        QVERIFY2(file.contains(line), line);
}

void TestImapSettings::pop3MailboxKeepsNoImapOptions()
{
    GeneralSettings settings;
    settings.mailboxes[3] = imapMailbox(4);
    settings.mailboxes[3].junkFolder = QStringLiteral("Spam");
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    QVERIFY(readFile(storePath()).contains("JunkFolder4=Spam\n"));

    settings.mailboxes[3].protocol = MailProtocol::Pop3;
    QVERIFY(settings.saveServerSettings(store).ok());
    const QByteArray file = readFile(storePath());
    QVERIFY(file.contains("Protocol4=POP3\n"));
    for (const char *gone : {"Folder", "Remove", "JunkFolder"})
        QVERIFY2(!file.contains(gone), gone);
}

void TestImapSettings::imapChecksNameTheMailboxAndField_data()
{
    QTest::addColumn<MailProtocol>("protocol");
    QTest::addColumn<SignInMethod>("signIn");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<SpamRemoval>("removal");
    QTest::addColumn<QString>("junkFolder");
    QTest::addColumn<MailboxField>("field");
    QTest::addColumn<QString>("message");
    const auto imap = MailProtocol::Imap;
    const auto move = SpamRemoval::MoveToFolder;
    const auto password = SignInMethod::Password;
    const QString apop = QStringLiteral("Mailbox 9 - APOP is a POP3 sign-in; choose another for an IMAP mailbox");
    QTest::newRow("APOP with IMAP") << imap << SignInMethod::Apop << "INBOX" << move << "" << MailboxField::SignIn
                                    << apop;
    QTest::newRow("APOP with POP3") << MailProtocol::Pop3 << SignInMethod::Apop << "INBOX" << move << "INBOX"
                                    << MailboxField::None << QString();
    QTest::newRow("spam moved into the inbox checked")
        << imap << password << "INBOX" << move << "inbox" << MailboxField::JunkFolder
        << "Mailbox 9 - spam cannot be moved to inbox, the folder being checked; choose another folder";
    QTest::newRow("spam moved into the inbox, named by no folder")
        << imap << password << "" << move << "Inbox" << MailboxField::JunkFolder
        << "Mailbox 9 - spam cannot be moved to Inbox, the folder being checked; choose another folder";
    QTest::newRow("spam moved into another folder checked")
        << imap << password << "Lists" << move << "Lists" << MailboxField::JunkFolder
        << "Mailbox 9 - spam cannot be moved to Lists, the folder being checked; choose another folder";
    QTest::newRow("another folder than the checked one")
        << imap << password << "Lists" << move << "lists" << MailboxField::None << QString();
    QTest::newRow("a folder below the inbox")
        << imap << password << "INBOX" << move << "INBOX/Junk" << MailboxField::None << QString();
    QTest::newRow("deleting moves nothing")
        << imap << password << "Lists" << SpamRemoval::Delete << "Lists" << MailboxField::None << QString();
    QTest::newRow("the server's Junk folder")
        << imap << password << "INBOX" << move << "" << MailboxField::None << QString();
}

void TestImapSettings::imapChecksNameTheMailboxAndField()
{
    QFETCH(MailProtocol, protocol);
    QFETCH(SignInMethod, signIn);
    QFETCH(QString, folder);
    QFETCH(SpamRemoval, removal);
    QFETCH(QString, junkFolder);
    QFETCH(MailboxField, field);
    QFETCH(QString, message);
    MailboxConfig mailbox = imapMailbox(9);
    mailbox.protocol = protocol;
    mailbox.signIn = signIn;
    mailbox.folder = folder;
    mailbox.removal = removal;
    mailbox.junkFolder = junkFolder;
    const ServerSaveResult result = checkMailbox(mailbox);
    QCOMPARE(result.field, field);
    QCOMPARE(result.message, message);
    QCOMPARE(result.mailbox, field == MailboxField::None ? 0 : 9);
    QVERIFY(!result.refused);

    // An unused row is not asked for anything.
    mailbox.server.clear();
    mailbox.mailbox.clear();
    QVERIFY(!checkMailbox(mailbox).validationFailed());
}

void TestImapSettings::saveStopsAtTheImapMailboxWithApop()
{
    GeneralSettings settings;
    settings.mailboxes[1] = imapMailbox(2);
    settings.mailboxes[1].signIn = SignInMethod::Apop;
    settings.mailboxes[4] = imapMailbox(5);
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QCOMPARE(result.mailbox, 2);
    QCOMPARE(result.field, MailboxField::SignIn);
    QVERIFY(result.writeError.isEmpty());
    const QByteArray file = readFile(storePath());
    QVERIFY(file.contains("Protocol2=IMAP\n")); // written, then checked, as every mailbox
    QVERIFY(!file.contains("Server5"));
}

void TestImapSettings::controlCharactersInFolderNamesAreRefused_data()
{
    QTest::addColumn<MailProtocol>("protocol");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("junkFolder");
    QTest::addColumn<MailboxField>("field");
    QTest::addColumn<QString>("message");
    QTest::newRow("line break in the folder")
        << MailProtocol::Imap << QStringLiteral("INBOX\r\nA1 DELETE INBOX") << QString() << MailboxField::Folder
        << "The IMAP folder of mailbox 6 must not contain line breaks, tabs, NUL or other control characters.";
    QTest::newRow("tab in the spam folder")
        << MailProtocol::Imap << QStringLiteral("INBOX") << QStringLiteral("Ju\tnk") << MailboxField::JunkFolder
        << "The spam folder of mailbox 6 must not contain line breaks, tabs, NUL or other control characters.";
    QTest::newRow("NUL in the spam folder")
        << MailProtocol::Imap << QStringLiteral("INBOX") << QStringLiteral("Spam") + QChar(0)
        << MailboxField::JunkFolder
        << "The spam folder of mailbox 6 must not contain line breaks, tabs, NUL or other control characters.";
    // A POP3 mailbox keeps no folder, so a left-over one is neither written nor checked.
    QTest::newRow("POP3 mailbox") << MailProtocol::Pop3 << QStringLiteral("IN\nBOX") << QString() << MailboxField::None
                                  << QString();
}

void TestImapSettings::controlCharactersInFolderNamesAreRefused()
{
    QFETCH(MailProtocol, protocol);
    QFETCH(QString, folder);
    QFETCH(QString, junkFolder);
    QFETCH(MailboxField, field);
    QFETCH(QString, message);
    GeneralSettings settings;
    settings.mailboxes[5] = imapMailbox(6);
    settings.mailboxes[5].protocol = protocol;
    settings.mailboxes[5].folder = folder;
    settings.mailboxes[5].junkFolder = junkFolder;
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QCOMPARE(result.field, field);
    QCOMPARE(result.message, message);
    QCOMPARE(result.refused, field != MailboxField::None);
    QCOMPARE(QFile::exists(storePath()), field == MailboxField::None); // refused: nothing written
}

void TestImapSettings::loginCarriesTheImapOptions()
{
    GeneralSettings settings;
    settings.mailboxes[6] = imapMailbox(7);
    settings.mailboxes[6].folder = QStringLiteral("Work");
    settings.mailboxes[6].removal = SpamRemoval::Delete;
    settings.mailboxes[6].junkFolder = QStringLiteral("Spam");
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());

    const MailboxLogin login = GetRemotePOPSettings(store, 7);
    QCOMPARE(login.protocol, MailProtocol::Imap);
    QCOMPARE(login.folder, QStringLiteral("Work"));
    QCOMPARE(login.removal, SpamRemoval::Delete);
    QCOMPARE(login.junkFolder, QStringLiteral("Spam"));
    QCOMPARE(GetRemotePOPSettings(store, 1).protocol, MailProtocol::Pop3);

    // A row not stored yet with no folder named checks INBOX.
    MailboxConfig unsaved = imapMailbox(8);
    unsaved.folder.clear();
    QCOMPARE(mailboxLogin(unsaved).folder, QStringLiteral("INBOX"));
    QCOMPARE(mailboxLogin(unsaved).protocol, MailProtocol::Imap);
}

QTEST_GUILESS_MAIN(TestImapSettings)
#include "tst_imapsettings.moc"
