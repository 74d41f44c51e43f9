// The interactive OAuth 2.0 sign-in against the test provider, with the
// test browser in the user's place: PKCE, the loopback redirect and the page
// it answers, the ways a sign-in ends without a grant, and where the refresh
// token goes when no keyring answers (the keyring itself: tst_accesstokens).

#include "settings/scramble.h"
#include "settings/settingsstore.h"
#include "signin/loopbackredirect.h"
#include "signin/oauthsignin.h"
#include "signin/pkce.h"
#include "signin/refreshtokens.h"
#include "support/oauthprovider.h"
#include "support/testbrowser.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

namespace {

// A port of 127.0.0.1 where nothing listens.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The messages logged while it lives, "category: text", passed on as well.
class LogRecorder
{
public:
    LogRecorder()
    {
        s_lines.clear();
        s_previous = qInstallMessageHandler(&record);
    }
    ~LogRecorder() { qInstallMessageHandler(s_previous); }
    Q_DISABLE_COPY_MOVE(LogRecorder)

    // The lines of Qt's sign-in classes, which the user should never see.
    static QStringList networkAuthLines() { return s_lines.filter(QStringLiteral("qt.networkauth")); }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        s_lines << QString::fromLatin1(context.category) + QStringLiteral(": ") + text;
        s_previous(type, context, text);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_lines;
};

QString redirectUri(const QUrl &authorization)
{
    return QUrlQuery(authorization).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
}

QString stateOf(const QUrl &authorization)
{
    return QUrlQuery(authorization).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
}

} // namespace

class TestOAuthSignIn : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pkceChallengeIsRfc7636S256();
    void generatedVerifiersAreFreshAndWellFormed();

    void signInKeepsRefreshTokenScrambledInSettings();
    void authorizationRequestCarriesPkceAndLoopbackRedirect();
    void googleIsAskedForOfflineAccess();
    void wrongVerifierIsRefusedByTheProvider();
    void deniedSignInSaysSo_data();
    void deniedSignInSaysSo();
    void forgedRedirectIsIgnored_data();
    void forgedRedirectIsIgnored();
    void browserHasItsPageWhenSignInReturns();
    void grantWithoutRefreshTokenFails();
    void tokenEndpointDownFails();
    void waitEndsAtTimeOut();
    void cancelEndsTheWait();
    void browserThatCannotOpenFails();
    void plainHttpToAnotherHostIsRefused();
    void missingClientIdIsRefused();
    void unstoredMailboxWithoutKeyringCannotKeepToken();

private:
    MailboxLogin login() const;
    SignInResult runSignIn(const MailboxLogin &mailbox, int timeoutMs = 10000);
    QByteArray settingsFile() const;
    QString storedToken(const MailboxLogin &mailbox) { return RefreshTokens(*m_store).read(mailbox); }
    // Waits for the page the test browser is shown at the end of the sign-in.
    void expectLoopbackPage(int status, const QString &text);

    QStringList m_networkAuthLines; // what Qt's sign-in classes logged in runSignIn()

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<TestOAuthProvider> m_provider;
    std::unique_ptr<TestBrowser> m_browser;
};

void TestOAuthSignIn::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_store = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("mailsieve.conf")));
    m_provider = std::make_unique<TestOAuthProvider>();
    QVERIFY(m_provider->listen());
    m_browser = std::make_unique<TestBrowser>();
}

void TestOAuthSignIn::cleanup()
{
    m_browser.reset();
    m_provider.reset();
    m_store.reset();
    m_dir.reset();
}

MailboxLogin TestOAuthSignIn::login() const
{
    return m_provider->login(3, QStringLiteral("127.0.0.1:1110"), QStringLiteral("alice"));
}

SignInResult TestOAuthSignIn::runSignIn(const MailboxLogin &mailbox, int timeoutMs)
{
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = m_browser->opener();
    const LogRecorder log;
    const SignInResult result = signIn.run(mailbox, timeoutMs);
    m_networkAuthLines = log.networkAuthLines();
    return result;
}

