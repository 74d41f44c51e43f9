// The sign-in method of a mailbox in the settings: its names, the stored
// "Auth<n>" and OAuth values, what a save keeps and drops, the checks before
// saving, and what the POP3 client is given.

#include "settings/generalsettings.h"
#include "settings/mailboxpasswords.h"
#include "settings/passwordvault.h"
#include "settings/signinmethod.h"
#include "support/secretservice.h"
#include "support/testfiles.h"

#include "mail/pop3client.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Other = QStringLiteral("OAuth 2.0 (other)");

OAuthClientConfig typedValues(const QString &tag)
{
    return {QStringLiteral("https://auth.example.org/authorize/") + tag,
            QStringLiteral("https://auth.example.org/token/") + tag, QStringLiteral("pop ") + tag,
            QStringLiteral("client-") + tag, QStringLiteral("secret-") + tag};
}

MailboxConfig configured(int n, SignInMethod method)
{
    MailboxConfig mailbox;
    mailbox.number = n;
    mailbox.server = QStringLiteral("pop.example.org");
    mailbox.mailbox = QStringLiteral("ann");
    mailbox.signIn = method;
    if (isOAuth(method))
        mailbox.oauth = typedValues(QString::number(n));
    else
        mailbox.password = QStringLiteral("pw");
    return mailbox;
}

} // namespace

class TestSignInSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(storePath()); }

    // The methods.
    void namesReadBackInAnyCase();
    void endpointsMustBeHttpsOrOnThisComputer_data();
    void endpointsMustBeHttpsOrOnThisComputer();
    void plainTextWarningOnlyForPasswordsWithoutTls_data();
    void plainTextWarningOnlyForPasswordsWithoutTls();

    // The store.
    void missingOrUnknownAuthReadsAsPassword();
    void everyMethodRoundTrips();
    void valuesOfOtherMethodsAreRemoved();
    void oauthMailboxKeepsNoPassword();
    void oauthMailboxDropsItsKeyringPassword();
    void refreshTokenGoesWithTheLastMailboxUsingIt();
    void clientSecretIsKeptLikeThePassword_data();
    void clientSecretIsKeptLikeThePassword();
    void clearClientSecretOfAnEarlierVersionMoves();
    void clientSecretGoesToTheKeyring();

    // Checks before saving.
    void oauthChecksNameTheMailboxAndField_data();
    void oauthChecksNameTheMailboxAndField();
    void controlCharactersInOAuthValuesAreRefused_data();
    void controlCharactersInOAuthValuesAreRefused();

    // What signing in is given.
    void loginCarriesTheEffectiveOAuthValues();
    void clientGetsTheAuthMethod_data();
    void clientGetsTheAuthMethod();

private:
    QString storePath() const { return m_dir.filePath(QStringLiteral("mailsieve.conf")); }
    QTemporaryDir m_dir;
    SecretService m_service;
};

void TestSignInSettings::namesReadBackInAnyCase()
{
    const QStringList names = {
        QStringLiteral("Password"),           QStringLiteral("Password (SASL PLAIN)"), QStringLiteral("APOP"),
        QStringLiteral("OAuth 2.0 (Google)"), QStringLiteral("OAuth 2.0 (Microsoft)"), Other};
    for (const QString &name : names) {
        const std::optional<SignInMethod> method = signInMethodFromName(name.toLower());
        QVERIFY2(method.has_value(), qPrintable(name));
        QCOMPARE(signInMethodName(*method), name);
    }
    QVERIFY(!signInMethodFromName(QStringLiteral("Kerberos")));
    QVERIFY(!signInMethodFromName(QString()));
}

