// Mailbox passwords in a real desktop keyring: a private gnome-keyring on a
// private D-Bus session bus. The settings are "restarted" by reading the
// same folder with new store, vault and settings objects.

#include "settings/frmgeneral.h"
#include "settings/mailboxpasswords.h"
#include "settings/passwordvault.h"
#include "settings/scramble.h"
#include "support/scriptedprompts.h"
#include "support/secretservice.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// The settings of one program run over a settings folder.
struct Run
{
    explicit Run(const QString &folder, bool withKeyring = true) : store(folder + QStringLiteral("/mailsieve.conf"))
    {
        if (withKeyring)
            store.setPasswordVault(&vault);
        settings.readServerSettings(store);
    }

    MailboxConfig &mailbox(int n) { return settings.mailboxes[n - 1]; }
    void set(int n, const QString &server, const QString &user, const QString &password)
    {
        mailbox(n).server = server;
        mailbox(n).mailbox = user;
        mailbox(n).password = password;
    }
    ServerSaveResult save() { return settings.saveServerSettings(store); }

    PasswordVault vault;
    SettingsStore store;
    GeneralSettings settings;
};

QByteArray fileBytes(const QString &folder)
{
    return readFile(folder + QStringLiteral("/mailsieve.conf"));
}

// The file holds neither mailbox n's password nor its scrambled form, nor
// any "Passwd" value at all.
bool fileHoldsNoPassword(const QString &folder, int n, const QString &password)
{
    const QByteArray bytes = fileBytes(folder);
    const QByteArray scrambled = escapeSettingText(ScramblePassword(password, passwordKey(n)));
    return bytes.contains("[Server]") && !bytes.contains(password.toUtf8()) && !bytes.contains(scrambled)
           && !bytes.contains("Passwd");
}

} // namespace

class TestKeyringPasswords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MS_START_SECRET_SERVICE(m_service); }
    void cleanup() { m_service.freezeKeyring(false); }

    void vaultKeepsReadsAndRemovesEntries();
    void passwordSurvivesRestartAndStaysOutOfFile();
    void passwordLivesInKeyringOnly();
    void scrambledPasswordMovesToKeyringOnSave();
    void changedAccountLeavesNoEntryBehind();
    void sharedAccountEntryStaysWhileNamed();
    void emptiedPasswordKeepsTheEntry();
    void scrambledValueIsNewerThanKeyring();
    void passwordKeptInTheFileLeavesTheKeyring();
    void silentKeyringCostsOneTimeOut();
    void windowSaysKeyring();
    void goneKeyringFallsBackToScrambledFile();

private:
    SecretService m_service;
};

void TestKeyringPasswords::vaultKeepsReadsAndRemovesEntries()
{
    PasswordVault vault;
    QVERIFY(vault.isAvailable());
    const QString key = QStringLiteral("vault-test@example.org");
    QCOMPARE(vault.read(key).answer, PasswordVault::Answer::NotFound);
    const QString secret = QStringLiteral("pä ss \"wörd\" %00");
    QVERIFY2(vault.write(key, secret), qPrintable(vault.errorString()));
    const PasswordVault::Lookup found = vault.read(key);
    QCOMPARE(found.answer, PasswordVault::Answer::Ok);
    QCOMPARE(found.secret, secret);
    QVERIFY(vault.remove(key));
    QCOMPARE(vault.read(key).answer, PasswordVault::Answer::NotFound);
    QVERIFY(vault.remove(key)); // nothing left to remove is no failure
    // Another service name is another set of entries.
    QVERIFY(vault.write(key, secret));
    PasswordVault other(QStringLiteral("Mailsieve-other"));
    QCOMPARE(other.read(key).answer, PasswordVault::Answer::NotFound);
    QVERIFY(vault.remove(key));
}

