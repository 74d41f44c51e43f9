#include "support/scriptedserver.h"

#include "mail/remotemailbox.h"
#include "support/testfiles.h"

#include <QPointer>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// Hands out TLS-capable sockets that stay plain until told otherwise.
class SslListener : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            addPendingConnection(socket);
        else
            delete socket;
    }
};

} // namespace

TestCertificate TestCertificate::generate(const QString &commonName, const QStringList &altNames,
                                          const TestCertificate *issuer, QString *error)
{
    const auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return TestCertificate();
    };
    QTemporaryDir dir;
    if (!dir.isValid())
        return failed(QStringLiteral("cannot create a temporary folder"));
    QStringList args{QStringLiteral("req"),
                     QStringLiteral("-x509"),
                     QStringLiteral("-newkey"),
                     QStringLiteral("ec"),
                     QStringLiteral("-pkeyopt"),
                     QStringLiteral("ec_paramgen_curve:prime256v1"),
                     QStringLiteral("-nodes"),
                     QStringLiteral("-days"),
                     QStringLiteral("2"),
                     QStringLiteral("-keyout"),
                     dir.filePath(QStringLiteral("key.pem")),
                     QStringLiteral("-out"),
                     dir.filePath(QStringLiteral("cert.pem")),
                     QStringLiteral("-subj"),
                     QStringLiteral("/CN=") + commonName};
    if (!altNames.isEmpty())
        args << QStringLiteral("-addext") << QStringLiteral("subjectAltName=") + altNames.join(QLatin1Char(','));
    if (issuer) {
        if (!writeFile(dir.filePath(QStringLiteral("ca.pem")), issuer->certificatePem)
            || !writeFile(dir.filePath(QStringLiteral("ca.key")), issuer->keyPem))
            return failed(QStringLiteral("cannot write the issuer's files"));
        args << QStringLiteral("-addext") << QStringLiteral("basicConstraints=critical,CA:FALSE")
             << QStringLiteral("-CA") << dir.filePath(QStringLiteral("ca.pem")) << QStringLiteral("-CAkey")
             << dir.filePath(QStringLiteral("ca.key"));
    }
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return failed(QStringLiteral("openssl failed: ") + openssl.errorString() + QLatin1Char(' ')
                      + QString::fromLocal8Bit(openssl.readAll()));
    TestCertificate made{readFile(dir.filePath(QStringLiteral("cert.pem"))),
                         readFile(dir.filePath(QStringLiteral("key.pem")))};
    if (made.certificate().isNull() || made.key().isNull())
        return failed(QStringLiteral("openssl made no usable certificate"));
    return made;
}

ScriptedServer::ScriptedServer(const QByteArray &greeting, const QStringList &capabilities, QObject *parent)
    : QObject(parent), m_greeting(greeting), m_capabilities(capabilities), m_server(new SslListener(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
}

ScriptedServer::~ScriptedServer()
{
    // Sockets die with m_server after this body; keep their last signals
    // from reaching a half-destroyed server.
    for (QTcpSocket *socket : m_server->findChildren<QTcpSocket *>()) {
        socket->disconnect(this);
        socket->abort();
    }
}

void ScriptedServer::setCredentials(const QString &user, const QString &password)
{
    m_user = user;
    m_password = password;
}

bool ScriptedServer::isSaslMechanism(const QString &mechanism)
{
    return mechanism == QLatin1String("PLAIN") || mechanism == QLatin1String("XOAUTH2")
           || mechanism == QLatin1String("OAUTHBEARER");
}

bool ScriptedServer::saslAccepts(const QString &mechanism, const QByteArray &response) const
{
    const QByteArray user = m_user.toUtf8();
    if (mechanism == QLatin1String("PLAIN")) {
        const QList<QByteArray> parts = response.split('\0');
        return parts.size() == 3 && (parts[0].isEmpty() || parts[0] == user) && parts[1] == user
               && parts[2] == m_password.toUtf8();
    }
    const QByteArray bearer = "auth=Bearer " + m_accessToken.toUtf8() + "\x01\x01";
    const QByteArray expected =
        mechanism == QLatin1String("OAUTHBEARER")
            ? "n,a=" + user + ",\x01host=127.0.0.1\x01port=" + QByteArray::number(m_port) + "\x01" + bearer
            : "user=" + user + "\x01" + bearer;
    return !m_accessToken.isEmpty() && response == expected;
}

QByteArray ScriptedServer::saslErrorChallenge(const QString &mechanism)
{
    const QByteArray json = mechanism == QLatin1String("OAUTHBEARER")
                                ? R"({"status":"invalid_token","scope":"mail"})"
                                : R"({"status":"401","schemes":"Bearer","scope":"https://mail.google.com/"})";
    return json.toBase64();
}

bool ScriptedServer::answersErrorChallenge(const QString &mechanism, const QByteArray &line)
{
    return line == (mechanism == QLatin1String("OAUTHBEARER") ? "AQ==" : "");
}

bool ScriptedServer::listen(quint16 port)
{
    if (!m_server->listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server->serverPort();
    return true;
}

void ScriptedServer::stopListening()
{
    m_server->close();
    for (QTcpSocket *socket : sessionSockets())
        hangUp(socket);
}

QString ScriptedServer::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void ScriptedServer::logIn(RemoteMailbox &client) const
{
    client.setServer(address());
    client.setUserName(m_user);
    client.setPassword(m_password);
}

QStringList ScriptedServer::commands() const
{
    QStringList lines;
    for (const QString &entry : m_dialogue)
        if (entry.startsWith(QLatin1String("C: ")))
            lines << entry.mid(3);
    return lines;
}

void ScriptedServer::splitWrites(int chunkBytes, int pauseMs)
{
    m_splitChunk = chunkBytes;
    m_splitPauseMs = pauseMs;
}

void ScriptedServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connectionCount;
        startSession(socket);
        connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            forget(socket);
            m_outputs.erase(socket);
        });
        connect(socket, &QIODevice::bytesWritten, this, [this, socket] { pump(socket); });
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(static_cast<QSslSocket *>(socket), &QSslSocket::encrypted, this,
                [this, socket] { onEncrypted(socket); });
        if (m_implicitTls)
            startTls(socket); // the greeting follows the handshake
        else
            greet(socket);
    }
}