void TestSignInSettings::endpointsMustBeHttpsOrOnThisComputer_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("https") << "https://login.example.org/oauth2/token" << true;
    QTest::newRow("HTTPS in capitals") << "HTTPS://login.example.org/token" << true;
    QTest::newRow("http on 127.0.0.1") << "http://127.0.0.1:8123/token" << true;
    QTest::newRow("http on another loopback address") << "http://127.0.0.2/token" << true;
    QTest::newRow("http on ::1") << "http://[::1]:8123/authorize" << true;
    QTest::newRow("http on localhost") << "http://localhost:8123/authorize" << true;
    QTest::newRow("http elsewhere") << "http://login.example.org/token" << false;
    QTest::newRow("http on a LAN address") << "http://192.168.1.5/token" << false;
    QTest::newRow("loopback-looking host name") << "http://127.0.0.1.example.org/token" << false;
    QTest::newRow("other scheme") << "ftp://login.example.org/token" << false;
    QTest::newRow("no host") << "https:///token" << false;
    QTest::newRow("not a URL") << "login.example.org/token" << false;
    QTest::newRow("empty") << "" << false;
}

void TestSignInSettings::endpointsMustBeHttpsOrOnThisComputer()
{
    QFETCH(QString, url);
    QFETCH(bool, acceptable);
    QCOMPARE(isAcceptableOAuthEndpoint(url), acceptable);
}

void TestSignInSettings::plainTextWarningOnlyForPasswordsWithoutTls_data()
{
    QTest::addColumn<MailSecurity>("security");
    QTest::addColumn<SignInMethod>("method");
    QTest::addColumn<bool>("plain");
    QTest::newRow("USER/PASS without TLS") << MailSecurity::None << SignInMethod::Password << true;
    QTest::newRow("SASL PLAIN without TLS") << MailSecurity::None << SignInMethod::SaslPlain << true;
    QTest::newRow("APOP sends a digest") << MailSecurity::None << SignInMethod::Apop << false;
    QTest::newRow("USER/PASS over STARTTLS") << MailSecurity::StartTls << SignInMethod::Password << false;
    QTest::newRow("SASL PLAIN over TLS") << MailSecurity::SslTls << SignInMethod::SaslPlain << false;
}

void TestSignInSettings::plainTextWarningOnlyForPasswordsWithoutTls()
{
    QFETCH(MailSecurity, security);
    QFETCH(SignInMethod, method);
    QFETCH(bool, plain);
    MailboxConfig mailbox = configured(1, method);
    mailbox.security = security;
    QCOMPARE(sendsPasswordInPlainText(mailbox), plain);
}

void TestSignInSettings::missingOrUnknownAuthReadsAsPassword()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer1=pop.example.org\nMailbox1=ann\n"
                                   "Server2=pop.example.org\nMailbox2=bob\nAuth2=Kerberos\n"
                                   "Server3=pop.example.org\nMailbox3=cy\nAuth3=apop\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    QVERIFY(settings.readServerSettings(store));
    QCOMPARE(settings.mailboxes[0].signIn, SignInMethod::Password);
    QCOMPARE(settings.mailboxes[1].signIn, SignInMethod::Password);
    QCOMPARE(settings.mailboxes[2].signIn, SignInMethod::Apop);
    QCOMPARE(settings.mailboxes[4].signIn, SignInMethod::Password);
    QCOMPARE(GetRemotePOPSettings(store, 2).signIn, SignInMethod::Password);
}

