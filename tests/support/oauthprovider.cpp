#include "support/oauthprovider.h"

#include "signin/pkce.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUrlQuery>

#include <array>
#include <optional>

namespace {

QString randomToken()
{
    std::array<quint32, 6> random;
    QRandomGenerator::global()->fillRange(random.data(), random.size());
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(random.data()), sizeof random).toHex());
}

QByteArray httpAnswer(int status, const QByteArray &reason, const QByteArray &contentType, const QByteArray &body,
                      const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + contentType
           + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" + extraHeaders
           + "\r\n" + body;
}

QByteArray jsonAnswer(int status, const QByteArray &reason, const QJsonObject &object)
{
    return httpAnswer(status, reason, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact),
                      "Cache-Control: no-store\r\n");
}

// application/x-www-form-urlencoded: "+" is a space there, unlike in a URL.
QUrlQuery formFields(QByteArray body)
{
    return QUrlQuery(QString::fromUtf8(body.replace('+', "%20")));
}

QString field(const QUrlQuery &query, const QString &name)
{
    return query.queryItemValue(name, QUrl::FullyDecoded);
}

// The other way: name=value pairs with "+" for a space.
QString formEncoded(const QList<std::pair<QString, QString>> &fields)
{
    QStringList pairs;
    for (const auto &[name, value] : fields)
        pairs << name + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value, " ").replace(' ', '+'));
    return pairs.join(u'&');
}

} // namespace

TestOAuthProvider::TestOAuthProvider(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestOAuthProvider::onNewConnection);
}

bool TestOAuthProvider::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void TestOAuthProvider::close()
{
    m_server.close();
}

QUrl TestOAuthProvider::endpoint(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

QUrl TestOAuthProvider::authorizationUrl() const
{
    return endpoint(QStringLiteral("/authorize"));
}

QUrl TestOAuthProvider::tokenUrl() const
{
    return endpoint(QStringLiteral("/token"));
}

QUrl TestOAuthProvider::introspectionUrl() const
{
    return endpoint(QStringLiteral("/introspect"));
}

OAuthClientConfig TestOAuthProvider::clientConfig() const
{
    return {authorizationUrl().toString(), tokenUrl().toString(), scope, clientId, clientSecret};
}

MailboxLogin TestOAuthProvider::login(int number, const QString &server, const QString &user) const
{
    MailboxLogin mailbox;
    mailbox.number = number;
    mailbox.server = server;
    mailbox.user = user;
    mailbox.signIn = SignInMethod::OAuthOther;
    mailbox.oauth = clientConfig();
    return mailbox;
}

void TestOAuthProvider::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestOAuthProvider::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    qsizetype contentLength = 0;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (buffer.size() < headerEnd + 4 + contentLength)
        return;
    Request request;
    request.method = requestLine.value(0);
    request.url = QUrl(QString::fromLatin1(requestLine.value(1)));
    request.body = buffer.mid(headerEnd + 4, contentLength);
    buffer.clear();
    respond(socket, request);
}

void TestOAuthProvider::respond(QTcpSocket *socket, const Request &request)
{
    const QString path = request.url.path();
    QByteArray answer;
    if (request.method == "GET" && path == u"/authorize") {
        answer = authorize(QUrlQuery(request.url));
    } else if (request.method == "POST" && path == u"/token") {
        if (stallTokenRequests)
            return;
        answer = tokenReplyOverride.isEmpty() ? token(formFields(request.body)) : tokenReplyOverride;
    } else if (request.method == "POST" && path == u"/introspect") {
        answer = introspect(formFields(request.body));
    } else {
        answer = httpAnswer(404, "Not Found", "text/plain", "no such endpoint\n");
    }
    socket->write(answer);
    socket->disconnectFromHost();
}

QByteArray TestOAuthProvider::authorize(const QUrlQuery &query)
{
    const QUrl redirect(field(query, QStringLiteral("redirect_uri")));
    QString problem;
    if (field(query, QStringLiteral("client_id")) != clientId)
        problem = QStringLiteral("unknown client_id");
    else if (field(query, QStringLiteral("response_type")) != u"code")
        problem = QStringLiteral("response_type is not code");
    else if (redirect.scheme() != u"http" || redirect.host() != u"127.0.0.1" || redirect.port() <= 0)
        problem = QStringLiteral("redirect_uri is not on 127.0.0.1");
    else if (field(query, QStringLiteral("code_challenge_method")) != u"S256"
             || field(query, QStringLiteral("code_challenge")).isEmpty())
        problem = QStringLiteral("no S256 code_challenge");
    if (!problem.isEmpty()) {
        m_lastRefusal = problem;
        return httpAnswer(400, "Bad Request", "text/plain", problem.toUtf8());
    }

    QList<std::pair<QString, QString>> back;
    if (denyAuthorization) {
        back = {{QStringLiteral("error"), QStringLiteral("access_denied")},
                {QStringLiteral("error_description"), denialDescription}};
    } else {
        const QString code = randomToken();
        m_codes.insert(code, {redirect.toString(), field(query, QStringLiteral("code_challenge"))});
        back = {{QStringLiteral("code"), code}};
    }
    back.append({QStringLiteral("state"), field(query, QStringLiteral("state"))});
    QUrl location = redirect;
    location.setQuery(formEncoded(back));
    return httpAnswer(302, "Found", "text/plain", {}, "Location: " + location.toEncoded() + "\r\n");
}

