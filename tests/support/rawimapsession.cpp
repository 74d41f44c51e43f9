#include "support/rawimapsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>

RawImapSession::RawImapSession(quint16 port, bool implicitTls)
{
    if (implicitTls) {
        m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    } else {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    m_greeting = readLine(15000);
}

QByteArray RawImapSession::run(const QByteArray &command)
{
    const QByteArray tag = "t" + QByteArray::number(++m_tags);
    send(tag + ' ' + command);
    return readUntil(tag + ' ');
}

bool RawImapSession::logIn(const QString &user, const QString &password)
{
    return run("LOGIN " + user.toUtf8() + " \"" + password.toUtf8() + '"').contains(" OK ");
}

void RawImapSession::send(const QByteArray &line)
{
    m_socket.write(line + "\r\n");
    m_socket.flush();
}

QByteArray RawImapSession::readUntil(const QByteArray &prefix, int timeoutMs)
{
    QByteArray text;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QByteArray line = readLine(int(std::max<qint64>(1, deadline.remainingTime())));
        text += line;
        if (line.isEmpty() || line.startsWith(prefix))
            break;
    }
    return text;
}

QByteArray RawImapSession::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // Short waits with the event loop turning between them, so that a
    // server living on this thread (a scripted one) gets to answer too.
    while (!m_socket.canReadLine() && !deadline.hasExpired() && m_socket.state() != QAbstractSocket::UnconnectedState) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        m_socket.waitForReadyRead(5);
    }
    return m_socket.canReadLine() ? m_socket.readLine() : m_socket.readAll();
}
