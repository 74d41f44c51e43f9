// First-use import: Windows mail programs through a fake registry, the
// Thunderbird account from sample profiles, and the desktop's mail program.

#include "mail/dialupprocess.h"
#include "rules/rulelist.h"
#include "rules/ruletexts.h"
#include "settings/mailimport.h"
#include "settings/mailimportheaderrule.h"

#include <QHash>
#include <QtTest>

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

class FakeXdgMime : public CommandRunner
{
public:
    QString handler;
    bool installed = true;
    bool available(const QString &program) const override { return installed && program == QLatin1String("xdg-mime"); }
    CommandResult run(const QString &, const QStringList &args, int) override
    {
        CommandResult result;
        result.started = true;
        result.exitCode = args == QStringList{QStringLiteral("query"), QStringLiteral("default"),
                                              QStringLiteral("x-scheme-handler/mailto")} ? 0 : 1;
        result.output = handler.toUtf8() + "\n";
        return result;
    }
    std::unique_ptr<RunningCommand> start(const QString &, const QStringList &,
                                          std::function<void(const CommandResult &)>) override
    {
        return nullptr;
    }
};

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
        reg.set(PlatformSettings::Root::LocalMachine, EudoraKey, QStringLiteral("Path"), QStringLiteral("C:\\Eudora\\"));
        reg.files << QStringLiteral("C:\\Eudora\\Eudora.ini");
        reg.profiles.insert(QStringLiteral("C:\\Eudora\\Eudora.ini|Settings|POPAccount"), QStringLiteral("pop.isp.net"));
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
        reg.set(PlatformSettings::Root::LocalMachine, EudoraKey, QStringLiteral("Path"), QStringLiteral("C:\\E\\eudora.exe"));
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

    void thunderbirdFillsMailbox1FromTheFirstPopAccount()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        MailImport import(platform, runner, {Fixtures + QStringLiteral("/missing"), Fixtures + QStringLiteral("/home/.thunderbird")}, {});
        MailboxConfig m = emptyMailbox1();
        import.importMailbox(m);
        // account3 (IMAP) is listed first, then account2 with a POP3 server on port 1995.
        QCOMPARE(m.server, QStringLiteral("pop.example.org:1995"));
        QCOMPARE(m.mailbox, QStringLiteral("jane.doe"));
        QCOMPARE(m.security, MailSecurity::SslTls);
    }

    void thunderbirdWithoutAccountListUsesServerNumbersAndRealNames()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        MailImport import(platform, runner, {Fixtures + QStringLiteral("/legacy/.thunderbird")}, {});
        const std::optional<PopAccount> account = import.thunderbirdAccount();
        QVERIFY(account);
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

    void prefsWithoutPopAccountGiveNothing()
    {
        QVERIFY(!firstPopAccount("user_pref(\"mail.server.server1.type\", \"imap\");\n"
                                 "user_pref(\"mail.server.server1.hostname\", \"imap.x\");\n"));
        QVERIFY(!firstPopAccount(QByteArrayLiteral("\x00\xff garbage (((")));
        const auto plain = firstPopAccount("user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                                           "user_pref(\"mail.server.server1.hostname\", \"pop.x\");\n"
                                           "user_pref(\"mail.server.server1.port\", 110);\n");
        QVERIFY(plain);
        QCOMPARE(plain->server, QStringLiteral("pop.x"));
        QCOMPARE(plain->security, MailSecurity::None);
    }

    void mailProgramFromTheDesktopMailtoHandler()
    {
        SystemPlatformSettings platform;
        FakeXdgMime runner;
        runner.handler = QStringLiteral("org.mozilla.Thunderbird.desktop");
        MailImport import(platform, runner, {}, {Fixtures + QStringLiteral("/nowhere"), Fixtures + QStringLiteral("/applications")});
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