void TestOAuthSignIn::expectLoopbackPage(int status, const QString &text)
{
    // The sign-in may end before this program's side of the browser has read the page.
    QTRY_COMPARE(m_browser->loopbackStatus(), status);
    QVERIFY2(m_browser->loopbackPage().contains(text.toHtmlEscaped()), qPrintable(m_browser->loopbackPage()));
}

QByteArray TestOAuthSignIn::settingsFile() const
{
    return readFile(m_store->filePath());
}

void TestOAuthSignIn::pkceChallengeIsRfc7636S256()
{
    // RFC 7636, appendix B.
    QCOMPARE(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
             QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
}

void TestOAuthSignIn::generatedVerifiersAreFreshAndWellFormed()
{
    const PkcePair first = PkcePair::generate();
    const PkcePair second = PkcePair::generate();
    QVERIFY(first.verifier != second.verifier);
    QCOMPARE(first.verifier.size(), 43);
    const QRegularExpression unreserved(QStringLiteral("^[A-Za-z0-9._~-]+$"));
    QVERIFY2(unreserved.match(QString::fromLatin1(first.verifier)).hasMatch(), first.verifier.constData());
    QCOMPARE(first.challenge, pkceChallenge(first.verifier));
}

void TestOAuthSignIn::signInKeepsRefreshTokenScrambledInSettings()
{
    const SignInResult result = runSignIn(login());
    QVERIFY2(result.ok, qPrintable(result.error + QStringLiteral(" / provider: ") + m_provider->lastRefusal()));
    QCOMPARE(m_provider->codeExchanges(), 1);
    const QString token = m_provider->lastRefreshToken();
    QVERIFY(!token.isEmpty());
    QCOMPARE(storedToken(login()), token);

    expectLoopbackPage(200, QStringLiteral("Mailsieve is signed in. You can close this page."));
    const QByteArray file = settingsFile();
    QVERIFY(!file.contains(token.toLatin1()));
    QVERIFY(file.contains(escapeSettingText(ScramblePassword(token, passwordKey(3)))));
    QVERIFY(file.contains("Token3="));
}

void TestOAuthSignIn::authorizationRequestCarriesPkceAndLoopbackRedirect()
{
    QVERIFY2(runSignIn(login()).ok, qPrintable(m_provider->lastRefusal()));
    const QUrl opened = m_browser->openedUrl();
    QCOMPARE(opened.adjusted(QUrl::RemoveQuery), m_provider->authorizationUrl());
    const QUrlQuery query(opened);
    QCOMPARE(query.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
    QCOMPARE(query.queryItemValue(QStringLiteral("code_challenge")).size(), 43);
    QCOMPARE(query.queryItemValue(QStringLiteral("client_id")), m_provider->clientId);
    QCOMPARE(query.queryItemValue(QStringLiteral("response_type")), QStringLiteral("code"));
    QCOMPARE(query.queryItemValue(QStringLiteral("scope")), m_provider->scope);
    QCOMPARE(query.queryItemValue(QStringLiteral("state")).size(), 43); // 32 random bytes
    const QUrl redirect(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
    QCOMPARE(redirect.scheme(), QStringLiteral("http"));
    QCOMPARE(redirect.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(redirect.port() > 0);
    QVERIFY(!query.hasQueryItem(QStringLiteral("access_type")));
}

void TestOAuthSignIn::googleIsAskedForOfflineAccess()
{
    MailboxLogin google = login();
    google.signIn = SignInMethod::OAuthGoogle;
    OAuthClientConfig typed;
    typed.clientId = QStringLiteral("id");
    google.oauth = effectiveOAuthConfig(SignInMethod::OAuthGoogle, typed);
    QUrl opened;
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [&](const QUrl &url) {
        opened = url;
        QTimer::singleShot(0, &signIn, &OAuthSignIn::cancel);
        return true;
    };
    QVERIFY(!signIn.run(google).ok);
    QCOMPARE(opened.host(), QStringLiteral("accounts.google.com"));
    const QUrlQuery query(opened);
    QCOMPARE(query.queryItemValue(QStringLiteral("access_type")), QStringLiteral("offline"));
    QCOMPARE(query.queryItemValue(QStringLiteral("prompt")), QStringLiteral("consent"));
    QCOMPARE(query.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
}

void TestOAuthSignIn::wrongVerifierIsRefusedByTheProvider()
{
    // The challenge the provider records is not the one of the sign-in's verifier.
    m_browser->rewrite = [](QUrl url) {
        QUrlQuery query(url);
        query.removeQueryItem(QStringLiteral("code_challenge"));
        query.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(pkceChallenge("someone else")));
        url.setQuery(query);
        return url;
    };
    const SignInResult result = runSignIn(login());
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("The sign-in provider 127.0.0.1:%1 refused the token request: invalid_grant "
                                          "(code_verifier does not match the code_challenge)")
                               .arg(m_provider->tokenUrl().port()));
    QCOMPARE(m_provider->codeExchanges(), 1);
    QVERIFY(storedToken(login()).isEmpty());
    QCOMPARE(m_networkAuthLines, QStringList());
    expectLoopbackPage(200, QStringLiteral("Mailsieve is not signed in. ") + result.error);
}

void TestOAuthSignIn::deniedSignInSaysSo_data()
{
    QTest::addColumn<QString>("description");
    QTest::newRow("words") << QStringLiteral("The user said no");
    QTest::newRow("signs and markup") << QStringLiteral("1+1 <b>refused</b> & 100%");
}

void TestOAuthSignIn::deniedSignInSaysSo()
{
    QFETCH(QString, description);
    m_provider->denyAuthorization = true;
    m_provider->denialDescription = description;
    const SignInResult result = runSignIn(login());
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("The sign-in provider 127.0.0.1:%1 did not grant access to alice at "
                                          "127.0.0.1:1110: access_denied (%2)")
                               .arg(QString::number(m_provider->tokenUrl().port()), description));
    QCOMPARE(m_provider->codeExchanges(), 0);
    QVERIFY(storedToken(login()).isEmpty());
    QCOMPARE(m_networkAuthLines, QStringList());
    expectLoopbackPage(200, QStringLiteral("Mailsieve is not signed in. ") + result.error);
}

void TestOAuthSignIn::forgedRedirectIsIgnored_data()
{
    QTest::addColumn<QString>("query"); // {state}: the sign-in's own
    QTest::newRow("refusal, wrong state") << QStringLiteral("error=access_denied&state=guessed");
    QTest::newRow("refusal, no state") << QStringLiteral("error=access_denied");
    QTest::newRow("code, wrong state") << QStringLiteral("code=stolen&state=guessed");
    QTest::newRow("right state, no code") << QStringLiteral("state={state}");
}

void TestOAuthSignIn::forgedRedirectIsIgnored()
{
    // Another page or program reaches the loopback port first; the user's
    // browser comes once that has its answer.
    QFETCH(QString, query);
    TestBrowser intruder;
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [&](const QUrl &url) {
        QUrl forged(redirectUri(url));
        forged.setQuery(QString(query).replace(QStringLiteral("{state}"), stateOf(url)));
        connect(&intruder, &TestBrowser::loopbackAnswered, m_browser.get(), [this, url] { m_browser->open(url); });
        intruder.visit(forged);
        return true;
    };
    const SignInResult result = signIn.run(login(), 10000);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(m_provider->codeExchanges(), 1);
    QCOMPARE(intruder.loopbackStatus(), 400);
    QVERIFY2(intruder.loopbackPage().contains(LoopbackReplyHandler::ignoredText()),
             qPrintable(intruder.loopbackPage()));
    expectLoopbackPage(200, QStringLiteral("Mailsieve is signed in."));
}

void TestOAuthSignIn::browserHasItsPageWhenSignInReturns()
{
    // "mailsieve --sign-in" ends right after the sign-in: the page must be
    // on its way by then, with no event loop left to send it.
    QTcpSocket browser;
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [&](const QUrl &url) {
        browser.connectToHost(QHostAddress::LocalHost, quint16(QUrl(redirectUri(url)).port()));
        browser.write("GET /?error=access_denied&state=" + QUrl::toPercentEncoding(stateOf(url))
                      + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        return true;
    };
    const SignInResult result = signIn.run(login(), 10000);
    QVERIFY2(result.error.endsWith(u": access_denied"), qPrintable(result.error));
    QByteArray page = browser.readAll();
    while (browser.waitForReadyRead(2000))
        page += browser.readAll();
    QVERIFY2(page.startsWith("HTTP/1.1 200 OK\r\n"), page.constData());
    QVERIFY2(page.contains(QStringLiteral("Mailsieve is not signed in. %1").arg(result.error).toUtf8()),
             page.constData());
}

void TestOAuthSignIn::grantWithoutRefreshTokenFails()
{
    m_provider->issueRefreshTokens = false;
    const SignInResult result = runSignIn(login());
    QVERIFY(!result.ok);
    QVERIFY2(result.error.startsWith(u"The provider gave no refresh token; "), qPrintable(result.error));
    QVERIFY(result.error.contains(u"offline_access"));
    QVERIFY(storedToken(login()).isEmpty());
}

void TestOAuthSignIn::tokenEndpointDownFails()
{
    MailboxLogin mailbox = login();
    const quint16 port = closedPort();
    mailbox.oauth.tokenUrl = QStringLiteral("http://127.0.0.1:%1/token").arg(port);
    const SignInResult result = runSignIn(mailbox);
    QVERIFY(!result.ok);
    const QString expected = QStringLiteral("The sign-in provider 127.0.0.1:%1 could not be reached: ").arg(port);
    QVERIFY2(result.error.startsWith(expected), qPrintable(result.error));
    QCOMPARE(m_networkAuthLines, QStringList());
}

void TestOAuthSignIn::waitEndsAtTimeOut()
{
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [](const QUrl &) { return true; }; // the user never answers
    QElapsedTimer clock;
    clock.start();
    const SignInResult result = signIn.run(login(), 300);
    QVERIFY(clock.elapsed() < 3000);
    QVERIFY(!result.ok);
    QCOMPARE(result.error,
             QStringLiteral("The sign-in for alice at 127.0.0.1:1110 was not completed within 1 second."));
}

void TestOAuthSignIn::cancelEndsTheWait()
{
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [&](const QUrl &) {
        QTimer::singleShot(50, &signIn, &OAuthSignIn::cancel);
        return true;
    };
    const SignInResult result = signIn.run(login());
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("The sign-in for alice at 127.0.0.1:1110 was canceled."));
}

void TestOAuthSignIn::browserThatCannotOpenFails()
{
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [](const QUrl &) { return false; };
    const SignInResult result = signIn.run(login());
    QVERIFY(!result.ok);
    QCOMPARE(result.error,
             QStringLiteral("No web browser could be opened for the sign-in of alice at 127.0.0.1:1110."));
}

void TestOAuthSignIn::plainHttpToAnotherHostIsRefused()
{
    MailboxLogin mailbox = login();
    mailbox.oauth.tokenUrl = QStringLiteral("http://provider.example/token");
    bool opened = false;
    OAuthSignIn signIn(*m_store);
    signIn.openBrowser = [&](const QUrl &) { return opened = true; };
    const SignInResult result = signIn.run(mailbox);
    QVERIFY(!result.ok);
    QVERIFY(!opened);
    QCOMPARE(result.error, QStringLiteral("The token address http://provider.example/token must start with https:// "
                                          "(plain http only for this computer)."));
}

void TestOAuthSignIn::missingClientIdIsRefused()
{
    MailboxLogin mailbox = login();
    mailbox.oauth.clientId.clear();
    const SignInResult result = runSignIn(mailbox);
    QVERIFY(!result.ok);
    QVERIFY(m_browser->openedUrl().isEmpty());
    QCOMPARE(result.error, QStringLiteral("No client ID is set for alice at 127.0.0.1:1110: register Mailsieve with "
                                          "the provider and enter the client ID in the General settings."));
}

void TestOAuthSignIn::unstoredMailboxWithoutKeyringCannotKeepToken()
{
    MailboxLogin mailbox = login();
    mailbox.number = 0;
    const SignInResult result = runSignIn(mailbox);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("The sign-in for alice at 127.0.0.1:1110 worked, but its refresh token could "
                                          "not be kept: no desktop keyring answered, and the mailbox is not stored."));
    QVERIFY(!settingsFile().contains("Token"));
}

QTEST_GUILESS_MAIN(TestOAuthSignIn)
#include "tst_oauthsignin.moc"
