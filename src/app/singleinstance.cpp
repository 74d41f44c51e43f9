#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

namespace {

const QByteArray kShowRequest = QByteArrayLiteral("show\n");
constexpr int kConnectMs = 1000;

// The socket lives in the user's runtime folder, which only the user can
// enter and which the session clears at log-out; without one, Qt's default
// place (the temporary folder) serves.
QString socketName(const QString &programFolder)
{
    const QString name =
        QStringLiteral("mailsieve-")
        + QString::fromLatin1(
            QCryptographicHash::hash(programFolder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime) || !QFileInfo(runtime).isDir())
        return name;
    return QDir(runtime).filePath(name);
}

} // namespace

SingleInstance::SingleInstance(const QString &programFolder, QObject *parent)
    : QObject(parent), m_name(socketName(programFolder))
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
        qWarning("Mailsieve: single-instance guard unavailable: %s", qPrintable(m_server.errorString()));
    return true;
}
