#pragma once
// How Mailsieve signs in to a mailbox, stored as "Auth<n>", and the OAuth 2.0
// providers it knows.

#include "mail/pop3client.h"

#include <QString>

#include <optional>

enum class SignInMethod { Password, SaslPlain, Apop, OAuthGoogle, OAuthMicrosoft, OAuthOther };

// "Password", "Password (SASL PLAIN)", "APOP", "OAuth 2.0 (Google)",
// "OAuth 2.0 (Microsoft)", "OAuth 2.0 (other)": the stored and shown texts.
QString signInMethodName(SignInMethod method);
// The stored text, any letter case; nothing for an unknown text.
std::optional<SignInMethod> signInMethodFromName(const QString &name);
bool isOAuth(SignInMethod method);
// The password itself goes to the server (USER/PASS, SASL PLAIN), not a
// digest of it (APOP) or a token: only TLS keeps it from onlookers.
bool sendsPassword(SignInMethod method);
// What the POP3 client sends for the method.
TmsCustomPOP::AuthMethod authMethodFor(SignInMethod method);

// The OAuth 2.0 values of a mailbox. The client ID is always the user's own
// registration: none is shipped. Some providers also give installed
// programs a client secret, which for them is no secret.
struct OAuthClientConfig
{
    QString authorizationUrl;
    QString tokenUrl;
    QString scope;
    QString clientId;
    QString clientSecret;

    bool operator==(const OAuthClientConfig &) const = default;
};

// A provider's documented server (always implicit TLS) and endpoints. The client ID is always
// the user's own registration: none is shipped.
struct OAuthProvider
{
    QString server; // with its port
    QString authorizationUrl;
    QString tokenUrl;
    QString scope;
    QString registrationHelp; // where the provider explains how to register a client
};
// Google's and Microsoft's; nothing for the other methods.
std::optional<OAuthProvider> oauthProvider(SignInMethod method);

// The OAuth 2.0 values a mailbox signs in with: a provider's own, or the
// ones the user typed for "OAuth 2.0 (other)".
OAuthClientConfig effectiveOAuthConfig(SignInMethod method, const OAuthClientConfig &stored);

// An authorization or token endpoint the sign-in may use: an https URL, or
// an http one on this computer (a loopback address or "localhost"), where
// nobody can listen in on the codes and tokens it carries.
bool isAcceptableOAuthEndpoint(const QString &url);