void TestSignInSettings::everyMethodRoundTrips()
{
    GeneralSettings written;
    const SignInMethod methods[] = {SignInMethod::Password,    SignInMethod::SaslPlain,      SignInMethod::Apop,
                                    SignInMethod::OAuthGoogle, SignInMethod::OAuthMicrosoft, SignInMethod::OAuthOther};
    for (int i = 0; i < 6; ++i)
        written.mailboxes[i] = configured(i + 1, methods[i]);
    SettingsStore store(storePath());
    QVERIFY(written.saveServerSettings(store).ok());

    GeneralSettings read;
    SettingsStore reread(storePath());
    QVERIFY(read.readServerSettings(reread));
    for (int i = 0; i < 6; ++i) {
        const MailboxConfig &mailbox = read.mailboxes[i];
        QCOMPARE(mailbox.signIn, methods[i]);
        QCOMPARE(mailbox.password, isOAuth(methods[i]) ? QString() : QStringLiteral("pw"));
    }
    // A provider's endpoints are its own: only the client is the mailbox's.
    const OAuthClientConfig google = read.mailboxes[3].oauth;
    QCOMPARE(google.clientId, QStringLiteral("client-4"));
    QCOMPARE(google.clientSecret, QStringLiteral("secret-4"));
    QVERIFY(google.authorizationUrl.isEmpty() && google.tokenUrl.isEmpty() && google.scope.isEmpty());
    QCOMPARE(read.mailboxes[5].oauth, typedValues(QStringLiteral("6")));

    const QByteArray file = readFile(storePath());
    for (const char *line :
         {"Auth1=Password\n", "Auth2=Password (SASL PLAIN)\n", "Auth3=APOP\n", "Auth4=OAuth 2.0 (Google)\n",
          "Auth5=OAuth 2.0 (Microsoft)\n", "Auth6=OAuth 2.0 (other)\n", "Auth7=Password\n", "OAuthClient4=client-4\n",
          "OAuthSecretScrambled5=", "OAuthAuthorize6=https://auth.example.org/authorize/6\n",
          "OAuthToken6=https://auth.example.org/token/6\n", "OAuthScope6=pop 6\n"})
        QVERIFY2(file.contains(line), line);
    for (const char *absent : {"OAuthClient1", "OAuthClient3", "OAuthAuthorize4", "OAuthScope5", "secret-"})
        QVERIFY2(!file.contains(absent), absent);
}

void TestSignInSettings::valuesOfOtherMethodsAreRemoved()
{
    GeneralSettings settings;
    settings.mailboxes[2] = configured(3, SignInMethod::OAuthOther);
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    QVERIFY(readFile(storePath()).contains("OAuthScope3="));

    settings.mailboxes[2].signIn = SignInMethod::OAuthMicrosoft;
    QVERIFY(settings.saveServerSettings(store).ok());
    QByteArray file = readFile(storePath());
    QVERIFY(file.contains("OAuthClient3=client-3\n"));
    QVERIFY(file.contains("OAuthSecretScrambled3="));
    for (const char *gone : {"OAuthAuthorize3", "OAuthToken3", "OAuthScope3"})
        QVERIFY2(!file.contains(gone), gone);

    settings.mailboxes[2].signIn = SignInMethod::Apop;
    settings.mailboxes[2].password = QStringLiteral("pw");
    QVERIFY(settings.saveServerSettings(store).ok());
    file = readFile(storePath());
    QVERIFY(!file.contains("OAuth"));
    QVERIFY(file.contains("Auth3=APOP\n"));
}

void TestSignInSettings::oauthMailboxKeepsNoPassword()
{
    GeneralSettings settings;
    settings.mailboxes[1] = configured(2, SignInMethod::OAuthGoogle);
    settings.mailboxes[1].password = QStringLiteral("typed before the switch");
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    SettingsStore reread(storePath());
    QVERIFY(reread.value(SettingsStore::Server, QStringLiteral("Passwd2")).isEmpty());
    QVERIFY(GetRemotePOPSettings(reread, 2).password.isEmpty());

    // A password stored while the mailbox used one is not read for a token sign-in.
    QVERIFY(writeFile(storePath(), readFile(storePath()).replace("Passwd2=", "Passwd2=x")));
    SettingsStore planted(storePath());
    QVERIFY(GetRemotePOPSettings(planted, 2).password.isEmpty());
}

