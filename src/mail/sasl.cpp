#include "mail/sasl.h"

#include "mail/printabletext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

constexpr char Separator = '\x01';

// RFC 5801 saslname: "," and "=" would end or garble the GS2 header.
QByteArray gs2Name(const QString &user)
{
    QByteArray name = user.toUtf8();
    name.replace("=", "=3D");
    name.replace(",", "=2C");
    return name;
}

QByteArray bearer(const QString &token)
{
    return "auth=Bearer " + token.toUtf8() + Separator + Separator;
}

} // namespace

SaslMechanism saslPlain(const QString &user, const QString &password)
{
    return {QStringLiteral("PLAIN"), '\0' + user.toUtf8() + '\0' + password.toUtf8(), std::nullopt};
}

SaslMechanism saslOAuthBearer(const QString &user, const QString &host, quint16 port, const QString &token)
{
    const QByteArray response = "n,a=" + gs2Name(user) + "," + Separator + "host=" + host.toUtf8() + Separator
                                + "port=" + QByteArray::number(port) + Separator + bearer(token);
    // RFC 7628 3.2.3: after an error challenge the client sends a lone ^A,
    // and the server then ends the exchange with its failure.
    return {QStringLiteral("OAUTHBEARER"), response, QByteArray(1, Separator)};
}

SaslMechanism saslXOAuth2(const QString &user, const QString &token)
{
    // The providers' documents: an empty response answers an error challenge.
    return {QStringLiteral("XOAUTH2"), "user=" + user.toUtf8() + Separator + bearer(token), QByteArray()};
}

bool isBearerToken(const QString &token)
{
    // Anchored on both ends: "$" would also let a final line break through.
    static const QRegularExpression b64token(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9\\-._~+/]+=*")));
    return b64token.match(token).hasMatch();
}

QString oauthErrorStatus(const QByteArray &challenge)
{
    constexpr qsizetype MaxStatus = 80;
    const auto decoded = QByteArray::fromBase64Encoding(challenge.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    const QJsonValue status = QJsonDocument::fromJson(*decoded).object().value(QStringLiteral("status"));
    // Google sends the HTTP code as a string, others a number or a word.
    const QString text = status.isDouble() ? QString::number(status.toInteger()) : status.toString();
    return printableText(text.left(MaxStatus)).trimmed();
}
