// Fresh access tokens from the stored refresh token, against the test
// provider, and where the refresh token is kept: a private desktop keyring
// (gnome-keyring on its own D-Bus session bus) or, without one, the
// settings file.

#include "mail/mailerrors.h"
#include "settings/mailboxpasswords.h"
#include "settings/passwordvault.h"
#include "settings/scramble.h"
#include "settings/settingsstore.h"
#include "signin/accesstokens.h"
#include "signin/oauthsignin.h"
#include "signin/refreshtokens.h"
#include "signin/tokenendpoint.h"
#include "support/oauthprovider.h"
#include "support/secretservice.h"
#include "support/testbrowser.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// What the provider's introspection endpoint says about the token, the
// way Dovecot's oauth2 passdb asks it (introspection_mode = post).
QJsonObject introspect(const QUrl &endpoint, const QString &token)
{
    QNetworkAccessManager network;
    QNetworkRequest request(endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = network.post(request, "token=" + QUrl::toPercentEncoding(token));
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!done.wait(5000))
        return {};
    return QJsonDocument::fromJson(reply->readAll()).object();
}

} // namespace

class TestAccessTokens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MS_START_SECRET_SERVICE(m_service); }
    void init();
    void cleanup();

    // Where the refresh token is kept.
    void signInKeepsRefreshTokenInKeyringOnly();
    void keyringWriteRetiresCopyInSettingsFile();
    void withoutKeyringTokenIsScrambledInSettingsFile();

    // Refreshing.
    void freshTokenIsAcceptedByIntrospection();
    void rotatedRefreshTokenIsKept();
    void clientSecretIsSentIntact();
    void noStoredGrantNeedsSignIn();
    void expiredGrantNeedsSignIn();
    void refusedClientIsLoginRefused();
    void providerDownIsSocketError();
    void silentProviderTimesOut();
    void nonsenseAnswersAreSocketErrors_data();
    void nonsenseAnswersAreSocketErrors();
    void providerTextIsMadePrintable();
    void plainHttpToAnotherHostIsNeverAsked();

private:
    MailboxLogin login() const;
    // The store of this test's settings folder, with the keyring or without.
    SettingsStore &store(bool withKeyring);
    QByteArray settingsFile() const;
    QString expectedPort() const { return QString::number(m_provider->tokenUrl().port()); }

    SecretService m_service;
    PasswordVault m_vault;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<TestOAuthProvider> m_provider;
};

void TestAccessTokens::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_provider = std::make_unique<TestOAuthProvider>();
    QVERIFY(m_provider->listen());
}

void TestAccessTokens::cleanup()
{
    // Each test names its own account (the provider's port differs), but
    // the keyring outlives the test: leave nothing behind.
    m_vault.remove(refreshTokenEntryName(login().server, login().user));
    m_provider.reset();
    m_store.reset();
    m_dir.reset();
}

MailboxLogin TestAccessTokens::login() const
{
    return m_provider->login(2, QStringLiteral("127.0.0.1:1110"), QStringLiteral("alice@example.org"));
}

SettingsStore &TestAccessTokens::store(bool withKeyring)
{
    m_store = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("mailsieve.conf")));
    if (withKeyring)
        m_store->setPasswordVault(&m_vault);
    return *m_store;
}

QByteArray TestAccessTokens::settingsFile() const
{
    return readFile(m_dir->filePath(QStringLiteral("mailsieve.conf")));
}

void TestAccessTokens::signInKeepsRefreshTokenInKeyringOnly()
{
    TestBrowser browser;
    OAuthSignIn signIn(store(true));
    signIn.openBrowser = browser.opener();
    const SignInResult result = signIn.run(login(), 10000);
    QVERIFY2(result.ok, qPrintable(result.error));

    const QString token = m_provider->lastRefreshToken();
    const PasswordVault::Lookup entry = m_vault.read(QStringLiteral("oauth2:alice@example.org@127.0.0.1:1110"));
    QCOMPARE(entry.answer, PasswordVault::Answer::Ok);
    QCOMPARE(entry.secret, token);
    QVERIFY(!settingsFile().contains("Token"));
    // A later run (new store and vault) finds it.
    PasswordVault laterVault;
    SettingsStore later(m_dir->filePath(QStringLiteral("mailsieve.conf")));
    later.setPasswordVault(&laterVault);
    QCOMPARE(RefreshTokens(later).read(login()), token);
}

void TestAccessTokens::keyringWriteRetiresCopyInSettingsFile()
{
    QVERIFY(RefreshTokens(store(false)).write(login(), QStringLiteral("written-without-keyring")));
    QVERIFY(settingsFile().contains("Token2="));

    RefreshTokens tokens(store(true));
    QVERIFY(tokens.write(login(), QStringLiteral("written-with-keyring")));
    QVERIFY(!settingsFile().contains("Token2="));
    QCOMPARE(tokens.read(login()), QStringLiteral("written-with-keyring"));
}

