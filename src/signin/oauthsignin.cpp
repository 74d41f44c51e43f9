#include "signin/oauthsignin.h"

#include "mail/printabletext.h"
#include "signin/loopbackredirect.h"
#include "signin/networkauthlog.h"
#include "signin/pkce.h"
#include "signin/refreshtokens.h"
#include "signin/tokenendpoint.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QTimer>

#include <optional>

namespace {

using Parameters = QMultiMap<QString, QVariant>;

// How long the browser may take to be handed its page at the end.
constexpr int kAnswerBrowserMs = 3000;

SignInResult failure(const QString &error)
{
    return {false, error};
}

// Google hands out a refresh token only when asked for offline access, and
// a second one for the same client only with a fresh consent.
bool isGoogle(const QUrl &authorizationUrl)
{
    return authorizationUrl.host().compare(u"accounts.google.com", Qt::CaseInsensitive) == 0;
}

QString noRefreshTokenText()
{
    return QStringLiteral("The provider gave no refresh token; without one every check would need a new sign-in. "
                          "Microsoft gives one only when the scope includes offline_access.");
}

// One run of the flow: the loopback listener, Qt's flow with PKCE added, the
// wait for the first of its ends, and the page that tells the browser.
class SignInRun
{
public:
    SignInRun(const MailboxLogin &login, const std::function<bool(const QUrl &)> &openBrowser)
        : m_login(login), m_openBrowser(openBrowser), m_pkce(PkcePair::generate()), m_flow(&m_network)
    {
    }

    SignInResult exec(int timeoutMs, OAuthSignIn &owner);
    QString refreshToken() const { return m_flow.refreshToken(); }
    // Shows the outcome to the browser that brought the redirect, if one did.
    void answerBrowser(const SignInResult &result);

private:
    void finish(const SignInResult &result);
    void addPkce(QAbstractOAuth::Stage stage, Parameters *parameters) const;
    void watchTokenReply(QNetworkReply *reply);
    void onRedirectError(const QString &error, const QString &description);

    const QuietNetworkAuthLog m_quiet; // the user hears from the sign-in, not from Qt
    const MailboxLogin &m_login;
    const std::function<bool(const QUrl &)> &m_openBrowser;
    const PkcePair m_pkce;
    ProviderNetwork m_network;
    LoopbackReplyHandler m_handler;
    QOAuth2AuthorizationCodeFlow m_flow;
    QEventLoop m_loop;
    std::optional<SignInResult> m_result;
};

SignInResult SignInRun::exec(int timeoutMs, OAuthSignIn &owner)
{
    const OAuthClientConfig &config = m_login.oauth;
    const QString account = oauthAccountText(m_login);
    if (config.clientId.isEmpty())
        return failure(QStringLiteral("No client ID is set for %1: register Mailsieve with the provider and enter "
                                      "the client ID in the General settings.")
                           .arg(account));
    for (const auto &[url, what] : {std::pair{config.authorizationUrl, QStringLiteral("authorization address")},
                                    std::pair{config.tokenUrl, QStringLiteral("token address")}}) {
        if (const QString problem = endpointProblem(QUrl(url), what); !problem.isEmpty())
            return failure(problem);
    }
    if (!m_handler.isListening())
        return failure(QStringLiteral("The sign-in could not wait for the browser on 127.0.0.1."));

    m_flow.setReplyHandler(&m_handler);
    m_flow.setState(QString::fromLatin1(randomUrlToken(32)));
    m_flow.setAuthorizationUrl(QUrl(config.authorizationUrl));
    m_flow.setAccessTokenUrl(QUrl(config.tokenUrl));
    m_flow.setScope(config.scope);
    m_flow.setClientIdentifier(config.clientId);
    if (!config.clientSecret.isEmpty())
        m_flow.setClientIdentifierSharedKey(config.clientSecret);
    m_flow.setModifyParametersFunction(
        [this](QAbstractOAuth::Stage stage, Parameters *parameters) { addPkce(stage, parameters); });

    QObject::connect(&m_flow, &QAbstractOAuth::authorizeWithBrowser, &m_loop, [this, account](const QUrl &url) {
        m_handler.expectState(m_flow.state());
        if (!m_openBrowser(url))
            finish(failure(QStringLiteral("No web browser could be opened for the sign-in of %1.").arg(account)));
    });
    QObject::connect(&m_handler, &LoopbackReplyHandler::refused, &m_loop,
                     [this](const QString &error, const QString &description) { onRedirectError(error, description); });
    QObject::connect(&m_network, &QNetworkAccessManager::finished, &m_loop,
                     [this](QNetworkReply *reply) { watchTokenReply(reply); });
    QObject::connect(&m_flow, &QAbstractOAuth::granted, &m_loop, [this] {
        finish(m_flow.refreshToken().isEmpty() ? failure(noRefreshTokenText()) : SignInResult{true, {}});
    });
    QObject::connect(&owner, &OAuthSignIn::canceled, &m_loop, [this, account] {
        finish(failure(QStringLiteral("The sign-in for %1 was canceled.").arg(account)));
    });

    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &m_loop, [this, account, timeoutMs] {
        finish(failure(QStringLiteral("The sign-in for %1 was not completed within %2.")
                           .arg(account, durationText(std::chrono::milliseconds(timeoutMs)))));
    });
    timer.start(timeoutMs);
    m_flow.grant();
    if (!m_result)
        m_loop.exec();
    return *m_result;
}

