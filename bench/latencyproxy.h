#pragma once
// A TCP proxy on 127.0.0.1 that counts the bytes it relays in each direction
// and may add a fixed delay to every chunk, so a loopback server behaves
// like one across a network with that much added round-trip time (for
// kernels without tc netem). It runs on a thread of its own, so the client
// under test cannot hold it up.

#include <QHostAddress>
#include <QThread>

#include <atomic>

class DelayingRelay;

// Bytes relayed so far over all connections, one counter per direction.
struct RelayedBytes
{
    std::atomic<qint64> toServer{0};
    std::atomic<qint64> fromServer{0};
};

class LatencyProxy
{
public:
    // Relays to targetPort on 127.0.0.1; each direction holds bytes for
    // oneWayDelayMs (none with 0), so the added round-trip time is twice that.
    explicit LatencyProxy(quint16 targetPort, int oneWayDelayMs = 0);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy &) = delete;
    LatencyProxy &operator=(const LatencyProxy &) = delete;

    // Starts listening on a free port; false when none could be had.
    bool start();
    quint16 port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // What the clients sent and what the server answered, since the start.
    qint64 bytesToServer() const { return m_bytes.toServer; }
    qint64 bytesFromServer() const { return m_bytes.fromServer; }

private:
    RelayedBytes m_bytes;
    QThread m_thread;
    DelayingRelay *m_relay;
    quint16 m_port = 0;
};