void TestSignInSettings::oauthMailboxDropsItsKeyringPassword()
{
    MS_START_SECRET_SERVICE(m_service);
    PasswordVault vault;
    SettingsStore store(storePath());
    store.setPasswordVault(&vault);
    const QString ann = QStringLiteral("ann@pop.example.org");
    const QString bob = QStringLiteral("bob@pop.example.org");
    const QString annToken = QStringLiteral("oauth2:") + ann;
    QVERIFY(vault.write(annToken, QStringLiteral("refresh")));

    GeneralSettings settings;
    settings.mailboxes[0] = configured(1, SignInMethod::Password);
    settings.mailboxes[1] = configured(2, SignInMethod::SaslPlain);
    settings.mailboxes[1].mailbox = QStringLiteral("bob");
    settings.mailboxes[2] = configured(3, SignInMethod::Apop); // ann's account again
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(ann).secret, QStringLiteral("pw"));
    QCOMPARE(vault.read(bob).secret, QStringLiteral("pw"));

    // Mailbox 3 still signs in to ann's account with the password.
    settings.mailboxes[0].signIn = SignInMethod::OAuthGoogle;
    settings.mailboxes[0].oauth = typedValues(QStringLiteral("1"));
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(ann).answer, PasswordVault::Answer::Ok);

    settings.mailboxes[2].signIn = SignInMethod::OAuthOther;
    settings.mailboxes[2].oauth = typedValues(QStringLiteral("3"));
    settings.mailboxes[1].signIn = SignInMethod::OAuthMicrosoft;
    settings.mailboxes[1].oauth = typedValues(QStringLiteral("2"));
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(ann).answer, PasswordVault::Answer::NotFound);
    QCOMPARE(vault.read(bob).answer, PasswordVault::Answer::NotFound);
    QCOMPARE(vault.read(annToken).secret, QStringLiteral("refresh")); // the grant is not a password
    QVERIFY(!readFile(storePath()).contains("Passwd"));
    QVERIFY(vault.remove(annToken));
}

void TestSignInSettings::clientSecretIsKeptLikeThePassword_data()
{
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("a secret") << "s3cr+t" << QByteArray("OAuthSecretScrambled5=");
    // No secret is said in the clear, as it always was.
    QTest::newRow("none") << "" << QByteArray("OAuthSecret5=\n");
}

void TestSignInSettings::clientSecretIsKeptLikeThePassword()
{
    QFETCH(QString, secret);
    QFETCH(QByteArray, stored);
    GeneralSettings settings;
    settings.mailboxes[4] = configured(5, SignInMethod::OAuthMicrosoft);
    settings.mailboxes[4].oauth.clientSecret = secret;
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    const QByteArray file = readFile(storePath());
    QVERIFY(file.contains(stored));
    QCOMPARE(file.count("OAuthSecret"), 1);
    if (!secret.isEmpty())
        QVERIFY(!file.contains(secret.toUtf8()));

    SettingsStore reread(storePath());
    QCOMPARE(GetRemotePOPSettings(reread, 5).oauth.clientSecret, secret);
    GeneralSettings read;
    QVERIFY(read.readServerSettings(reread));
    QVERIFY(!read.mailboxes[4].secretUnreachable);
    QVERIFY(read.saveServerSettings(reread).ok());
    QCOMPARE(readFile(storePath()), file);
}

void TestSignInSettings::clearClientSecretOfAnEarlierVersionMoves()
{
    QVERIFY(writeFile(storePath(), "[Server]\nServer2=pop.example.org\nMailbox2=ann\nAuth2=OAuth 2.0 (Google)\n"
                                   "OAuthClient2=client-2\nOAuthSecret2=old secret\n"));
    SettingsStore store(storePath());
    GeneralSettings settings;
    QVERIFY(settings.readServerSettings(store));
    QCOMPARE(settings.mailboxes[1].oauth.clientSecret, QStringLiteral("old secret"));
    QCOMPARE(GetRemotePOPSettings(store, 2).oauth.clientSecret, QStringLiteral("old secret"));

    QVERIFY(settings.saveServerSettings(store).ok());
    const QByteArray file = readFile(storePath());
    QVERIFY(!file.contains("old secret"));
    QVERIFY(!file.contains("OAuthSecret2="));
    QVERIFY(file.contains("OAuthSecretScrambled2="));
    SettingsStore reread(storePath());
    QCOMPARE(GetRemotePOPSettings(reread, 2).oauth.clientSecret, QStringLiteral("old secret"));
}

