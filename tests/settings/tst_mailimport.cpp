// First-use import: Windows mail programs through a fake registry, the
// Thunderbird account from sample profiles, and the desktop's mail program.

#include "mail/dialupprocess.h"
#include "rules/rulelist.h"
#include "rules/ruletexts.h"
#include "settings/mailimport.h"
#include "settings/mailimportheaderrule.h"
#include "support/fakexdgmime.h"

#include <QHash>
#include <QtTest>

Q_DECLARE_METATYPE(MailProtocol)
Q_DECLARE_METATYPE(MailSecurity)

namespace {

const QString Fixtures = QStringLiteral(MAILSIEVE_SOURCE_DIR "/tests/support/fixtures/thunderbird");

class FakeRegistry : public PlatformSettings
{
public:
    QHash<QString, QString> registry; // "root|key|name"
    QHash<QString, QString> profiles; // "file|section|name"
    QStringList files;

    void set(Root root, const QString &key, const QString &name, const QString &value)
    {
        registry.insert(id(root, key, name), value);
    }
    QString registryValue(Root root, const QString &key, const QString &name) const override
    {
        return registry.value(id(root, key, name));
    }
    QString profileValue(const QString &file, const QString &section, const QString &name) const override
    {
        return profiles.value(file + u'|' + section + u'|' + name);
    }
    bool fileExists(const QString &path) const override { return files.contains(path); }

private:
    static QString id(Root root, const QString &key, const QString &name)
    {
        return QString::number(int(root)) + u'|' + key + u'|' + name;
    }
};

const QString EudoraKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Eudora.exe");
const QString MailtoKey = QStringLiteral("SOFTWARE\\Classes\\mailto\\shell\\open\\command");

MailboxConfig emptyMailbox1()
{
    MailboxConfig m;
    m.number = 1;
    return m;
}

} // namespace

class TestMailImport : public QObject
{
    Q_OBJECT

private slots:
    void eudoraAccountWithAtSignSplitsAtTheFirstOne()
    {
        FakeRegistry reg;
        reg.set(PlatformSettings::Root::LocalMachine, EudoraKey, QStringLiteral("Path"), QStringLiteral("C:\\Eudora"));
        reg.files << QStringLiteral("C:\\Eudora\\Eudora.ini");
        reg.profiles.insert(QStringLiteral("C:\\Eudora\\Eudora.ini|Settings|POPAccount"),
                            QStringLiteral("joe@pop.isp.net@x"));
        MailboxConfig m = emptyMailbox1();
        QVERIFY(CheckEudora(reg, m));
        QCOMPARE(m.mailbox, QStringLiteral("joe"));
        QCOMPARE(m.server, QStringLiteral("pop.isp.net@x"));
    }

    void eudoraAccountWithoutAtSignIsTheServerAndKeepsTheUser()
    {
        FakeRegistry reg;
        reg.set(PlatformSettings::Root::LocalMachine, EudoraKey, QStringLiteral("Path"),
                QStringLiteral("C:\\Eudora\\"));
        reg.files << QStringLiteral("C:\\Eudora\\Eudora.ini");
        reg.profiles.insert(QStringLiteral("C:\\Eudora\\Eudora.ini|Settings|POPAccount"),
                            QStringLiteral("pop.isp.net"));
        MailboxConfig m = emptyMailbox1();
        m.mailbox = QStringLiteral("kept");
        QVERIFY(CheckEudora(reg, m));
        QCOMPARE(m.server, QStringLiteral("pop.isp.net"));
        QCOMPARE(m.mailbox, QStringLiteral("kept"));
    }

    void eudoraWithoutItsSettingsFileFillsNothing()
    {
        FakeRegistry reg;
        reg.set(PlatformSettings::Root::LocalMachine, EudoraKey, QStringLiteral("Path"), QStringLiteral("C:\\Eudora"));
        MailboxConfig m = emptyMailbox1();
        QVERIFY(!CheckEudora(reg, m));
        QVERIFY(m.server.isEmpty());
    }

    void netscapeFillsUserAndServerOnlyFromPopServer()
    {
        FakeRegistry reg;
        reg.set(PlatformSettings::Root::CurrentUser, QStringLiteral("SOFTWARE\\Netscape\\Netscape Navigator\\Mail"),
                QStringLiteral("POP Name"), QStringLiteral("ann"));
        MailboxConfig m = emptyMailbox1();
        QVERIFY(CheckNetscape(reg, m));
        QCOMPARE(m.mailbox, QStringLiteral("ann"));
        QVERIFY(m.server.isEmpty());
        reg.set(PlatformSettings::Root::CurrentUser, QStringLiteral("SOFTWARE\\Netscape\\Netscape Navigator\\Services"),
                QStringLiteral("POP_Server"), QStringLiteral("mail.isp.net"));
        QVERIFY(CheckNetscape(reg, m));
        QCOMPARE(m.server, QStringLiteral("mail.isp.net"));
    }

