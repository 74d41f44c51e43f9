#include "support/memoryserver.h"

#include "mail/agsocket.h"

#include <QIODevice>
#include <QMetaObject>
#include <algorithm>
#include <cstring>

// The client's end of one session. The next piece is handed over from the
// event loop once the client has looked at every byte it holds (taken them
// all, or found no whole line among them): the client then has nothing left
// to do but wait for more.
class MemoryServer::Stream : public QIODevice
{
public:
    Stream(MemoryServer &server, QList<QByteArray> pieces) : m_server(server), m_pieces(std::move(pieces))
    {
        open(QIODevice::ReadWrite);
        handOverLater();
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_held.size() + QIODevice::bytesAvailable(); }
    bool canReadLine() const override
    {
        if (m_held.contains('\n') || QIODevice::canReadLine())
            return true;
        const_cast<Stream *>(this)->handOverLater();
        return false;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, m_held.size());
        // A read of nothing may come with no buffer at all.
        if (count > 0)
            std::memcpy(data, m_held.constData(), size_t(count));
        m_held.remove(0, count);
        if (m_held.isEmpty())
            handOverLater();
        return count;
    }

    qint64 writeData(const char *data, qint64 size) override
    {
        m_server.m_partialCommand.append(data, size);
        qsizetype end;
        while ((end = m_server.m_partialCommand.indexOf("\r\n")) >= 0) {
            m_server.m_commands << QString::fromUtf8(m_server.m_partialCommand.first(end));
            m_server.m_partialCommand.remove(0, end + 2);
        }
        return size;
    }

private:
    void handOverLater()
    {
        if (m_handOverDue)
            return;
        m_handOverDue = true;
        QMetaObject::invokeMethod(
            this, [this] { handOver(); }, Qt::QueuedConnection);
    }

    void handOver()
    {
        m_handOverDue = false;
        if (!isOpen() || m_finished)
            return;
        if (m_pieces.isEmpty()) {
            m_finished = true;
            emit readChannelFinished();
            return;
        }
        m_held += m_pieces.takeFirst();
        if (m_server.onPiece)
            m_server.onPiece();
        emit readyRead();
    }

    MemoryServer &m_server;
    QList<QByteArray> m_pieces;
    QByteArray m_held; // handed over, not yet taken by the client
    bool m_handOverDue = false;
    bool m_finished = false;
};

void MemoryServer::attach(TagSocket &client)
{
    client.setStreamFactory([this]() -> std::unique_ptr<QIODevice> {
        ++m_sessionsOpened;
        QList<QByteArray> pieces;
        if (!m_sessions.empty()) {
            pieces = m_sessions.front();
            m_sessions.pop_front();
        }
        return std::make_unique<Stream>(*this, std::move(pieces));
    });
}