void TestSignInSettings::clientSecretGoesToTheKeyring()
{
    MS_START_SECRET_SERVICE(m_service);
    PasswordVault vault;
    SettingsStore store(storePath());
    store.setPasswordVault(&vault);
    const QString entry = clientSecretEntryName(QStringLiteral("pop.example.org"), QStringLiteral("ann"));
    QCOMPARE(entry, QStringLiteral("oauth2-client:ann@pop.example.org"));

    GeneralSettings settings;
    settings.mailboxes[5] = configured(6, SignInMethod::OAuthOther);
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(entry).secret, QStringLiteral("secret-6"));
    QVERIFY(!readFile(storePath()).contains("OAuthSecret"));
    SettingsStore reread(storePath());
    reread.setPasswordVault(&vault);
    QCOMPARE(GetRemotePOPSettings(reread, 6).oauth.clientSecret, QStringLiteral("secret-6"));

    // Kept in the file on request, and then not in the keyring.
    settings.mailboxes[5].keepPasswordInFile = true;
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(entry).answer, PasswordVault::Answer::NotFound);
    QVERIFY(readFile(storePath()).contains("OAuthSecretScrambled6="));
    QCOMPARE(GetRemotePOPSettings(reread, 6).oauth.clientSecret, QStringLiteral("secret-6"));

    // A mailbox that no longer signs in with OAuth 2.0 keeps no secret anywhere.
    settings.mailboxes[5].keepPasswordInFile = false;
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(entry).answer, PasswordVault::Answer::Ok);
    settings.mailboxes[5].signIn = SignInMethod::Password;
    settings.mailboxes[5].password = QStringLiteral("pw");
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(entry).answer, PasswordVault::Answer::NotFound);
    QVERIFY(!readFile(storePath()).contains("OAuthSecret"));
    QVERIFY(vault.remove(passwordEntryName(QStringLiteral("pop.example.org"), QStringLiteral("ann"))));
}

void TestSignInSettings::oauthChecksNameTheMailboxAndField_data()
{
    QTest::addColumn<SignInMethod>("method");
    QTest::addColumn<OAuthClientConfig>("oauth");
    QTest::addColumn<MailboxField>("field");
    QTest::addColumn<QString>("message");
    const OAuthClientConfig typed = typedValues(QStringLiteral("x"));
    auto without = [&](QString OAuthClientConfig::*field, const QString &value = QString()) {
        OAuthClientConfig config = typed;
        config.*field = value;
        return config;
    };
    QTest::newRow("Google needs no password")
        << SignInMethod::OAuthGoogle << without(&OAuthClientConfig::scope) << MailboxField::None << QString();
    QTest::newRow("nor a secret") << SignInMethod::OAuthOther << without(&OAuthClientConfig::clientSecret)
                                  << MailboxField::None << QString();
    QTest::newRow("test provider on 127.0.0.1")
        << SignInMethod::OAuthOther << without(&OAuthClientConfig::tokenUrl, QStringLiteral("http://127.0.0.1:9/token"))
        << MailboxField::None << QString();
    QTest::newRow("no client ID") << SignInMethod::OAuthMicrosoft
                                  << without(&OAuthClientConfig::clientId, QStringLiteral(" "))
                                  << MailboxField::ClientId << "Mailbox 8 - there is no OAuth client ID set";
    QTest::newRow("no authorization URL")
        << SignInMethod::OAuthOther << without(&OAuthClientConfig::authorizationUrl) << MailboxField::AuthorizationUrl
        << "Mailbox 8 - there is no OAuth authorization URL set";
    QTest::newRow("plain http token URL")
        << SignInMethod::OAuthOther
        << without(&OAuthClientConfig::tokenUrl, QStringLiteral("http://auth.example.org/token"))
        << MailboxField::TokenUrl
        << "Mailbox 8 - the OAuth token URL must start with https:// (http:// only for a server on this computer)";
    QTest::newRow("no scope") << SignInMethod::OAuthOther << without(&OAuthClientConfig::scope) << MailboxField::Scope
                              << "Mailbox 8 - there is no OAuth scope set";
}

void TestSignInSettings::oauthChecksNameTheMailboxAndField()
{
    QFETCH(SignInMethod, method);
    QFETCH(OAuthClientConfig, oauth);
    QFETCH(MailboxField, field);
    QFETCH(QString, message);
    MailboxConfig mailbox = configured(8, method);
    mailbox.oauth = oauth;
    const ServerSaveResult result = checkMailbox(mailbox);
    QCOMPARE(result.field, field);
    QCOMPARE(result.message, message);
    QCOMPARE(result.mailbox, field == MailboxField::None ? 0 : 8);

    // An unused row is not asked for anything.
    mailbox.server.clear();
    mailbox.mailbox.clear();
    QVERIFY(!checkMailbox(mailbox).validationFailed());
}

