#include "signin/loopbackredirect.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <optional>

namespace {

// A browser's GET of the redirect address is a few hundred bytes; more
// than this is no redirect.
constexpr qint64 kMaxRequestBytes = 16 * 1024;

QByteArray page(const QString &text)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Mailsieve</title></head>\n<body><p>"
           + text.toHtmlEscaped().toUtf8() + "</p></body></html>\n";
}

// The request's query, or nothing when it is no GET.
std::optional<QByteArray> getQuery(const QByteArray &request)
{
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET")
        return std::nullopt;
    const QByteArray &target = requestLine[1];
    const qsizetype question = target.indexOf('?');
    return question < 0 ? QByteArray() : target.mid(question + 1);
}

} // namespace

RedirectParameters RedirectParameters::fromQuery(QByteArray query)
{
    const QUrlQuery form(QString::fromLatin1(query.replace('+', "%20")));
    const auto value = [&form](const char *name) {
        return form.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
    };
    return {value("code"), value("state"), value("error"), value("error_description")};
}

QString LoopbackReplyHandler::ignoredText()
{
    return QStringLiteral("Mailsieve ignored this address: it is not the answer to the sign-in that is waiting.");
}

LoopbackReplyHandler::LoopbackReplyHandler(QObject *parent) : QOAuthOobReplyHandler(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackReplyHandler::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackReplyHandler::callback() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort());
}

void LoopbackReplyHandler::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setReadBufferSize(kMaxRequestBytes);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_sending.remove(socket);
            socket->deleteLater();
            if (m_sending.isEmpty() && m_drain)
                m_drain->quit();
        });
    }
}

void LoopbackReplyHandler::onReadyRead(QTcpSocket *socket)
{
    if (m_sending.contains(socket) || socket == m_waiting) {
        socket->skip(socket->bytesAvailable()); // one request per connection
        return;
    }
    const QByteArray request = socket->peek(kMaxRequestBytes);
    if (!request.contains("\r\n\r\n")) {
        if (request.size() >= kMaxRequestBytes)
            send(socket, "400 Bad Request", ignoredText());
        return;
    }
    socket->skip(socket->bytesAvailable());
    const std::optional<QByteArray> query = getQuery(request);
    if (!query)
        return send(socket, "400 Bad Request", ignoredText());
    take(socket, RedirectParameters::fromQuery(*query));
}

void LoopbackReplyHandler::take(QTcpSocket *socket, const RedirectParameters &redirect)
{
    if (m_taken || m_state.isEmpty() || redirect.state != m_state
        || (redirect.code.isEmpty() && redirect.error.isEmpty()))
        return send(socket, "400 Bad Request", ignoredText());
    m_taken = true;
    m_waiting = socket;
    if (!redirect.error.isEmpty()) {
        emit refused(redirect.error, redirect.errorDescription);
        return;
    }
    // Qt's flow percent-decodes what its own handler passes on.
    emit callbackReceived({{QStringLiteral("code"), QString::fromLatin1(QUrl::toPercentEncoding(redirect.code))},
                           {QStringLiteral("state"), QString::fromLatin1(QUrl::toPercentEncoding(redirect.state))}});
}

void LoopbackReplyHandler::send(QTcpSocket *socket, const QByteArray &status, const QString &text)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return; // the browser went away
    const QByteArray body = page(text);
    socket->write("HTTP/1.1 " + status
                  + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size())
                  + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body);
    m_sending.insert(socket);
    socket->disconnectFromHost();
}

void LoopbackReplyHandler::answer(const QString &text, int timeoutMs)
{
    m_server.close();
    if (m_waiting)
        send(m_waiting, "200 OK", text);
    m_waiting = nullptr;
    if (m_sending.isEmpty())
        return;
    QEventLoop drain;
    QTimer::singleShot(timeoutMs, &drain, &QEventLoop::quit);
    m_drain = &drain;
    drain.exec();
    m_drain = nullptr;
}
