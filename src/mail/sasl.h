#pragma once
// The client's side of the SASL mechanisms POP3's AUTH command runs (RFC
// 5034): PLAIN (RFC 4616) for a password, OAUTHBEARER (RFC 7628) and
// Google's and Microsoft's XOAUTH2 for an OAuth 2.0 access token. All three
// are client-first: the whole proof is the first message, and the only
// challenge a server may send after it is an error report.

#include <QByteArray>
#include <QString>
#include <optional>

struct SaslMechanism
{
    QString name; // as AUTH names it: "PLAIN", "OAUTHBEARER", "XOAUTH2"
    QByteArray response; // the client's first message, before base64
    // What answers an error challenge; none when the mechanism has none.
    std::optional<QByteArray> errorChallengeAnswer;
};

// The longest command line a POP3 server must accept, CR LF included
// (RFC 2449). An AUTH line with its initial response must fit in it.
constexpr qsizetype MaxPop3CommandLine = 255;

// "\0user\0password": no authorization identity, so the server derives it.
SaslMechanism saslPlain(const QString &user, const QString &password);
// "n,a=user,^Ahost=...^Aport=...^Aauth=Bearer token^A^A"; commas and equal
// signs of the user name are escaped as the GS2 header requires.
SaslMechanism saslOAuthBearer(const QString &user, const QString &host, quint16 port, const QString &token);
// "user=...^Aauth=Bearer token^A^A".
SaslMechanism saslXOAuth2(const QString &user, const QString &token);

// Whether the text may stand as a bearer token (RFC 6750 b64token): nothing
// in it can break the message it is put into.
bool isBearerToken(const QString &token);

// The "status" member of an OAuth error challenge: base64 of a JSON object
// such as {"status":"invalid_token","scope":"..."}. Printable and cut short;
// empty when the challenge is not such an object or has no status.
QString oauthErrorStatus(const QByteArray &challenge);
