#include "settings/signinmethod.h"

#include <QHostAddress>
#include <QUrl>

#include <array>

namespace {

struct MethodName
{
    SignInMethod method;
    const char *name;
};

constexpr std::array<MethodName, 6> kMethodNames{{
    {SignInMethod::Password, "Password"},
    {SignInMethod::SaslPlain, "Password (SASL PLAIN)"},
    {SignInMethod::Apop, "APOP"},
    {SignInMethod::OAuthGoogle, "OAuth 2.0 (Google)"},
    {SignInMethod::OAuthMicrosoft, "OAuth 2.0 (Microsoft)"},
    {SignInMethod::OAuthOther, "OAuth 2.0 (other)"},
}};

} // namespace

QString signInMethodName(SignInMethod method)
{
    for (const MethodName &entry : kMethodNames) {
        if (entry.method == method)
            return QString::fromLatin1(entry.name);
    }
    return QString::fromLatin1(kMethodNames.front().name);
}

std::optional<SignInMethod> signInMethodFromName(const QString &name)
{
    for (const MethodName &entry : kMethodNames) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.method;
    }
    return std::nullopt;
}

bool isOAuth(SignInMethod method)
{
    return method == SignInMethod::OAuthGoogle || method == SignInMethod::OAuthMicrosoft
           || method == SignInMethod::OAuthOther;
}

bool sendsPassword(SignInMethod method)
{
    return method == SignInMethod::Password || method == SignInMethod::SaslPlain;
}

TmsCustomPOP::AuthMethod authMethodFor(SignInMethod method)
{
    switch (method) {
    case SignInMethod::SaslPlain:
        return TmsCustomPOP::AuthMethod::SaslPlain;
    case SignInMethod::Apop:
        return TmsCustomPOP::AuthMethod::Apop;
    case SignInMethod::OAuthGoogle:
    case SignInMethod::OAuthMicrosoft:
    case SignInMethod::OAuthOther:
        return TmsCustomPOP::AuthMethod::OAuth2;
    case SignInMethod::Password:
        break;
    }
    return TmsCustomPOP::AuthMethod::UserPass;
}

std::optional<OAuthProvider> oauthProvider(SignInMethod method)
{
    switch (method) {
    case SignInMethod::OAuthGoogle:
        return OAuthProvider{
            QStringLiteral("pop.gmail.com:995"), QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"),
            QStringLiteral("https://oauth2.googleapis.com/token"), QStringLiteral("https://mail.google.com/"),
            QStringLiteral("https://developers.google.com/identity/protocols/oauth2/native-app")};
    case SignInMethod::OAuthMicrosoft:
        return OAuthProvider{
            QStringLiteral("outlook.office365.com:995"),
            QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"),
            QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"),
            QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access"),
            QStringLiteral("https://learn.microsoft.com/en-us/exchange/client-developer/legacy-protocols/"
                           "how-to-authenticate-an-imap-pop-smtp-application-by-using-oauth")};
    default:
        return std::nullopt;
    }
}

OAuthClientConfig effectiveOAuthConfig(SignInMethod method, const OAuthClientConfig &stored)
{
    OAuthClientConfig config = stored;
    if (const std::optional<OAuthProvider> provider = oauthProvider(method)) {
        config.authorizationUrl = provider->authorizationUrl;
        config.tokenUrl = provider->tokenUrl;
        config.scope = provider->scope;
    }
    return config;
}

bool isAcceptableOAuthEndpoint(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return false;
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    const QString host = parsed.host();
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}