    void mailPathDetection_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected");
        QTest::newRow("rundll32 any case") << QStringLiteral("rUnDlL32.exe url.dll,MailToProtocolHandler %1")
                                           << QStringLiteral("rUnDlL32.exe url.dll,MailToProtocolHandler");
        QTest::newRow("quoted path cut after EXE")
            << QStringLiteral("\"C:\\Program Files\\Mail\\mail.exe\" -compose \"%1\"")
            << QStringLiteral("\"C:\\Program Files\\Mail\\mail.exe");
        QTest::newRow("no exe") << QStringLiteral("mailer %1") << QStringLiteral("mailer %1");
        QTest::newRow("nothing registered") << QString() << QString();
    }

    void mailPathDetection()
    {
        QFETCH(QString, command);
        QFETCH(QString, expected);
        FakeRegistry reg;
        reg.set(PlatformSettings::Root::LocalMachine, MailtoKey, QString(), command);
        QCOMPARE(GetMailPath(reg), expected);
    }

    void eudoraProgramWinsWhenItExists()
    {
        FakeRegistry reg;
        reg.set(PlatformSettings::Root::LocalMachine, EudoraKey, QStringLiteral("Path"),
                QStringLiteral("C:\\E\\eudora.exe"));
        reg.set(PlatformSettings::Root::LocalMachine, MailtoKey, QString(), QStringLiteral("other.exe %1"));
        QCOMPARE(GetMailPath(reg), QStringLiteral("other.exe"));
        reg.files << QStringLiteral("C:\\E\\eudora.exe");
        QCOMPARE(GetMailPath(reg), QStringLiteral("C:\\E\\eudora.exe"));
    }

    void thunderbirdInstallDefaultWinsOverProfileDefault()
    {
        QCOMPARE(thunderbirdDefaultProfile(Fixtures + QStringLiteral("/home/.thunderbird")),
                 Fixtures + QStringLiteral("/home/.thunderbird/Profiles/x1y2z3.default-release"));
        QCOMPARE(thunderbirdDefaultProfile(Fixtures + QStringLiteral("/legacy/.thunderbird")),
                 Fixtures + QStringLiteral("/legacy/.thunderbird/q9.default"));
        QVERIFY(thunderbirdDefaultProfile(Fixtures + QStringLiteral("/missing")).isEmpty());
    }

    void thunderbirdFillsMailbox1FromTheFirstAccount()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        MailImport import(platform, runner,
                          {Fixtures + QStringLiteral("/missing"), Fixtures + QStringLiteral("/home/.thunderbird")}, {});
        MailboxConfig m = emptyMailbox1();
        import.importMailbox(m);
        // account3 (IMAP on its TLS port) is listed first.
        QCOMPARE(m.protocol, MailProtocol::Imap);
        QCOMPARE(m.server, QStringLiteral("imap.example.org"));
        QCOMPARE(m.mailbox, QStringLiteral("jane"));
        QCOMPARE(m.security, MailSecurity::SslTls);
    }

    void thunderbirdWithoutAccountListUsesServerNumbersAndRealNames()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        MailImport import(platform, runner, {Fixtures + QStringLiteral("/legacy/.thunderbird")}, {});
        const std::optional<MailAccount> account = import.thunderbirdAccount();
        QVERIFY(account);
        QCOMPARE(account->protocol, MailProtocol::Pop3);
        QCOMPARE(account->server, QStringLiteral("pop3.provider.example"));
        QCOMPARE(account->userName, QStringLiteral("o\"brien\u00e9"));
        QCOMPARE(account->security, MailSecurity::StartTls);
    }

    void aServerAlreadySetIsNotReplaced()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        MailImport import(platform, runner, {Fixtures + QStringLiteral("/home/.thunderbird")}, {});
        MailboxConfig m = emptyMailbox1();
        m.server = QStringLiteral("mine.example");
        import.importMailbox(m);
        QCOMPARE(m.server, QStringLiteral("mine.example"));
        QVERIFY(m.mailbox.isEmpty());
    }

    void firstMailAccountOfThePrefs_data()
    {
        QTest::addColumn<QByteArray>("prefs");
        QTest::addColumn<bool>("found");
        QTest::addColumn<MailProtocol>("protocol");
        QTest::addColumn<QString>("server");
        QTest::addColumn<MailSecurity>("security");
        const auto server = [](const char *type, const char *host, const char *more = "") {
            return QByteArray("user_pref(\"mail.server.server1.type\", \"") + type + "\");\n"
                   + "user_pref(\"mail.server.server1.hostname\", \"" + host + "\");\n" + more;
        };
        QTest::newRow("pop3 on its plain port")
            << server("pop3", "pop.x", "user_pref(\"mail.server.server1.port\", 110);") << true << MailProtocol::Pop3
            << "pop.x" << MailSecurity::None;
        QTest::newRow("pop3 elsewhere") << server("pop3", "pop.x",
                                                  "user_pref(\"mail.server.server1.port\", 1995);\n"
                                                  "user_pref(\"mail.server.server1.socketType\", 3);")
                                        << true << MailProtocol::Pop3 << "pop.x:1995" << MailSecurity::SslTls;
        QTest::newRow("imap on its TLS port")
            << server("imap", "imap.x", "user_pref(\"mail.server.server1.port\", 993);") << true << MailProtocol::Imap
            << "imap.x" << MailSecurity::SslTls;
        QTest::newRow("imap with STARTTLS elsewhere")
            << server("imap", "imap.x",
                      "user_pref(\"mail.server.server1.port\", 1143);\n"
                      "user_pref(\"mail.server.server1.socketType\", 2);")
            << true << MailProtocol::Imap << "imap.x:1143" << MailSecurity::StartTls;
        QTest::newRow("local folders only")
            << server("none", "Local Folders") << false << MailProtocol::Pop3 << QString() << MailSecurity::None;
        QTest::newRow("news") << server("nntp", "news.x") << false << MailProtocol::Pop3 << QString()
                              << MailSecurity::None;
        QTest::newRow("garbage") << QByteArrayLiteral("\x00\xff garbage (((") << false << MailProtocol::Pop3
                                 << QString() << MailSecurity::None;
    }

    void firstMailAccountOfThePrefs()
    {
        QFETCH(QByteArray, prefs);
        QFETCH(bool, found);
        const std::optional<MailAccount> account = firstMailAccount(prefs);
        QCOMPARE(account.has_value(), found);
        if (!found)
            return;
        QFETCH(MailProtocol, protocol);
        QFETCH(QString, server);
        QFETCH(MailSecurity, security);
        QCOMPARE(account->protocol, protocol);
        QCOMPARE(account->server, server);
        QCOMPARE(account->security, security);
    }

    void mailProgramFromTheDesktopMailtoHandler()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        runner.handler = QStringLiteral("org.mozilla.Thunderbird.desktop");
        MailImport import(platform, runner, {},
                          {Fixtures + QStringLiteral("/nowhere"), Fixtures + QStringLiteral("/applications")});
        QCOMPARE(import.detectMailProgram(), QStringLiteral("thunderbird"));

        runner.handler = QStringLiteral("unknown.desktop");
        QVERIFY(import.detectMailProgram().isEmpty());
        runner.installed = false;
        runner.handler = QStringLiteral("org.mozilla.Thunderbird.desktop");
        QVERIFY(import.detectMailProgram().isEmpty());
    }

    void headerRuleGoesOnTopAndNeverWithoutAnAddress()
    {
        RuleList header(RuleTable::Header);
        header.setCell(HeaderCol::What, 1, QStringLiteral("Sender"));
        QVERIFY(!AddMyselfFromPopToHeader(header, QStringLiteral("  ")));
        QCOMPARE(header.rowCount(), 2);
        QVERIFY(AddMyselfFromPopToHeader(header, QStringLiteral("bob")));
        QCOMPARE(header.rowCount(), 3);
        QCOMPARE(header.cell(HeaderCol::Matches, 1), QStringLiteral("bob - MailBox #1"));
        QCOMPARE(header.cell(HeaderCol::What, 2), QStringLiteral("Sender"));
        QCOMPARE(header.cell(HeaderCol::What, 0), header.layout().headings.value(HeaderCol::What));
        QVERIFY(!AddMyselfFromPopToHeader(header, QStringLiteral("bob")));
        QCOMPARE(header.rowCount(), 3);
    }

    void execFieldCodesAreDropped()
    {
        QCOMPARE(desktopExecCommand("[Desktop Entry]\nExec=/opt/mail/bin/mail --compose %U 100%% %i\n"),
                 QStringLiteral("/opt/mail/bin/mail --compose 100%"));
        QVERIFY(desktopExecCommand("[Other]\nExec=x\n").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMailImport)
#include "tst_mailimport.moc"