void TestAccessTokens::withoutKeyringTokenIsScrambledInSettingsFile()
{
    const QString token = m_provider->grantRefreshToken();
    RefreshTokens tokens(store(false));
    QVERIFY2(tokens.write(login(), token), qPrintable(tokens.errorString()));
    const QByteArray file = settingsFile();
    QVERIFY(!file.contains(token.toLatin1()));
    QVERIFY(file.contains("Token2=" + escapeSettingText(ScramblePassword(token, passwordKey(2)))));
    QCOMPARE(RefreshTokens(store(false)).read(login()), token);
    QVERIFY(m_provider->isLiveAccessToken(AccessTokens(store(false)).fresh(login())));
}

void TestAccessTokens::freshTokenIsAcceptedByIntrospection()
{
    m_provider->userName = QStringLiteral("alice@example.org");
    QVERIFY(RefreshTokens(store(true)).write(login(), m_provider->grantRefreshToken()));
    const QString accessToken = AccessTokens(*m_store).fresh(login());
    QCOMPARE(m_provider->refreshRequests(), 1);

    const QJsonObject live = introspect(m_provider->introspectionUrl(), accessToken);
    QCOMPARE(live.value(QStringLiteral("active")).toBool(), true);
    QCOMPARE(live.value(QStringLiteral("username")).toString(), QStringLiteral("alice@example.org"));
    QCOMPARE(live.value(QStringLiteral("email")).toString(), QStringLiteral("alice@example.org"));

    const QJsonObject unknown = introspect(m_provider->introspectionUrl(), QStringLiteral("made-up"));
    QCOMPARE(unknown.value(QStringLiteral("active")), QJsonValue(false));
    m_provider->expireAccessTokens();
    const QJsonObject expired = introspect(m_provider->introspectionUrl(), accessToken);
    QCOMPARE(expired.value(QStringLiteral("active")), QJsonValue(false));
}

void TestAccessTokens::rotatedRefreshTokenIsKept()
{
    m_provider->rotateRefreshTokens = true;
    const QString first = m_provider->grantRefreshToken();
    QVERIFY(RefreshTokens(store(true)).write(login(), first));
    AccessTokens tokens(*m_store);

    QVERIFY(m_provider->isLiveAccessToken(tokens.fresh(login())));
    const QString second = m_provider->lastRefreshToken();
    QVERIFY(second != first);
    QVERIFY(!m_provider->isLiveRefreshToken(first));
    QCOMPARE(RefreshTokens(*m_store).read(login()), second);
    // Only the kept one works now.
    QVERIFY(m_provider->isLiveAccessToken(tokens.fresh(login())));
    QCOMPARE(m_provider->refreshRequests(), 2);
}

void TestAccessTokens::clientSecretIsSentIntact()
{
    // A form reader takes an unescaped "+" for a space.
    m_provider->clientSecret = QStringLiteral("s3cr+t/with=&signs");
    MailboxLogin mailbox = login();
    mailbox.oauth.clientSecret = m_provider->clientSecret;
    QVERIFY(RefreshTokens(store(false)).write(mailbox, m_provider->grantRefreshToken()));
    QVERIFY(m_provider->isLiveAccessToken(AccessTokens(*m_store).fresh(mailbox)));

    mailbox.oauth.clientSecret.clear();
    QVERIFY_THROWS_EXCEPTION(ELoginRefusedError, AccessTokens(*m_store).fresh(mailbox));
}

void TestAccessTokens::noStoredGrantNeedsSignIn()
{
    try {
        AccessTokens(store(true)).fresh(login());
        QFAIL("no exception");
    } catch (const ESignInNeededError &error) {
        QCOMPARE(error.message(), QStringLiteral("Sign in again to alice@example.org at 127.0.0.1:1110"));
        QCOMPARE(error.account(), QStringLiteral("alice@example.org at 127.0.0.1:1110"));
    }
    QCOMPARE(m_provider->refreshRequests(), 0);
}

void TestAccessTokens::expiredGrantNeedsSignIn()
{
    QVERIFY(RefreshTokens(store(true)).write(login(), m_provider->grantRefreshToken()));
    m_provider->expireRefreshTokens();
    try {
        AccessTokens(*m_store).fresh(login());
        QFAIL("no exception");
    } catch (const ESignInNeededError &error) {
        QCOMPARE(error.message(), QStringLiteral("Sign in again to alice@example.org at 127.0.0.1:1110 "
                                                 "(127.0.0.1:%1 no longer accepts the saved sign-in)")
                                      .arg(expectedPort()));
    }
    QCOMPARE(m_provider->refreshRequests(), 1);
}

