#include "signin/tokenendpoint.h"

#include "mail/printabletext.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTimer>
#include <QUrlQuery>

#include <memory>

namespace {

const char *const kTooLargeProperty = "mailsieveTooLarge";

// Error codes and descriptions come from the provider: kept short and free
// of control characters before they reach an error box or a terminal.
QString providerText(const QJsonValue &value, qsizetype maxLength)
{
    return printableText(value.toString().left(maxLength)).trimmed();
}

// application/x-www-form-urlencoded with every reserved character escaped:
// QUrlQuery leaves "+" as it is, which a form reader takes for a space, and
// client secrets and tokens may hold one.
QByteArray formBody(const QUrlQuery &form)
{
    QByteArrayList fields;
    for (const auto &[name, value] : form.queryItems(QUrl::FullyDecoded))
        fields << QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    return fields.join('&');
}

TokenAnswer failed(const QString &problem)
{
    TokenAnswer answer;
    answer.problem = problem;
    return answer;
}

TokenAnswer grantedAnswer(const QJsonObject &object, const QString &host)
{
    TokenAnswer answer;
    answer.accessToken = object.value(QStringLiteral("access_token")).toString();
    if (answer.accessToken.isEmpty())
        return failed(
            QStringLiteral("The sign-in provider %1 answered the token request without an access token.").arg(host));
    answer.kind = TokenAnswer::Kind::Granted;
    answer.refreshToken = object.value(QStringLiteral("refresh_token")).toString();
    return answer;
}

TokenAnswer refusedAnswer(const QJsonObject &object, const QString &host)
{
    TokenAnswer answer;
    answer.kind = TokenAnswer::Kind::Refused;
    answer.error = providerText(object.value(QStringLiteral("error")), 100);
    const QString description = providerText(object.value(QStringLiteral("error_description")), 300);
    answer.problem = QStringLiteral("The sign-in provider %1 refused the token request: %2").arg(host, answer.error);
    if (!description.isEmpty())
        answer.problem += QStringLiteral(" (%1)").arg(description);
    return answer;
}

} // namespace

QNetworkReply *ProviderNetwork::createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData)
{
    QNetworkRequest bounded(request);
    bounded.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, bounded, outgoingData);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxReplyBytes || total > MaxReplyBytes) {
            reply->setProperty(kTooLargeProperty, true);
            reply->abort();
        }
    });
    return reply;
}

TokenAnswer readTokenAnswer(const QNetworkReply &reply, const QByteArray &body)
{
    const QString host = endpointName(reply.url());
    if (reply.property(kTooLargeProperty).toBool())
        return failed(
            QStringLiteral("The sign-in provider %1 sent more than 1 MiB in answer to the token request.").arg(host));
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return failed(QStringLiteral("The sign-in provider %1 could not be reached: %2")
                          .arg(host, printableText(reply.errorString())));

    const QJsonDocument document = QJsonDocument::fromJson(body);
    const int code = status.toInt();
    if (code >= 200 && code < 300) {
        if (!document.isObject())
            return failed(QStringLiteral("The sign-in provider %1 answered the token request with something other "
                                         "than a token.")
                              .arg(host));
        return grantedAnswer(document.object(), host);
    }
    if (document.isObject() && document.object().value(QStringLiteral("error")).isString())
        return refusedAnswer(document.object(), host);
    return failed(QStringLiteral("The sign-in provider %1 answered the token request with HTTP %2 %3.")
                      .arg(host)
                      .arg(code)
                      .arg(printableText(reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())));
}

TokenAnswer requestTokens(ProviderNetwork &network, const QUrl &tokenUrl, const QUrlQuery &form,
                          std::chrono::milliseconds timeout)
{
    QNetworkRequest request(tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    QNetworkReply *reply = network.post(request, formBody(form));
    reply->setParent(nullptr);
    const std::unique_ptr<QNetworkReply> owner(reply);

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(timeout);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!reply->isFinished()) {
        reply->abort();
        return failed(QStringLiteral("The sign-in provider %1 did not answer the token request within %2.")
                          .arg(endpointName(tokenUrl), durationText(timeout)));
    }
    return readTokenAnswer(*reply, reply->readAll());
}

QString durationText(std::chrono::milliseconds duration)
{
    const qint64 ms = duration.count();
    if (ms >= 60000 && ms % 60000 == 0)
        return ms == 60000 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(ms / 60000);
    const qint64 seconds = (ms + 999) / 1000;
    return seconds == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(seconds);
}

QString endpointName(const QUrl &url)
{
    const QString host = url.host();
    return url.port() == -1 ? host : QStringLiteral("%1:%2").arg(host).arg(url.port());
}

QString endpointProblem(const QUrl &url, const QString &what)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"https" && scheme != u"http"))
        return QStringLiteral("The %1 \"%2\" is not a web address.").arg(what, printableText(url.toString()));
    const bool thisComputer =
        QHostAddress(url.host()).isLoopback() || url.host().compare(u"localhost", Qt::CaseInsensitive) == 0;
    if (scheme == u"http" && !thisComputer)
        return QStringLiteral("The %1 %2 must start with https:// (plain http only for this computer).")
            .arg(what, printableText(url.toString()));
    return {};
}
