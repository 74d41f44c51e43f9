#pragma once
// A small OAuth 2.0 provider on 127.0.0.1 for tests, driven by the event
// loop of the thread that owns it. Hand-written HTTP/1.1, one request per
// connection ("Connection: close"), enough for QNetworkAccessManager and
// Dovecot's HTTP client.
//
//   GET  /authorize   checks client_id, response_type=code and a redirect_uri
//                     on 127.0.0.1, records code_challenge (S256), and
//                     answers 302 to redirect_uri?code=..&state=.. (or
//                     error=access_denied when told to deny), the query
//                     form-encoded ("+" for a space) like real providers'
//   POST /token       grant_type=authorization_code (code, redirect_uri and the
//                     PKCE code_verifier checked) or refresh_token; answers
//                     access_token, token_type, expires_in, scope and a
//                     refresh_token; client_secret checked when one is set
//   POST /introspect  token=<access token> (RFC 7662): {"active":true,
//                     "username":..,"email":..,"scope":..} for a live
//                     token, {"active":false} otherwise
//
// Refused requests get RFC 6749's JSON errors: 400 invalid_grant for a
// wrong code, verifier or refresh token, 401 invalid_client for a wrong
// client. lastRefusal() says why, for a test's failure message.

#include "settings/generalsettings.h"
#include "settings/signinmethod.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;
class QUrlQuery;

class TestOAuthProvider : public QObject
{
    Q_OBJECT
public:
    explicit TestOAuthProvider(QObject *parent = nullptr);

    // Listens on a free port of 127.0.0.1.
    bool listen();
    // Stops listening; a later request finds nobody there.
    void close();

    QUrl authorizationUrl() const;
    QUrl tokenUrl() const;
    QUrl introspectionUrl() const;
    // The endpoints with clientId, clientSecret and scope: what a mailbox
    // with "OAuth 2.0 (other)" pointing here signs in with.
    OAuthClientConfig clientConfig() const;
    // Mailbox number at server for user, signing in here with "OAuth 2.0
    // (other)".
    MailboxLogin login(int number, const QString &server, const QString &user) const;

    // Knobs; set them before the request they are meant for.
    QString clientId = QStringLiteral("mailsieve-test-client");
    QString clientSecret; // required in token requests when set
    QString scope = QStringLiteral("pop");
    QString userName = QStringLiteral("user"); // what introspection reports
    bool denyAuthorization = false; // redirect with error=access_denied and this description:
    QString denialDescription = QStringLiteral("The user said no");
    bool issueRefreshTokens = true;
    bool rotateRefreshTokens = false; // each refresh gives a new one and retires the old
    bool stallTokenRequests = false; // accept a token request and never answer it
    QByteArray tokenReplyOverride; // when set: the whole HTTP answer to a token request
    int accessTokenLifetime = 3600; // expires_in, seconds

    // Revokes every refresh token issued so far (the next refresh gets
    // invalid_grant), or ends every access token (introspection: inactive).
    void expireRefreshTokens() { m_refreshTokens.clear(); }
    void expireAccessTokens() { m_accessTokens.clear(); }

    // A live refresh token, as if a sign-in had just got it.
    QString grantRefreshToken();

    bool isLiveAccessToken(const QString &token) const { return m_accessTokens.contains(token); }
    bool isLiveRefreshToken(const QString &token) const { return m_refreshTokens.contains(token); }
    // The refresh token most recently issued.
    QString lastRefreshToken() const { return m_lastRefreshToken; }
    // Requests to /token, by grant type.
    int codeExchanges() const { return m_codeExchanges; }
    int refreshRequests() const { return m_refreshRequests; }
    int introspections() const { return m_introspections; }
    QString lastRefusal() const { return m_lastRefusal; }

private:
    struct Request
    {
        QByteArray method;
        QUrl url;
        QByteArray body;
    };
    struct PendingCode
    {
        QString redirectUri;
        QString challenge;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Request &request);
    QByteArray authorize(const QUrlQuery &query);
    QByteArray token(const QUrlQuery &form);
    QByteArray exchangeCode(const QUrlQuery &form);
    QByteArray refresh(const QUrlQuery &form);
    QByteArray introspect(const QUrlQuery &form);
    QByteArray issueTokens(bool withRefreshToken);
    QByteArray refuse(int status, const QByteArray &error, const QString &why);
    QUrl endpoint(const QString &path) const;

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QString, PendingCode> m_codes;
    QSet<QString> m_accessTokens;
    QSet<QString> m_refreshTokens;
    QString m_lastRefreshToken;
    int m_codeExchanges = 0;
    int m_refreshRequests = 0;
    int m_introspections = 0;
    QString m_lastRefusal;
};
