#pragma once
// Requests to an OAuth 2.0 provider's token endpoint (RFC 6749 section 5):
// the limits every request keeps, and what an answer means.

#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <chrono>

class QUrlQuery;

// The network access of a sign-in or a token refresh. An answer larger than
// MaxReplyBytes is cut off, and redirects are not followed: a token endpoint
// that redirects a POST is misconfigured, and following it would carry the
// grant somewhere else.
class ProviderNetwork : public QNetworkAccessManager
{
    Q_OBJECT
public:
    static constexpr qint64 MaxReplyBytes = 1024 * 1024;

    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override;
};

// The provider's answer to a token request.
struct TokenAnswer
{
    enum class Kind { Granted, Refused, Failed };
    Kind kind = Kind::Failed;
    QString accessToken; // when Granted
    QString refreshToken; // when Granted and the answer carries one
    QString error; // when Refused: the provider's error code, e.g. "invalid_grant"
    QString problem; // when Refused or Failed: a sentence for the user
};

// The answer in a finished reply of the token endpoint, whose content is
// body (read or peeked: the caller may not be the only reader).
TokenAnswer readTokenAnswer(const QNetworkReply &reply, const QByteArray &body);

// POSTs the form to the token endpoint and waits for the answer, at most
// timeout (user input is held back meanwhile).
TokenAnswer requestTokens(ProviderNetwork &network, const QUrl &tokenUrl, const QUrlQuery &form,
                          std::chrono::milliseconds timeout);

// "1 second", "20 seconds", "5 minutes": a time-out in a message.
QString durationText(std::chrono::milliseconds duration);

// "host" or "host:port", for messages.
QString endpointName(const QUrl &url);

// Why the address may not carry a sign-in, or empty when it may: it must
// be https, or plain http to this computer (a loopback address or
// "localhost"). what names it in the sentence ("token address").
QString endpointProblem(const QUrl &url, const QString &what);