void ScriptedServer::startTls(QTcpSocket *socket)
{
    auto *ssl = static_cast<QSslSocket *>(socket);
    discardInput(socket);
    ssl->readAll();
    ssl->setLocalCertificate(m_identity.certificate());
    ssl->setPrivateKey(m_identity.key());
    ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
    ssl->startServerEncryption();
}

void ScriptedServer::onEncrypted(QTcpSocket *socket)
{
    if (!markEncrypted(socket))
        return;
    ++m_tlsHandshakes;
    if (m_implicitTls)
        greet(socket);
}

void ScriptedServer::queue(QTcpSocket *socket, Piece piece)
{
    if (piece.chunk == 0 && m_splitChunk > 0) {
        piece.chunk = m_splitChunk;
        piece.pauseMs = m_splitPauseMs;
    }
    m_outputs[socket].pieces.append(std::move(piece));
    pump(socket);
}

void ScriptedServer::pump(QTcpSocket *socket)
{
    const auto found = m_outputs.find(socket);
    if (found == m_outputs.end() || found->second.paused)
        return;
    Output &output = found->second;
    // An endless answer is topped up as the client reads, not all at once.
    constexpr qint64 InFlight = 256 * 1024;
    while (!output.pieces.isEmpty()) {
        Piece &piece = output.pieces.first();
        if (piece.bytes.isEmpty() && piece.patternLeft != 0 && !piece.pattern.isEmpty()) {
            if (socket->bytesToWrite() >= InFlight)
                return;
            const qint64 want = piece.patternLeft < 0 ? InFlight : std::min(InFlight, piece.patternLeft);
            piece.bytes = piece.pattern.repeated(want / piece.pattern.size() + 1).left(want);
            if (piece.patternLeft > 0)
                piece.patternLeft -= piece.bytes.size();
        }
        if (piece.bytes.isEmpty()) {
            output.pieces.removeFirst();
            continue;
        }
        const qsizetype take =
            piece.chunk > 0 ? std::min<qsizetype>(piece.chunk, piece.bytes.size()) : piece.bytes.size();
        const QByteArray bytes = piece.bytes.left(take);
        piece.bytes.remove(0, take);
        const int pauseMs = piece.chunk > 0 ? piece.pauseMs : 0;
        if (!write(socket, bytes))
            return;
        if (pauseMs > 0) {
            output.paused = true;
            QPointer<QTcpSocket> guarded(socket);
            QTimer::singleShot(pauseMs, this, [this, guarded] {
                if (!guarded || !m_outputs.count(guarded.data()))
                    return;
                m_outputs[guarded.data()].paused = false;
                pump(guarded.data());
            });
            return;
        }
    }
    if (output.closeWhenSent) {
        m_outputs.erase(found);
        socket->disconnectFromHost(); // sends what is still buffered first
    }
}

bool ScriptedServer::write(QTcpSocket *socket, const QByteArray &bytes)
{
    Output &output = m_outputs[socket];
    if (m_hangUpAfter < 0 || output.sent + bytes.size() < m_hangUpAfter) {
        output.sent += bytes.size();
        m_bytesSent += bytes.size();
        socket->write(bytes);
        return true;
    }
    const QByteArray last = bytes.left(m_hangUpAfter - output.sent);
    m_bytesSent += last.size();
    socket->write(last);
    forget(socket);
    m_outputs.erase(socket);
    socket->disconnectFromHost();
    return false;
}

void ScriptedServer::hangUp(QTcpSocket *socket)
{
    forget(socket);
    const auto found = m_outputs.find(socket);
    if (found != m_outputs.end() && !found->second.pieces.isEmpty()) {
        found->second.closeWhenSent = true; // after what is still queued
        return;
    }
    m_outputs.erase(socket);
    socket->disconnectFromHost(); // sends what is still buffered first
}