QByteArray TestOAuthProvider::token(const QUrlQuery &form)
{
    if (field(form, QStringLiteral("client_id")) != clientId
        || (!clientSecret.isEmpty() && field(form, QStringLiteral("client_secret")) != clientSecret))
        return refuse(401, "invalid_client", QStringLiteral("wrong client_id or client_secret"));
    const QString grantType = field(form, QStringLiteral("grant_type"));
    if (grantType == u"authorization_code")
        return exchangeCode(form);
    if (grantType == u"refresh_token")
        return refresh(form);
    return refuse(400, "unsupported_grant_type", QStringLiteral("grant_type %1").arg(grantType));
}

QByteArray TestOAuthProvider::exchangeCode(const QUrlQuery &form)
{
    ++m_codeExchanges;
    // A code is good for one exchange, right or wrong.
    const std::optional<PendingCode> pending = [&]() -> std::optional<PendingCode> {
        const auto it = m_codes.constFind(field(form, QStringLiteral("code")));
        if (it == m_codes.cend())
            return std::nullopt;
        const PendingCode found = *it;
        m_codes.erase(it);
        return found;
    }();
    if (!pending)
        return refuse(400, "invalid_grant", QStringLiteral("unknown or used code"));
    if (field(form, QStringLiteral("redirect_uri")) != pending->redirectUri)
        return refuse(400, "invalid_grant", QStringLiteral("redirect_uri differs from the authorization request"));
    if (QString::fromLatin1(pkceChallenge(field(form, QStringLiteral("code_verifier")).toLatin1()))
        != pending->challenge)
        return refuse(400, "invalid_grant", QStringLiteral("code_verifier does not match the code_challenge"));
    return issueTokens(issueRefreshTokens);
}

QByteArray TestOAuthProvider::refresh(const QUrlQuery &form)
{
    ++m_refreshRequests;
    const QString refreshToken = field(form, QStringLiteral("refresh_token"));
    if (!m_refreshTokens.contains(refreshToken))
        return refuse(400, "invalid_grant", QStringLiteral("refresh token expired or revoked"));
    if (!rotateRefreshTokens)
        return issueTokens(false);
    m_refreshTokens.remove(refreshToken);
    return issueTokens(true);
}

QString TestOAuthProvider::grantRefreshToken()
{
    m_lastRefreshToken = randomToken();
    m_refreshTokens.insert(m_lastRefreshToken);
    return m_lastRefreshToken;
}

QByteArray TestOAuthProvider::issueTokens(bool withRefreshToken)
{
    const QString accessToken = randomToken();
    m_accessTokens.insert(accessToken);
    QJsonObject object{{QStringLiteral("access_token"), accessToken},
                       {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                       {QStringLiteral("expires_in"), accessTokenLifetime},
                       {QStringLiteral("scope"), scope}};
    if (withRefreshToken)
        object.insert(QStringLiteral("refresh_token"), grantRefreshToken());
    return jsonAnswer(200, "OK", object);
}

QByteArray TestOAuthProvider::introspect(const QUrlQuery &form)
{
    ++m_introspections;
    if (!m_accessTokens.contains(field(form, QStringLiteral("token"))))
        return jsonAnswer(200, "OK", {{QStringLiteral("active"), false}});
    return jsonAnswer(200, "OK",
                      {{QStringLiteral("active"), true},
                       {QStringLiteral("username"), userName},
                       {QStringLiteral("email"), userName},
                       {QStringLiteral("scope"), scope},
                       {QStringLiteral("client_id"), clientId}});
}

QByteArray TestOAuthProvider::refuse(int status, const QByteArray &error, const QString &why)
{
    m_lastRefusal = why;
    return jsonAnswer(
        status, status == 401 ? "Unauthorized" : "Bad Request",
        {{QStringLiteral("error"), QString::fromLatin1(error)}, {QStringLiteral("error_description"), why}});
}
