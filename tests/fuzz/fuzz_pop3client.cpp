// Feeds the POP3 client scripted server replies. A server on 127.0.0.1
// answers every connection with the input after its first byte as its whole
// byte stream, whatever the client sends, and then closes its side. The
// first byte is the size of the writes the stream is cut into (0: one
// write); each write waits for a pass through the event loop, so a reply
// can arrive cut at any byte. The client lists the mailbox (UpdateInfo) and,
// when that worked and listed a message, retrieves and deletes the first one
// (ProcessMarks) in a second session that gets the same stream. A failure
// must be an EMailsieveError; anything else escaping is a finding.

#include "fuzzsupport.h"

#include "mail/mailerrors.h"
#include "mail/pop3client.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// Plays one byte stream to every client that connects.
class StreamServer : public QObject
{
public:
    StreamServer()
    {
        requirePromise(m_server.listen(QHostAddress::LocalHost), "a local port can be opened");
        connect(&m_server, &QTcpServer::newConnection, this, &StreamServer::accept);
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }

    void setStream(QByteArrayView stream, int writeSize)
    {
        m_stream = stream;
        m_writeSize = writeSize > 0 ? writeSize : qMax<qsizetype>(stream.size(), 1);
    }

    // Closes what the last input left open.
    void reset() { m_connections.clear(); }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_connections.emplace_back(socket);
            // What the client sends is read and dropped: unread bytes would
            // make the close a reset, which can discard replies in flight.
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            writeFrom(socket, 0);
        }
    }

    void writeFrom(QTcpSocket *socket, qsizetype offset)
    {
        if (socket->bytesToWrite() > 0) {
            // The system's buffer is full: the rest waits for the client to read.
            socket->flush();
            writeLater(socket, offset);
            return;
        }
        if (offset >= m_stream.size()) {
            // Only our side closes, so the client reads every byte and then
            // the end of the stream, at once and without a time-out.
            ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
            return;
        }
        const QByteArrayView chunk = m_stream.sliced(offset).first(qMin(m_writeSize, m_stream.size() - offset));
        socket->write(chunk.data(), chunk.size());
        socket->flush();
        writeLater(socket, offset + chunk.size());
    }

    // After the next pass through the event loop, so each write may arrive on its own.
    void writeLater(QTcpSocket *socket, qsizetype offset)
    {
        QTimer::singleShot(0, socket, [this, socket, offset] { writeFrom(socket, offset); });
    }

    QTcpServer m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_connections;
    QByteArrayView m_stream;
    qsizetype m_writeSize = 1;
};

void runClient(const QString &address)
{
    TmsRemotePOP pop;
    pop.setServer(address);
    pop.setUserName(QStringLiteral("user"));
    pop.setPassword(QStringLiteral("secret"));
    // The server's close ends every wait; the time-out is only a backstop.
    pop.setTimeOut(2);
    pop.setMessageDirectory(fuzzFolder());
    pop.OnUserMessageSave = [](int, const QByteArray &) {};
    try {
        pop.UpdateInfo();
        if (pop.Info().Count() == 0)
            return;
        pop.MarkForRetrieve(0);
        pop.MarkForDelete(0);
        pop.ProcessMarks();
    } catch (const EMailsieveError &) {
        // A failed session is an expected outcome of a hostile stream.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static StreamServer server;
    server.setStream(QByteArrayView(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)), data[0]);
    runClient(server.address());
    server.reset();
    return 0;
}