void SignInRun::finish(const SignInResult &result)
{
    if (m_result)
        return;
    m_result = result;
    m_loop.quit();
}

void SignInRun::answerBrowser(const SignInResult &result)
{
    m_handler.answer(result.ok ? QStringLiteral("Mailsieve is signed in. You can close this page.")
                               : QStringLiteral("Mailsieve is not signed in. %1").arg(result.error),
                     kAnswerBrowserMs);
}

void SignInRun::addPkce(QAbstractOAuth::Stage stage, Parameters *parameters) const
{
    switch (stage) {
    case QAbstractOAuth::Stage::RequestingAuthorization:
        parameters->insert(QStringLiteral("code_challenge"), QString::fromLatin1(m_pkce.challenge));
        parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
        if (isGoogle(m_flow.authorizationUrl())) {
            parameters->insert(QStringLiteral("access_type"), QStringLiteral("offline"));
            parameters->insert(QStringLiteral("prompt"), QStringLiteral("consent"));
        }
        break;
    case QAbstractOAuth::Stage::RequestingAccessToken:
        parameters->insert(QStringLiteral("code_verifier"), QString::fromLatin1(m_pkce.verifier));
        break;
    default:
        break;
    }
}

// Qt 6.4's flow only logs a warning when the code exchange fails, and waits
// on; the answer is read here as well (peeked, so the flow still gets it).
void SignInRun::watchTokenReply(QNetworkReply *reply)
{
    const TokenAnswer answer = readTokenAnswer(*reply, reply->peek(ProviderNetwork::MaxReplyBytes));
    if (answer.kind != TokenAnswer::Kind::Granted)
        finish(failure(answer.problem));
}

void SignInRun::onRedirectError(const QString &error, const QString &description)
{
    QString text =
        QStringLiteral("The sign-in provider %1 did not grant access to %2: %3")
            .arg(endpointName(m_flow.authorizationUrl()), oauthAccountText(m_login), printableText(error.left(100)));
    if (!description.isEmpty())
        text += QStringLiteral(" (%1)").arg(printableText(description.left(300)));
    finish(failure(text));
}

} // namespace

OAuthSignIn::OAuthSignIn(SettingsStore &store, QObject *parent)
    : QObject(parent), openBrowser([](const QUrl &url) { return QDesktopServices::openUrl(url); }), m_store(store)
{
}

SignInResult OAuthSignIn::run(const MailboxLogin &login, int timeoutMs)
{
    SignInRun signIn(login, openBrowser);
    const SignInResult result = [&] {
        const SignInResult flowResult = signIn.exec(timeoutMs, *this);
        if (!flowResult.ok)
            return flowResult;
        RefreshTokens tokens(m_store);
        if (!tokens.write(login, signIn.refreshToken()))
            return failure(QStringLiteral("The sign-in for %1 worked, but its refresh token could not be kept: %2.")
                               .arg(oauthAccountText(login), tokens.errorString()));
        return flowResult;
    }();
    signIn.answerBrowser(result);
    return result;
}

void OAuthSignIn::cancel()
{
    emit canceled();
}
