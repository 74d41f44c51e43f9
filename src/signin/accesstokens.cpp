#include "signin/accesstokens.h"

#include "mail/mailerrors.h"
#include "signin/refreshtokens.h"
#include "signin/tokenendpoint.h"

#include <QUrlQuery>
#include <QtDebug>

AccessTokens::AccessTokens(SettingsStore &store, std::chrono::milliseconds timeout) : m_store(store), m_timeout(timeout)
{
}

// Qt's QOAuth2AuthorizationCodeFlow::refreshAccessToken is not used: in Qt
// 6.4 a refused or failed token request only logs a warning and leaves the
// flow's status as it was, so a revoked grant could not be told from a
// network failure, and a lost answer would never end. One POST does it.
QString AccessTokens::fresh(const MailboxLogin &login)
{
    const QString account = oauthAccountText(login);
    RefreshTokens tokens(m_store);
    const QString refreshToken = tokens.read(login);
    if (refreshToken.isEmpty())
        throw ESignInNeededError(account);

    const QUrl tokenUrl(login.oauth.tokenUrl);
    if (const QString problem = endpointProblem(tokenUrl, QStringLiteral("token address")); !problem.isEmpty())
        throw ESocketError(problem);
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), refreshToken);
    form.addQueryItem(QStringLiteral("client_id"), login.oauth.clientId);
    if (!login.oauth.clientSecret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), login.oauth.clientSecret);

    ProviderNetwork network;
    const TokenAnswer answer = requestTokens(network, tokenUrl, form, m_timeout);
    switch (answer.kind) {
    case TokenAnswer::Kind::Granted:
        break;
    case TokenAnswer::Kind::Refused:
        // RFC 6749 5.2: the grant expired, was revoked or belongs to another client.
        if (answer.error == u"invalid_grant")
            throw ESignInNeededError(
                account, QStringLiteral("%1 no longer accepts the saved sign-in").arg(endpointName(tokenUrl)));
        throw ELoginRefusedError(answer.problem);
    case TokenAnswer::Kind::Failed:
        throw ESocketError(answer.problem);
    }
    // A provider that rotates refresh tokens has just retired the old one.
    const bool rotated = !answer.refreshToken.isEmpty() && answer.refreshToken != refreshToken;
    if (rotated && !tokens.write(login, answer.refreshToken))
        qWarning("The new refresh token for %s could not be kept: %s", qPrintable(account),
                 qPrintable(tokens.errorString()));
    return answer.accessToken;
}
