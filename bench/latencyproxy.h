#pragma once
// A TCP proxy on 127.0.0.1 that adds a fixed delay to every chunk of bytes
// in each direction, so a loopback server behaves like one across a network
// with that much added round-trip time (for kernels without tc netem). It
// runs on a thread of its own, so the client under test cannot hold it up.

#include <QHostAddress>
#include <QThread>

class DelayingRelay;

class LatencyProxy
{
public:
    // Relays to targetPort on 127.0.0.1; each direction holds bytes for
    // oneWayDelayMs, so the added round-trip time is twice that.
    LatencyProxy(quint16 targetPort, int oneWayDelayMs);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy &) = delete;
    LatencyProxy &operator=(const LatencyProxy &) = delete;

    // Starts listening on a free port; false when none could be had.
    bool start();
    quint16 port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    QThread m_thread;
    DelayingRelay *m_relay;
    quint16 m_port = 0;
};