void TestSignInSettings::controlCharactersInOAuthValuesAreRefused_data()
{
    QTest::addColumn<SignInMethod>("method");
    QTest::addColumn<int>("which"); // 0 client ID, 1 secret, 2 authorization URL, 3 scope
    QTest::addColumn<MailboxField>("field");
    QTest::addColumn<QString>("message");
    QTest::newRow("line break in the client ID")
        << SignInMethod::OAuthGoogle << 0 << MailboxField::ClientId
        << "The OAuth client ID of mailbox 4 must not contain line breaks, tabs, NUL or other control characters.";
    QTest::newRow("tab in the secret")
        << SignInMethod::OAuthOther << 1 << MailboxField::ClientSecret
        << "The OAuth client secret of mailbox 4 must not contain line breaks, tabs, NUL or other control characters.";
    QTest::newRow("NUL in the authorization URL")
        << SignInMethod::OAuthOther << 2 << MailboxField::AuthorizationUrl
        << "The OAuth authorization URL of mailbox 4 must not contain line breaks, tabs, NUL or other control "
           "characters.";
    QTest::newRow("line break in the scope")
        << SignInMethod::OAuthOther << 3 << MailboxField::Scope
        << "The OAuth scope of mailbox 4 must not contain line breaks, tabs, NUL or other control characters.";
    // A value the method does not keep is neither written nor checked.
    QTest::newRow("scope Google does not keep") << SignInMethod::OAuthGoogle << 3 << MailboxField::None << QString();
}

void TestSignInSettings::controlCharactersInOAuthValuesAreRefused()
{
    QFETCH(SignInMethod, method);
    QFETCH(int, which);
    QFETCH(MailboxField, field);
    QFETCH(QString, message);
    QString OAuthClientConfig::*const fields[] = {&OAuthClientConfig::clientId, &OAuthClientConfig::clientSecret,
                                                  &OAuthClientConfig::authorizationUrl, &OAuthClientConfig::scope};
    const QString planted[] = {QStringLiteral("id\r\nQUIT"), QStringLiteral("se\tcret"),
                               QStringLiteral("https://a.example.org/%1").arg(QChar(0)), QStringLiteral("pop\nx")};
    GeneralSettings settings;
    settings.mailboxes[3] = configured(4, method);
    settings.mailboxes[3].oauth.*fields[which] = planted[which];
    SettingsStore store(storePath());
    const ServerSaveResult result = settings.saveServerSettings(store);
    QCOMPARE(result.field, field);
    QCOMPARE(result.message, message);
    QCOMPARE(result.refused, field != MailboxField::None);
    QCOMPARE(QFile::exists(storePath()), field == MailboxField::None); // refused: nothing written
}