void TestKeyringPasswords::passwordSurvivesRestartAndStaysOutOfFile()
{
    QTemporaryDir folder;
    {
        Run run(folder.path());
        run.set(1, QStringLiteral("pop.example.org"), QStringLiteral("alice"), QStringLiteral("first secret"));
        run.set(3, QStringLiteral("Mail.Example.NET:995"), QStringLiteral("bob"), QStringLiteral("second=secret#"));
        QVERIFY(run.save().ok());
    }
    QVERIFY2(fileHoldsNoPassword(folder.path(), 1, QStringLiteral("first secret")),
             fileBytes(folder.path()).constData());
    QVERIFY(fileHoldsNoPassword(folder.path(), 3, QStringLiteral("second=secret#")));
    QVERIFY(fileBytes(folder.path()).contains("Server3=Mail.Example.NET:995"));

    Run restarted(folder.path());
    QCOMPARE(restarted.mailbox(1).password, QStringLiteral("first secret"));
    QCOMPARE(restarted.mailbox(3).password, QStringLiteral("second=secret#"));
    QVERIFY(restarted.mailbox(2).password.isEmpty());
    QCOMPARE(GetRemotePOPSettings(restarted.store, 3).password, QStringLiteral("second=secret#"));
    QCOMPARE(restarted.vault.read(QStringLiteral("bob@mail.example.net:995")).secret, QStringLiteral("second=secret#"));
}

void TestKeyringPasswords::passwordLivesInKeyringOnly()
{
    QTemporaryDir folder;
    {
        Run run(folder.path());
        run.set(1, QStringLiteral("pop.example.org"), QStringLiteral("carol"), QStringLiteral("only there"));
        QVERIFY(run.save().ok());
    }
    Run withoutKeyring(folder.path(), false);
    QCOMPARE(withoutKeyring.mailbox(1).mailbox, QStringLiteral("carol"));
    QVERIFY(withoutKeyring.mailbox(1).password.isEmpty());
    QCOMPARE(passwordPlace(withoutKeyring.store), PasswordPlace::SettingsFile);
    QVERIFY(GetRemotePOPSettings(withoutKeyring.store, 1).password.isEmpty());
}

void TestKeyringPasswords::scrambledPasswordMovesToKeyringOnSave()
{
    QTemporaryDir folder;
    {
        Run old(folder.path(), false);
        old.set(2, QStringLiteral("pop.old.example"), QStringLiteral("dave"), QStringLiteral("from before"));
        QVERIFY(old.save().ok());
    }
    const QByteArray scrambled = escapeSettingText(ScramblePassword(QStringLiteral("from before"), passwordKey(2)));
    QVERIFY(fileBytes(folder.path()).contains("Passwd2=" + scrambled));

    Run run(folder.path());
    QCOMPARE(run.mailbox(2).password, QStringLiteral("from before")); // read from the file
    QCOMPARE(run.vault.read(passwordEntryName(QStringLiteral("pop.old.example"), QStringLiteral("dave"))).answer,
             PasswordVault::Answer::NotFound);
    QVERIFY(run.save().ok());
    QVERIFY(fileHoldsNoPassword(folder.path(), 2, QStringLiteral("from before")));

    Run restarted(folder.path());
    QCOMPARE(restarted.mailbox(2).password, QStringLiteral("from before"));
    QCOMPARE(restarted.vault.read(QStringLiteral("dave@pop.old.example")).secret, QStringLiteral("from before"));
}

void TestKeyringPasswords::changedAccountLeavesNoEntryBehind()
{
    QTemporaryDir folder;
    Run run(folder.path());
    run.set(1, QStringLiteral("pop.example.org"), QStringLiteral("erin"), QStringLiteral("pw erin"));
    run.set(2, QStringLiteral("pop.example.org"), QStringLiteral("frank"), QStringLiteral("pw frank"));
    QVERIFY(run.save().ok());
    run.mailbox(1).mailbox = QStringLiteral("erin2");
    run.set(2, QString(), QString(), QString());
    QVERIFY(run.save().ok());
    QCOMPARE(run.vault.read(QStringLiteral("erin@pop.example.org")).answer, PasswordVault::Answer::NotFound);
    QCOMPARE(run.vault.read(QStringLiteral("frank@pop.example.org")).answer, PasswordVault::Answer::NotFound);
    QCOMPARE(run.vault.read(QStringLiteral("erin2@pop.example.org")).secret, QStringLiteral("pw erin"));
    QVERIFY(fileHoldsNoPassword(folder.path(), 1, QStringLiteral("pw erin")));
}

