#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace {
const QByteArray kShowRequest = QByteArrayLiteral("show\n");
constexpr int kConnectMs = 1000;
}

SingleInstance::SingleInstance(const QString &programFolder, QObject *parent)
    : QObject(parent),
      m_name(QStringLiteral("mailsieve-")
             + QString::fromLatin1(QCryptographicHash::hash(programFolder.toUtf8(),
                                                            QCryptographicHash::Sha1)
                                       .toHex()
                                       .left(16)))
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().startsWith(kShowRequest))
                    emit activationRequested();
                peer->disconnectFromServer();
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
}

bool SingleInstance::claim()
{
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(kConnectMs)) {
        probe.write(kShowRequest);
        probe.waitForBytesWritten(kConnectMs);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answered: a socket file left by a crashed instance must not
    // keep this one from listening.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket the program still runs, only unguarded.
    if (!m_server.listen(m_name))
        qWarning("Mailsieve: single-instance guard unavailable: %s",
                 qPrintable(m_server.errorString()));
    return true;
}