void TestAccessTokens::refusedClientIsLoginRefused()
{
    const MailboxLogin mailbox = login();
    QVERIFY(RefreshTokens(store(false)).write(mailbox, m_provider->grantRefreshToken()));
    m_provider->clientId = QStringLiteral("another-client");
    try {
        AccessTokens(*m_store).fresh(mailbox);
        QFAIL("no exception");
    } catch (const ELoginRefusedError &error) {
        QCOMPARE(error.message(), QStringLiteral("The sign-in provider 127.0.0.1:%1 refused the token request: "
                                                 "invalid_client (wrong client_id or client_secret)")
                                      .arg(expectedPort()));
    }
}

void TestAccessTokens::providerDownIsSocketError()
{
    QVERIFY(RefreshTokens(store(false)).write(login(), QStringLiteral("any")));
    MailboxLogin mailbox = login();
    const quint16 port = closedPort();
    mailbox.oauth.tokenUrl = QStringLiteral("http://127.0.0.1:%1/token").arg(port);
    try {
        AccessTokens(*m_store).fresh(mailbox);
        QFAIL("no exception");
    } catch (const ESocketError &error) {
        QVERIFY2(error.message().startsWith(
                     QStringLiteral("The sign-in provider 127.0.0.1:%1 could not be reached: ").arg(port)),
                 qPrintable(error.message()));
    }
}

void TestAccessTokens::silentProviderTimesOut()
{
    QVERIFY(RefreshTokens(store(false)).write(login(), m_provider->grantRefreshToken()));
    m_provider->stallTokenRequests = true;
    QElapsedTimer clock;
    clock.start();
    try {
        AccessTokens(*m_store, 400ms).fresh(login());
        QFAIL("no exception");
    } catch (const ESocketError &error) {
        QCOMPARE(error.message(), QStringLiteral("The sign-in provider 127.0.0.1:%1 did not answer the token request "
                                                 "within 1 second.")
                                      .arg(expectedPort()));
    }
    QVERIFY(clock.elapsed() >= 300); // a coarse timer may end a little early
    QVERIFY(clock.elapsed() < 3000);
}

void TestAccessTokens::nonsenseAnswersAreSocketErrors_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("expected");

    const auto http = [](const QByteArray &status, const QByteArray &body) {
        return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    };
    QTest::newRow("html page") << http("200 OK", "<html>Welcome</html>")
                               << QStringLiteral("answered the token request with something other than a token.");
    QTest::newRow("no access token") << http("200 OK", R"({"token_type":"Bearer"})")
                                     << QStringLiteral("answered the token request without an access token.");
    QTest::newRow("server error") << http("503 Service Unavailable", "busy")
                                  << QStringLiteral("answered the token request with HTTP 503 Service Unavailable.");
    QTest::newRow("redirect") << http("302 Found", "") // not followed
                              << QStringLiteral("answered the token request with HTTP 302 Found.");
    QTest::newRow("endless") << http("200 OK", QByteArray(ProviderNetwork::MaxReplyBytes + 1, ' '))
                             << QStringLiteral("sent more than 1 MiB in answer to the token request.");
}

void TestAccessTokens::nonsenseAnswersAreSocketErrors()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, expected);
    QVERIFY(RefreshTokens(store(false)).write(login(), m_provider->grantRefreshToken()));
    m_provider->tokenReplyOverride = answer;
    try {
        AccessTokens(*m_store).fresh(login());
        QFAIL("no exception");
    } catch (const ESocketError &error) {
        QCOMPARE(error.message(), QStringLiteral("The sign-in provider 127.0.0.1:%1 ").arg(expectedPort()) + expected);
    }
}

void TestAccessTokens::providerTextIsMadePrintable()
{
    QVERIFY(RefreshTokens(store(false)).write(login(), m_provider->grantRefreshToken()));
    const QByteArray body = R"({"error":"bad\u001b]0;owned\u0007","error_description":"line\r\nInjected: yes"})";
    m_provider->tokenReplyOverride = "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\nContent-Length: "
                                     + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    try {
        AccessTokens(*m_store).fresh(login());
        QFAIL("no exception");
    } catch (const ELoginRefusedError &error) {
        QCOMPARE(error.message(), QStringLiteral("The sign-in provider 127.0.0.1:%1 refused the token request: "
                                                 "bad ]0;owned (line  Injected: yes)")
                                      .arg(expectedPort()));
    }
}

void TestAccessTokens::plainHttpToAnotherHostIsNeverAsked()
{
    QVERIFY(RefreshTokens(store(false)).write(login(), QStringLiteral("secret-grant")));
    MailboxLogin mailbox = login();
    mailbox.oauth.tokenUrl = QStringLiteral("http://192.0.2.1/token");
    QVERIFY_THROWS_EXCEPTION(ESocketError, AccessTokens(*m_store, 200ms).fresh(mailbox));
}

QTEST_GUILESS_MAIN(TestAccessTokens)
#include "tst_accesstokens.moc"