void TestKeyringPasswords::sharedAccountEntryStaysWhileNamed()
{
    QTemporaryDir folder;
    Run run(folder.path());
    run.set(4, QStringLiteral("pop.example.org"), QStringLiteral("gina"), QStringLiteral("pw gina"));
    run.set(5, QStringLiteral("POP.example.org"), QStringLiteral("gina"), QStringLiteral("pw gina"));
    QVERIFY(run.save().ok());
    run.set(4, QStringLiteral("pop.other.org"), QStringLiteral("gina"), QStringLiteral("pw other"));
    QVERIFY(run.save().ok());
    // Mailbox 5 still names the account mailbox 4 left.
    Run restarted(folder.path());
    QCOMPARE(restarted.mailbox(5).password, QStringLiteral("pw gina"));
    QCOMPARE(restarted.mailbox(4).password, QStringLiteral("pw other"));
}

void TestKeyringPasswords::emptiedPasswordKeepsTheEntry()
{
    QTemporaryDir folder;
    Run run(folder.path());
    run.set(6, QStringLiteral("pop.example.org"), QStringLiteral("hal"), QStringLiteral("pw hal"));
    QVERIFY(run.save().ok());
    // Shown empty (say the keyring did not answer when it was read) and saved.
    run.mailbox(6).password.clear();
    const ServerSaveResult refused = run.save();
    QCOMPARE(refused.mailbox, 6);
    QCOMPARE(refused.field, MailboxField::Password);
    QVERIFY(!fileBytes(folder.path()).contains("Passwd"));
    QCOMPARE(Run(folder.path()).mailbox(6).password, QStringLiteral("pw hal"));
}

void TestKeyringPasswords::scrambledValueIsNewerThanKeyring()
{
    QTemporaryDir folder;
    {
        Run run(folder.path());
        run.set(1, QStringLiteral("pop.example.org"), QStringLiteral("hank"), QStringLiteral("older"));
        QVERIFY(run.save().ok());
    }
    {
        // A save while the keyring did not answer.
        Run run(folder.path(), false);
        run.mailbox(1).password = QStringLiteral("newer");
        QVERIFY(run.save().ok());
    }
    Run back(folder.path());
    QCOMPARE(back.mailbox(1).password, QStringLiteral("newer"));
    QCOMPARE(back.vault.read(QStringLiteral("hank@pop.example.org")).secret, QStringLiteral("older"));
    QVERIFY(back.save().ok());
    QVERIFY(fileHoldsNoPassword(folder.path(), 1, QStringLiteral("newer")));
    QCOMPARE(back.vault.read(QStringLiteral("hank@pop.example.org")).secret, QStringLiteral("newer"));
}

