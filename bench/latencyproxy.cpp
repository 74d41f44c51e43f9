#include "latencyproxy.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <deque>

namespace {

// One direction of one connection: what arrives from `from` is counted and
// written to `to` once it has waited the delay, in arrival order; the close
// of `from` is passed on the same way.
class DelayedPipe : public QObject
{
public:
    DelayedPipe(QTcpSocket *from, QTcpSocket *to, int delayMs, std::atomic<qint64> &count)
        : QObject(from), m_to(to), m_delayMs(delayMs), m_count(count)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &DelayedPipe::release);
        connect(from, &QIODevice::readyRead, this, [this, from] {
            const QByteArray bytes = from->readAll();
            m_count += bytes.size();
            hold(bytes, false);
        });
        connect(from, &QAbstractSocket::disconnected, this, [this] { hold({}, true); });
    }

private:
    struct Held
    {
        QDeadlineTimer due;
        QByteArray bytes;
        bool close;
    };

    void hold(const QByteArray &bytes, bool close)
    {
        if (m_delayMs == 0 && m_held.empty()) {
            pass(bytes, close);
            return;
        }
        m_held.push_back({QDeadlineTimer(m_delayMs, Qt::PreciseTimer), bytes, close});
        if (!m_timer.isActive())
            m_timer.start(int(m_held.front().due.remainingTime()));
    }

    void release()
    {
        while (!m_held.empty() && m_held.front().due.hasExpired()) {
            const Held held = m_held.front();
            m_held.pop_front();
            pass(held.bytes, held.close);
        }
        if (!m_held.empty())
            m_timer.start(int(m_held.front().due.remainingTime()));
    }

    void pass(const QByteArray &bytes, bool close)
    {
        if (!m_to)
            return;
        if (close)
            m_to->disconnectFromHost();
        else
            m_to->write(bytes);
    }

    QPointer<QTcpSocket> m_to;
    const int m_delayMs;
    std::atomic<qint64> &m_count;
    QTimer m_timer;
    std::deque<Held> m_held;
};

} // namespace

// Lives on the proxy's thread: accepts clients and dials the target for each.
class DelayingRelay : public QObject
{
public:
    DelayingRelay(quint16 targetPort, int delayMs, RelayedBytes &bytes)
        : m_listener(this), m_targetPort(targetPort), m_delayMs(delayMs), m_bytes(bytes)
    {
        connect(&m_listener, &QTcpServer::newConnection, this, &DelayingRelay::accept);
    }

    quint16 listen() { return m_listener.listen(QHostAddress::LocalHost, 0) ? m_listener.serverPort() : 0; }

private:
    void accept()
    {
        while (QTcpSocket *client = m_listener.nextPendingConnection()) {
            auto *server = new QTcpSocket(client);
            // Small writes must not wait for Nagle on top of the added delay.
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            server->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            new DelayedPipe(client, server, m_delayMs, m_bytes.toServer);
            new DelayedPipe(server, client, m_delayMs, m_bytes.fromServer);
            connect(client, &QAbstractSocket::disconnected, client, &QObject::deleteLater);
            server->connectToHost(QHostAddress::LocalHost, m_targetPort);
        }
    }

    QTcpServer m_listener; // a child, so it moves to the proxy's thread with us
    const quint16 m_targetPort;
    const int m_delayMs;
    RelayedBytes &m_bytes;
};

LatencyProxy::LatencyProxy(quint16 targetPort, int oneWayDelayMs)
    : m_relay(new DelayingRelay(targetPort, oneWayDelayMs, m_bytes))
{
    m_relay->moveToThread(&m_thread);
}

LatencyProxy::~LatencyProxy()
{
    if (m_thread.isRunning()) {
        QMetaObject::invokeMethod(
            m_relay, [relay = m_relay] { delete relay; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    } else {
        delete m_relay;
    }
}

bool LatencyProxy::start()
{
    m_thread.start();
    QMetaObject::invokeMethod(
        m_relay, [this] { m_port = m_relay->listen(); }, Qt::BlockingQueuedConnection);
    return m_port != 0;
}
