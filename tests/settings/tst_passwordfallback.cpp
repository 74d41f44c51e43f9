// Mailbox passwords without a desktop keyring: no D-Bus session bus, as for
// a console check over SSH or on a CI machine. They stay scrambled in the
// settings file, nothing waits, and the General settings window says so.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "settings/frmgeneral.h"
#include "settings/mailboxpasswords.h"
#include "settings/passwordvault.h"
#include "settings/scramble.h"
#include "support/failuretext.h"
#include "support/scriptedprompts.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

class TestPasswordFallback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void vaultWithoutBusAnswersAtOnce_data();
    void vaultWithoutBusAnswersAtOnce();
    void passwordsStayScrambledInFile();
    void windowSaysSettingsFile();
    void keyringPasswordOutOfReachNamesTheWaysOut();
    void entryNames();

private:
    QTemporaryDir m_dir;
};

void TestPasswordFallback::initTestCase()
{
    // No display to start a bus for, and no bus in the runtime folder.
    qunsetenv("DISPLAY");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath(QStringLiteral("no-bus"))));
}

void TestPasswordFallback::vaultWithoutBusAnswersAtOnce_data()
{
    QTest::addColumn<bool>("addressSet");
    QTest::newRow("bus address where nothing listens") << true;
    QTest::newRow("no bus address") << false;
}

void TestPasswordFallback::vaultWithoutBusAnswersAtOnce()
{
    QFETCH(bool, addressSet);
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!addressSet)
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const auto restore = qScopeGuard([&] { qputenv("DBUS_SESSION_BUS_ADDRESS", address); });
    PasswordVault vault;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!vault.isAvailable());
    QCOMPARE(vault.read(QStringLiteral("a@b")).answer, PasswordVault::Answer::Unavailable);
    QVERIFY(!vault.write(QStringLiteral("a@b"), QStringLiteral("pw")));
    QVERIFY(!vault.remove(QStringLiteral("a@b")));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!vault.errorString().isEmpty());
}

void TestPasswordFallback::passwordsStayScrambledInFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("mailsieve.conf"));
    PasswordVault vault;
    {
        SettingsStore store(path);
        store.setPasswordVault(&vault);
        GeneralSettings settings;
        const auto configure = [&](int n, const QString &user, const QString &password) {
            MailboxConfig &mailbox = settings.mailboxes[n - 1];
            mailbox.server = QStringLiteral("pop.example.org");
            mailbox.mailbox = user;
            mailbox.password = password;
        };
        configure(1, QStringLiteral("lee"), QStringLiteral("pw lee"));
        configure(7, QStringLiteral("max"), QStringLiteral("pw max"));
        QVERIFY(settings.saveServerSettings(store).ok());
        QCOMPARE(passwordPlace(store), PasswordPlace::SettingsFile);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.contains("Passwd1=" + escapeSettingText(ScramblePassword(QStringLiteral("pw lee"), passwordKey(1)))));
    QVERIFY(bytes.contains("Passwd7=" + escapeSettingText(ScramblePassword(QStringLiteral("pw max"), passwordKey(7)))));
    QVERIFY(!bytes.contains("pw lee"));

    SettingsStore reread(path);
    reread.setPasswordVault(&vault);
    GeneralSettings settings;
    QVERIFY(settings.readServerSettings(reread));
    QCOMPARE(settings.mailboxes[0].password, QStringLiteral("pw lee"));
    QCOMPARE(GetRemotePOPSettings(reread, 7).password, QStringLiteral("pw max"));

    // A store without any vault (a program that never asks a keyring) reads the same.
    SettingsStore plain(path);
    QCOMPARE(GetRemotePOPSettings(plain, 1).password, QStringLiteral("pw lee"));
    QCOMPARE(passwordPlace(plain), PasswordPlace::SettingsFile);
}

void TestPasswordFallback::windowSaysSettingsFile()
{
    QTemporaryDir folder;
    SettingsStore store(folder.filePath(QStringLiteral("mailsieve.conf")));
    PasswordVault vault;
    store.setPasswordVault(&vault);
    GeneralSettings settings;
    ScriptedPrompts prompts;
    TfrmGeneral window(TfrmGeneral::Links{settings, store, prompts, folder.path()});
    window.show();
    QCOMPARE(window.lblPasswordPlace->text(),
             QStringLiteral("Passwords are kept scrambled in mailsieve.conf (no desktop keyring available)."));
    QVERIFY(window.lblPasswordPlace->isVisibleTo(window.tsMailboxes));
}

// What a check from cron meets once an OK with a keyring moved the password
// there: the file holds no "Passwd<n>".
void TestPasswordFallback::keyringPasswordOutOfReachNamesTheWaysOut()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("mailsieve.conf"));
    const QByteArray written = "[Server]\nServer1=pop.example.org\nMailbox1=kim\nPasswd1="
                               + escapeSettingText(ScramblePassword(QStringLiteral("pw"), passwordKey(1)))
                               + "\nServer3=pop.example.org\nMailbox3=lee\nAuth3=Password\n";
    QVERIFY(writeFile(path, written));
    PasswordVault vault;
    SettingsStore store(path);
    store.setPasswordVault(&vault);

    const MailboxLogin lee = GetRemotePOPSettings(store, 3);
    QVERIFY(lee.password.isEmpty());
    QCOMPARE(lee.missingPasswordText,
             QStringLiteral("Mailbox 3 (lee at pop.example.org): its password is kept in the desktop keyring, which "
                            "this session cannot reach. Run the check inside the desktop session, set "
                            "MAILSIEVE_PASSWORD to the password, or tick \"Keep this password in the settings "
                            "file\" for this mailbox in the General settings."));
    QVERIFY(GetRemotePOPSettings(store, 1).missingPasswordText.isEmpty());

    TmsRemotePOP client;
    applyMailboxLogin(lee, client);
    QCOMPARE(failure<ESocketError>([&] { client.UpdateInfo(); }), lee.missingPasswordText);

    // The window shows it empty; an OK then leaves it where it is.
    GeneralSettings settings;
    QVERIFY(settings.readServerSettings(store));
    QVERIFY(settings.mailboxes[2].secretUnreachable);
    QVERIFY(!settings.mailboxes[0].secretUnreachable);
    QCOMPARE(settings.saveServerSettings(store).mailbox, 3); // written, then found without a password
    QVERIFY(!readFile(path).contains("Passwd3"));
}

void TestPasswordFallback::entryNames()
{
    QCOMPARE(passwordEntryName(QStringLiteral("POP.Example.ORG:995"), QStringLiteral("Me.Myself")),
             QStringLiteral("Me.Myself@pop.example.org:995"));
    QVERIFY(passwordEntryName(QString(), QStringLiteral("me")).isEmpty());
    QVERIFY(passwordEntryName(QStringLiteral("pop.example.org"), QString()).isEmpty());
    QVERIFY(passwordPlaceText(PasswordPlace::Keyring) != passwordPlaceText(PasswordPlace::SettingsFile));
}

QTEST_MAIN(TestPasswordFallback)
#include "tst_passwordfallback.moc"