void TestKeyringPasswords::silentKeyringCostsOneTimeOut()
{
    QTemporaryDir folder;
    Run run(folder.path());
    run.set(1, QStringLiteral("pop.example.org"), QStringLiteral("ivy"), QStringLiteral("pw ivy"));
    run.set(2, QStringLiteral("pop.example.org"), QStringLiteral("jack"), QStringLiteral("pw jack"));
    PasswordVault slow(PasswordVault::DefaultService, 1000ms);
    run.store.setPasswordVault(&slow);

    m_service.freezeKeyring(true);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(run.save().ok());
    QVERIFY(!slow.isAvailable());
    // One wait for the first mailbox; neither the second one nor the
    // question afterwards waits again (the timer may fire up to 5 % early;
    // three waits would take 2.85 s at least).
    QVERIFY2(timer.elapsed() >= 900 && timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(slow.errorString().contains(QStringLiteral("did not answer")));
    m_service.freezeKeyring(false);

    // The keyring takes the abandoned write once it runs again; the job then
    // deletes itself. The file's value is read first, so nothing disagrees.
    QTRY_COMPARE(PasswordVault().read(QStringLiteral("ivy@pop.example.org")).secret, QStringLiteral("pw ivy"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Run restarted(folder.path(), false); // the file alone has both passwords
    QCOMPARE(restarted.mailbox(1).password, QStringLiteral("pw ivy"));
    QCOMPARE(restarted.mailbox(2).password, QStringLiteral("pw jack"));
}

void TestKeyringPasswords::windowSaysKeyring()
{
    QTemporaryDir folder;
    Run run(folder.path());
    ScriptedPrompts prompts;
    TfrmGeneral window(TfrmGeneral::Links{run.settings, run.store, prompts, folder.path()});
    window.show();
    QCOMPARE(window.lblPasswordPlace->text(), passwordPlaceText(PasswordPlace::Keyring));
    QVERIFY(window.lblPasswordPlace->text().contains(QStringLiteral("desktop keyring")));
    window.row(1).edServe->setText(QStringLiteral("pop.example.org"));
    window.row(1).edMailbox->setText(QStringLiteral("kim"));
    window.row(1).edPasswd->setText(QStringLiteral("typed in the window"));
    window.btOKClick();
    QVERIFY(!window.isVisible());
    QVERIFY(fileHoldsNoPassword(folder.path(), 1, QStringLiteral("typed in the window")));
    QCOMPARE(Run(folder.path()).mailbox(1).password, QStringLiteral("typed in the window"));
}

// Last: the keyring library of this process does not take up a keyring
// daemon started after this one went away.
void TestKeyringPasswords::goneKeyringFallsBackToScrambledFile()
{
    QTemporaryDir folder;
    Run run(folder.path());
    ScriptedPrompts prompts;
    TfrmGeneral window(TfrmGeneral::Links{run.settings, run.store, prompts, folder.path()});
    window.show();
    QCOMPARE(window.lblPasswordPlace->text(), passwordPlaceText(PasswordPlace::Keyring));
    window.hide();

    m_service.stopKeyring();
    window.show();
    QCOMPARE(window.lblPasswordPlace->text(), passwordPlaceText(PasswordPlace::SettingsFile));
    QVERIFY(window.lblPasswordPlace->text().contains(QStringLiteral("mailsieve.conf")));
    window.row(2).edServe->setText(QStringLiteral("pop.example.org"));
    window.row(2).edMailbox->setText(QStringLiteral("lou"));
    window.row(2).edPasswd->setText(QStringLiteral("kept in the file"));
    window.btOKClick();
    QVERIFY(!window.isVisible());
    QVERIFY(fileBytes(folder.path())
                .contains("Passwd2="
                          + escapeSettingText(ScramblePassword(QStringLiteral("kept in the file"), passwordKey(2)))));
    QCOMPARE(Run(folder.path(), false).mailbox(2).password, QStringLiteral("kept in the file"));
}

// "Keep this password in the settings file": for checks outside the desktop
// session, which cannot reach the keyring.
void TestKeyringPasswords::passwordKeptInTheFileLeavesTheKeyring()
{
    QTemporaryDir folder;
    const QString entry = passwordEntryName(QStringLiteral("pop.example.org"), QStringLiteral("kim"));
    {
        Run run(folder.path());
        run.set(2, QStringLiteral("pop.example.org"), QStringLiteral("kim"), QStringLiteral("pw kim"));
        QVERIFY(run.save().ok());
        QCOMPARE(run.vault.read(entry).secret, QStringLiteral("pw kim"));
        run.mailbox(2).keepPasswordInFile = true;
        QVERIFY(run.save().ok());
        QCOMPARE(run.vault.read(entry).answer, PasswordVault::Answer::NotFound);
    }
    const QByteArray bytes = fileBytes(folder.path());
    QVERIFY(bytes.contains("Passwd2=" + escapeSettingText(ScramblePassword(QStringLiteral("pw kim"), passwordKey(2)))));
    QVERIFY(bytes.contains("KeepPassword2=1\n"));
    {
        Run withoutKeyring(folder.path(), false);
        QCOMPARE(withoutKeyring.mailbox(2).password, QStringLiteral("pw kim"));
    }
    // Unticked, it moves back at the next save.
    Run run(folder.path());
    QVERIFY(run.mailbox(2).keepPasswordInFile);
    run.mailbox(2).keepPasswordInFile = false;
    QVERIFY(run.save().ok());
    QVERIFY(fileHoldsNoPassword(folder.path(), 2, QStringLiteral("pw kim")));
    QCOMPARE(run.vault.read(entry).secret, QStringLiteral("pw kim"));
    QVERIFY(run.vault.remove(entry));
}

QTEST_MAIN(TestKeyringPasswords)
#include "tst_keyringpasswords.moc"