void TestSignInSettings::loginCarriesTheEffectiveOAuthValues()
{
    GeneralSettings settings;
    settings.mailboxes[4] = configured(5, SignInMethod::OAuthMicrosoft);
    settings.mailboxes[4].server = QStringLiteral("outlook.office365.com:995");
    settings.mailboxes[6] = configured(7, SignInMethod::OAuthOther);
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());

    const MailboxLogin microsoft = GetRemotePOPSettings(store, 5);
    QCOMPARE(microsoft.number, 5);
    QCOMPARE(microsoft.signIn, SignInMethod::OAuthMicrosoft);
    QCOMPARE(microsoft.server, QStringLiteral("outlook.office365.com:995"));
    QVERIFY(microsoft.password.isEmpty());
    QCOMPARE(microsoft.oauth.clientId, QStringLiteral("client-5"));
    QCOMPARE(microsoft.oauth.clientSecret, QStringLiteral("secret-5"));
    QCOMPARE(microsoft.oauth.authorizationUrl,
             QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"));
    QCOMPARE(microsoft.oauth.tokenUrl, QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
    QCOMPARE(microsoft.oauth.scope, QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access"));

    const MailboxLogin other = GetRemotePOPSettings(store, 7);
    QCOMPARE(other.number, 7);
    QCOMPARE(other.oauth, typedValues(QStringLiteral("7")));
    // The same for a row that is not stored yet.
    QCOMPARE(mailboxLogin(settings.mailboxes[6]).oauth, other.oauth);
    QCOMPARE(GetRemotePOPSettings(store, 13).number, 0);
}

void TestSignInSettings::clientGetsTheAuthMethod_data()
{
    QTest::addColumn<SignInMethod>("method");
    QTest::addColumn<TmsCustomPOP::AuthMethod>("auth");
    QTest::newRow("Password") << SignInMethod::Password << TmsCustomPOP::AuthMethod::UserPass;
    QTest::newRow("SASL PLAIN") << SignInMethod::SaslPlain << TmsCustomPOP::AuthMethod::SaslPlain;
    QTest::newRow("APOP") << SignInMethod::Apop << TmsCustomPOP::AuthMethod::Apop;
    QTest::newRow("Google") << SignInMethod::OAuthGoogle << TmsCustomPOP::AuthMethod::OAuth2;
    QTest::newRow("Microsoft") << SignInMethod::OAuthMicrosoft << TmsCustomPOP::AuthMethod::OAuth2;
    QTest::newRow("other") << SignInMethod::OAuthOther << TmsCustomPOP::AuthMethod::OAuth2;
}

void TestSignInSettings::clientGetsTheAuthMethod()
{
    QFETCH(SignInMethod, method);
    QFETCH(TmsCustomPOP::AuthMethod, auth);
    GeneralSettings settings;
    settings.mailboxes[1] = configured(2, method);
    SettingsStore store(storePath());
    QVERIFY(settings.saveServerSettings(store).ok());
    TmsRemotePOP client;
    client.setAuthMethod(method == SignInMethod::Password ? TmsCustomPOP::AuthMethod::Apop
                                                          : TmsCustomPOP::AuthMethod::UserPass);
    GetRemotePOPSettings(store, 2, client);
    QCOMPARE(client.authMethod(), auth);
}

void TestSignInSettings::refreshTokenGoesWithTheLastMailboxUsingIt()
{
    MS_START_SECRET_SERVICE(m_service);
    PasswordVault vault;
    SettingsStore store(storePath());
    store.setPasswordVault(&vault);
    const QString annToken = refreshTokenEntryName(QStringLiteral("POP.example.org"), QStringLiteral("ann"));
    QCOMPARE(annToken, QStringLiteral("oauth2:ann@pop.example.org"));

    GeneralSettings settings;
    settings.mailboxes[0] = configured(1, SignInMethod::OAuthOther);
    settings.mailboxes[1] = configured(2, SignInMethod::OAuthGoogle); // ann's account again
    QVERIFY(settings.saveServerSettings(store).ok());
    QVERIFY(vault.write(annToken, QStringLiteral("refresh")));
    store.setValue(SettingsStore::Server, refreshTokenValueName(1), QStringLiteral("scrambled"));
    QVERIFY(store.save());
    QVERIFY(settings.saveServerSettings(store).ok());
    QVERIFY(store.contains(SettingsStore::Server, refreshTokenValueName(1)));

    // Mailbox 1 leaves OAuth: its file copy goes, the keyring entry serves mailbox 2.
    settings.mailboxes[0] = configured(1, SignInMethod::Password);
    QVERIFY(settings.saveServerSettings(store).ok());
    QVERIFY(!store.contains(SettingsStore::Server, refreshTokenValueName(1)));
    QCOMPARE(vault.read(annToken).secret, QStringLiteral("refresh"));

    // Mailbox 2 moves to another account: nobody signs in to ann's with a token.
    settings.mailboxes[1].mailbox = QStringLiteral("bob");
    QVERIFY(settings.saveServerSettings(store).ok());
    QCOMPARE(vault.read(annToken).answer, PasswordVault::Answer::NotFound);
    QVERIFY(vault.remove(QStringLiteral("ann@pop.example.org")));
}

QTEST_GUILESS_MAIN(TestSignInSettings)
#include "tst_signinsettings.moc"
