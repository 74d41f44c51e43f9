#include "mail/agsocket.h"

#include "mail/headers.h"
#include "mail/mailerrors.h"
#include "mail/socketerrors.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QLocale>
#include <QSslSocket>
#include <algorithm>
#include <netdb.h>
#include <utility>

namespace {

constexpr qint64 DataChunkSize = 16384;
// The longest stretch without a pass through the event loop while a reply
// streams in or rows are listed without waiting.
constexpr qint64 EventSliceMs = 50;

// Finds where a data block ends: at its first line that is "." alone, or at
// once when the block is that line only. The end line may arrive cut across
// any number of reads, so the last bytes seen are carried over.
class BlockEnd
{
public:
    // How many of the available bytes belong to the block; complete() tells
    // whether they end it.
    qsizetype take(const QByteArray &available)
    {
        const QByteArray window = m_tail + available;
        qsizetype end = -1;
        if (m_received < 3 && window.startsWith(".\r\n"))
            end = 3;
        else if (const qsizetype at = window.indexOf("\r\n.\r\n"); at >= 0)
            end = at + 5;
        const qsizetype taken = end < 0 ? available.size() : end - m_tail.size();
        m_complete = end >= 0;
        m_received += taken;
        // Four bytes suffice: the end line is five, and the window always
        // holds the newest chunk whole.
        m_tail = (m_tail + available.first(taken)).right(4);
        return taken;
    }
    bool complete() const { return m_complete; }
    qint64 received() const { return m_received; }

private:
    QByteArray m_tail;
    qint64 m_received = 0;
    bool m_complete = false;
};

// Leaves the time a message body takes out of its reply's time while it lives.
class BodyTime
{
public:
    BodyTime(TReplyTimer &timer, bool body) : m_timer(body ? &timer : nullptr)
    {
        if (m_timer)
            m_timer->pause();
    }
    ~BodyTime()
    {
        if (m_timer)
            m_timer->resume();
    }
    BodyTime(const BodyTime &) = delete;
    BodyTime &operator=(const BodyTime &) = delete;

private:
    TReplyTimer *m_timer;
};

} // namespace

TagSocket::TagSocket(QObject *parent) : QObject(parent)
{
}

TagSocket::~TagSocket()
{
    cancelLookup();
}

void TagSocket::ResetState()
{
    Canceled = false;
    m_timeCounter.Reset();
    m_lookupId = -1;
    ErrorPending = false;
    ErrorCode = 0;
    HostResolved = false;
    ServiceResolved = false;
    ConnectDone = false;
    Readable = false;
    Writable = false;
    PeerClosed = false;
    Encrypted = false;
    m_replyTime.invalidate();
}

int TagSocket::ReplyCode(const QString &line) const
{
    bool ok = false;
    const int code = line.left(3).toInt(&ok);
    return ok ? code : -1;
}

void TagSocket::Open()
{
    if (m_stream) // a new session never inherits an old socket
        Close();
    if (m_ras)
        m_ras->EnsureConnected();
    if (OnOpen)
        OnOpen();
    if (m_server.isEmpty())
        RaiseSocketError(SocketError::ServerRequired);
    // The port first, so that a host not found is named with it.
    ResolvePort();
    ResolveHost();
    // A Cancel from an event handler may come while nothing waits; it must
    // still stop the session before it begins.
    if (Canceled)
        raiseCanceled();
    createSocket();
}

QString TagSocket::hostPart() const
{
    return m_server.section(QLatin1Char(':'), 0, 0);
}

QString TagSocket::serverAddress() const
{
    return hostPart() + QLatin1Char(':') + QString::number(m_remotePort);
}

quint16 TagSocket::serverPort() const
{
    const qsizetype colon = m_server.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return 0;
    bool ok = false;
    const uint port = m_server.mid(colon + 1).toUInt(&ok);
    return ok && port <= 0xFFFF ? static_cast<quint16>(port) : 0;
}

void TagSocket::ResolveHost()
{
    const QString host = hostPart();
    if (host.size() > MaxHostNameLength)
        RaiseSocketError(SocketError::HostNameTooLong);

    QHostAddress dotted;
    if (dotted.setAddress(host) && dotted.protocol() == QAbstractSocket::IPv4Protocol) {
        m_remoteAddress = dotted;
        return;
    }

    m_lookupId = QHostInfo::lookupHost(host, this, &TagSocket::onHostLookedUp);
    waitFor(HostResolved, false);
    raiseWaitOutcome();

    // Our server listens where its name points first; IPv4 is preferred
    // because a name like "localhost" may list ::1 first.
    const QList<QHostAddress> addresses = m_hostInfo.addresses();
    if (addresses.isEmpty())
        RaiseSocketError(SocketError::ResolvingHost);
    m_remoteAddress = addresses.first();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            m_remoteAddress = address;
            break;
        }
    }
}

void TagSocket::ResolvePort()
{
    if (const quint16 port = serverPort()) {
        m_remotePort = port;
        return;
    }
    if (m_serviceName.isEmpty())
        RaiseSocketError(SocketError::ServiceRequired);
    if (m_serviceName.size() > MaxServiceNameLength)
        RaiseSocketError(SocketError::ServiceNameTooLong);
    if (Canceled)
        raiseCanceled();

    // The services database is a local file, so the lookup answers at once.
    servent entry{};
    char buffer[1024];
    servent *found = nullptr;
    const QByteArray name = m_serviceName.toLocal8Bit();
    getservbyname_r(name.constData(), "tcp", &entry, buffer, sizeof buffer, &found);
    ServiceResolved = true;
    m_remotePort = found ? ntohs(static_cast<quint16>(found->s_port)) : m_defaultPort;
}

void TagSocket::createSocket()
{
    if (m_streamFactory) {
        m_stream = m_streamFactory().release();
        m_stream->setParent(this);
        connect(m_stream, &QIODevice::readyRead, this, &TagSocket::onReadyRead);
        connect(m_stream, &QIODevice::bytesWritten, this, &TagSocket::onBytesWritten);
        connect(m_stream, &QIODevice::readChannelFinished, this, &TagSocket::onDisconnected);
        return;
    }
    m_socket = new QSslSocket(this);
    m_stream = m_socket;
    // A server that sends faster than the protocol reads fills this much.
    m_socket->setReadBufferSize(ReadBufferSize);
    connect(m_socket, &QAbstractSocket::connected, this, &TagSocket::onConnected);
    connect(m_socket, &QIODevice::readyRead, this, &TagSocket::onReadyRead);
    connect(m_socket, &QIODevice::bytesWritten, this, &TagSocket::onBytesWritten);
    connect(m_socket, &QAbstractSocket::disconnected, this, &TagSocket::onDisconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &TagSocket::onErrorOccurred);
    connect(m_socket, &QSslSocket::encrypted, this, &TagSocket::onEncrypted);
    connect(m_socket, &QSslSocket::sslErrors, this, &TagSocket::onSslErrors);
}

void TagSocket::Connect()
{
    if (Canceled)
        raiseCanceled();
    if (!m_stream)
        RaiseSocketError(SocketError::NotConnected);
    if (!m_socket) {
        ConnectDone = true; // a stream is connected from the start
    } else {
        m_socket->connectToHost(m_remoteAddress, m_remotePort);
        waitFor(ConnectDone, true);
        raiseWaitOutcome();
    }
    if (!ConnectDone)
        RaiseSocketError(SocketError::ClosedByServer);
    if (m_tlsMode == TlsMode::Implicit)
        StartTls();
}

bool TagSocket::isEncrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

void TagSocket::StartTls()
{
    if (Canceled)
        raiseCanceled();
    if (!m_stream)
        RaiseSocketError(SocketError::NotConnected);
    if (!m_socket)
        raiseTlsError(QStringLiteral("TLS is not available on this connection"));
    if (!QSslSocket::supportsSsl())
        raiseTlsError(QStringLiteral("TLS is not available: no TLS library was found on this system"));
    if (m_socket->bytesAvailable() > 0)
        raiseClosing<EProtocolError>(QStringLiteral("The server sent data before the TLS handshake"));
    m_tlsFailure.reset();
    Encrypted = false;
    m_errorText.clear();
    // The certificate must name the server as the user wrote it, not the
    // address it resolved to; the name also goes out as SNI.
    m_socket->setPeerVerifyName(hostPart());
    m_socket->startClientEncryption();
    waitFor(Encrypted, true);
    if (Canceled)
        raiseCanceled();
    if (m_timeCounter.Expired())
        raiseTimedOut();
    if (m_tlsFailure)
        raiseClosing<ECertificateError>(m_tlsFailure->text(), *m_tlsFailure);
    if (!Encrypted) {
        const QString reason = m_errorText.isEmpty() ? QStringLiteral("the server closed the connection") : m_errorText;
        raiseTlsError(QStringLiteral("TLS negotiation with %1 failed: %2").arg(hostPart(), reason));
    }
}

void TagSocket::SendCommand(const QString &line)
{
    SendCommands({line});
}

void TagSocket::SendCommands(const QStringList &lines)
{
    if (Canceled)
        raiseCanceled();
    if (!m_stream)
        RaiseSocketError(SocketError::NotConnected);
    if (PeerClosed || (m_socket && m_socket->state() != QAbstractSocket::ConnectedState))
        RaiseSocketError(SocketError::ClosedByServer);
    Writable = false;
    QByteArray data;
    for (const QString &line : lines)
        data += line.toUtf8() + "\r\n";
    if (m_stream->write(data) < 0)
        RaiseSocketError(SocketError::ClosedByServer);
    // Short commands normally leave at once; only a full send buffer needs
    // the event loop (and a pass through it per command batch would repaint
    // the window each time).
    if (m_socket)
        m_socket->flush();
    if (m_stream && m_stream->bytesToWrite() == 0)
        Writable = true;
    waitFor(Writable, true);
    raiseWaitOutcome();
    if (!Writable)
        RaiseSocketError(SocketError::ClosedByServer);
}

bool TagSocket::LineBuffered() const
{
    return m_stream && (m_stream->canReadLine() || m_stream->bytesAvailable() >= MaxReplyLine);
}

int TagSocket::ReadReply()
{
    ReadRawLine();
    return ReplyCode(m_lastReply);
}

QByteArray TagSocket::ReadRawLine(bool startsReply, qsizetype maxLength)
{
    if (Canceled)
        raiseCanceled();
    if (!m_stream)
        RaiseSocketError(SocketError::NotConnected);
    m_lastReply.clear();
    if (startsReply || !m_replyTime.isValid())
        m_replyTime.start();
    else
        checkReplyTime(); // lines already buffered never wait, so a flood is timed here
    // The line is taken from the socket's buffer, so whatever follows it
    // (the data block of TOP or RETR) stays there for ReceiveData.
    while (!m_stream->canReadLine()) {
        if (m_stream->bytesAvailable() >= maxLength)
            RaiseSocketError(SocketError::ReplyTooLong);
        if (PeerClosed)
            RaiseSocketError(SocketError::ClosedByServer);
        waitForReadable();
        raiseWaitOutcome();
    }
    QByteArray line = m_stream->readLine(maxLength + 1);
    if (line.size() > maxLength || !line.endsWith('\n'))
        RaiseSocketError(SocketError::ReplyTooLong);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    m_lastReply = decodeHeaderLine(line);
    return line;
}

void TagSocket::ReceiveExactly(qint64 size, const std::function<void(const QByteArray &)> &take)
{
    if (Canceled)
        raiseCanceled();
    if (!m_stream)
        RaiseSocketError(SocketError::NotConnected);
    if (!m_replyTime.isValid())
        m_replyTime.start();
    const BodyTime bodyTime(m_replyTime, m_bodyDownloads > 0);
    qint64 received = 0;
    while (received < size) {
        const QByteArray bytes = m_stream->read(std::min(DataChunkSize, size - received));
        if (!bytes.isEmpty()) {
            if (OnProgress)
                OnProgress(percentOf(received, size), received);
            if (Canceled) // the progress handler may cancel
                raiseCanceled();
            checkReplyTime();
            received += bytes.size();
            take(bytes);
            continue;
        }
        if (PeerClosed)
            RaiseSocketError(SocketError::ClosedByServer);
        waitForReadable();
        raiseWaitOutcome();
    }
}

void TagSocket::ReceiveData(QByteArray &stream, qint64 expected, qint64 keep, qint64 most)
{
    receiveBlock(expected, most, [&stream, keep](const QByteArray &bytes) {
        if (stream.size() < keep)
            stream.append(bytes.first(std::min<qint64>(bytes.size(), keep - stream.size())));
    });
}

void TagSocket::ReceiveData(QIODevice &device, qint64 expected)
{
    receiveBlock(expected, Unlimited, [&device](const QByteArray &bytes) {
        if (device.write(bytes) != bytes.size())
            throw EFileError(QStringLiteral("Cannot write the message: %1").arg(device.errorString()));
    });
}

void TagSocket::receiveBlock(qint64 expected, qint64 most, const std::function<void(const QByteArray &)> &take)
{
    if (Canceled)
        raiseCanceled();
    if (!m_stream)
        RaiseSocketError(SocketError::NotConnected);
    if (!m_replyTime.isValid())
        m_replyTime.start();
    const BodyTime bodyTime(m_replyTime, m_bodyDownloads > 0);
    BlockEnd end;
    for (;;) {
        // Replies to pipelined commands may follow the block in the buffer:
        // take the block's bytes only.
        const QByteArray available = m_stream->peek(DataChunkSize);
        if (!available.isEmpty()) {
            const qint64 before = end.received();
            if (OnProgress)
                OnProgress(expected < 1 ? -1 : percentOf(before, expected), before);
            if (Canceled) // the progress handler may cancel
                raiseCanceled();
            checkReplyTime(); // a flood never waits, so it is timed here
            const QByteArray bytes = m_stream->read(end.take(available));
            if (end.received() > most)
                raiseClosing<EProtocolError>(QStringLiteral("The server sent a data block of more than %1")
                                                 .arg(QLocale::c().formattedDataSize(most, 0)));
            take(bytes);
            if (end.complete())
                return;
            continue;
        }
        if (PeerClosed)
            RaiseSocketError(SocketError::ClosedByServer);
        waitForReadable();
        raiseWaitOutcome();
    }
}

void TagSocket::Close()
{
    if (QIODevice *stream = std::exchange(m_stream, nullptr)) {
        QSslSocket *socket = std::exchange(m_socket, nullptr);
        if (OnClosing)
            OnClosing();
        stream->disconnect(this);
        if (!socket) {
            stream->close();
            stream->deleteLater();
        } else if (socket != m_socketInTrustCheck) {
            socket->abort();
            socket->deleteLater();
        }
        if (OnClosed)
            OnClosed();
    }
    if (m_ras)
        m_ras->ConnectionClosed();
}

void TagSocket::Cancel()
{
    Canceled = true;
    if (OnCancel)
        OnCancel();
    cancelLookup();
    Close();
}

void TagSocket::cancelLookup()
{
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
}

void TagSocket::waitFor(const bool &flag, bool stopOnTrouble)
{
    m_timeCounter.Start();
    while (!flag && !Canceled && !m_timeCounter.Expired() && !(stopOnTrouble && (ErrorPending || PeerClosed))) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_sinceEvents.start();
    }
    m_timeCounter.Stop();
}

void TagSocket::passEventsWhileBusy()
{
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < EventSliceMs)
        return;
    QCoreApplication::processEvents();
    m_sinceEvents.start();
    if (Canceled)
        raiseCanceled();
}

void TagSocket::checkReplyTime()
{
    const qint64 limitMs = qint64(ReplyTimeOuts) * m_timeCounter.TimeOut() * 1000;
    if (m_replyTime.isValid() && m_replyTime.elapsed() > limitMs)
        raiseTimedOut(QStringLiteral("The server took more than %1 seconds to send one reply").arg(limitMs / 1000));
}

void TagSocket::waitForReadable()
{
    checkReplyTime();
    Readable = false;
    // While replies stream in, a pass through the event loop for every chunk
    // (and with it a repaint of the window) would cost far more than the
    // protocol itself. So bytes the system already holds are taken without
    // one, as long as the last pass is less than a slice ago: the window
    // stays live and Cancel is seen, and a peer that needs the event loop to
    // answer (one in this thread) is never kept waiting.
    if (m_stream && m_sinceEvents.isValid() && m_sinceEvents.elapsed() < EventSliceMs && m_stream->waitForReadyRead(0)
        && Readable)
        return;
    waitFor(Readable, true);
}

void TagSocket::raiseWaitOutcome()
{
    if (Canceled)
        raiseCanceled();
    if (m_timeCounter.Expired())
        raiseTimedOut();
    if (ErrorPending) {
        if (ErrorCode != 0)
            RaiseSocketError(ErrorCode);
        raiseNetworkError(m_errorText);
    }
}

QString TagSocket::namingServer(const QString &text) const
{
    return QStringLiteral("%1 (%2)").arg(text, serverAddress());
}

void TagSocket::raiseNetworkError(const QString &text)
{
    raiseSocketErrorText(namingServer(text));
}

void TagSocket::raiseTimedOut()
{
    raiseTimedOut(socketErrorText(SocketError::TimedOut));
}

void TagSocket::raiseTimedOut(const QString &text)
{
    m_timeCounter.Stop();
    const QString named = namingServer(text);
    QString msg = named;
    fireError(msg);
    cancelLookup();
    Close();
    throw ETimedOutError(named);
}

void TagSocket::raiseCanceled()
{
    m_timeCounter.Stop();
    QString msg = socketErrorText(SocketError::Canceled);
    fireError(msg);
    cancelLookup();
    throw ECanceledError(socketErrorText(SocketError::Canceled));
}

void TagSocket::RaiseSocketError(int n)
{
    if (n == 0)
        return;
    if (isNetworkError(n))
        raiseNetworkError(socketErrorText(n));
    raiseSocketErrorText(socketErrorText(n));
}

template <typename Error, typename... Details>
void TagSocket::raiseClosing(const QString &text, const Details &...details)
{
    m_timeCounter.Stop();
    QString msg = text;
    fireError(msg);
    // A session that failed at the socket level cannot be trusted to be in
    // step with the server any more, so it is never reused.
    Close();
    throw Error(details..., msg);
}

void TagSocket::raiseSocketErrorText(const QString &text)
{
    raiseClosing<ESocketError>(text);
}

void TagSocket::raiseTlsError(const QString &text)
{
    raiseClosing<ETlsError>(text);
}

void TagSocket::fireError(QString &msg)
{
    if (OnError)
        OnError(msg);
}

int TagSocket::percentOf(qint64 part, qint64 total)
{
    const qint64 scaled = part * 100;
    qint64 quotient = scaled / total;
    const qint64 remainder = scaled % total;
    const qint64 rest = total - remainder;
    if (remainder > rest || (remainder == rest && (quotient & 1)))
        ++quotient;
    return static_cast<int>(quotient);
}

void TagSocket::onConnected()
{
    // Commands are short lines; Nagle's wait for an acknowledgement would
    // stall a pipelined window behind every small write.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ConnectDone = true;
}

void TagSocket::onReadyRead()
{
    Readable = true;
    if (OnInputPending)
        OnInputPending();
}

void TagSocket::onBytesWritten()
{
    if (m_stream && m_stream->bytesToWrite() == 0)
        Writable = true;
}

void TagSocket::onDisconnected()
{
    PeerClosed = true;
    if (OnInputPending)
        OnInputPending();
}

void TagSocket::onErrorOccurred()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        PeerClosed = true;
        return;
    }
    // Qt times out only the short direct waits of waitForReadable; what
    // counts as a time-out is the countdown's business.
    if (error == QAbstractSocket::SocketTimeoutError)
        return;
    m_errorText = m_socket->errorString();
    ErrorCode = socketErrorNumber(error, m_errorText);
    ErrorPending = true;
    if (OnInputPending)
        OnInputPending();
}

void TagSocket::onEncrypted()
{
    Encrypted = true;
}

void TagSocket::onSslErrors(const QList<QSslError> &errors)
{
    QSslSocket *socket = m_socket;
    const QSslCertificate certificate = socket->peerCertificate();
    if (sameFingerprint(m_trustedFingerprint, certificateFingerprint(certificate))) {
        socket->ignoreSslErrors(errors);
        return;
    }
    const TlsFailure failure = describeTlsFailure(hostPart(), certificate, errors);
    if (OnCertificateUntrusted) {
        // The user may take their time; the server's patience is its own affair.
        m_timeCounter.Stop();
        m_socketInTrustCheck = socket;
        const bool trusted = OnCertificateUntrusted(failure);
        m_socketInTrustCheck = nullptr;
        if (socket != m_socket) {
            // Closed (cancelled) while the user was asked: the handshake
            // fails as this returns, and the socket goes after that.
            socket->deleteLater();
            return;
        }
        m_timeCounter.Start();
        if (trusted) {
            m_trustedFingerprint = failure.fingerprint;
            socket->ignoreSslErrors(errors);
            return;
        }
    }
    m_tlsFailure = failure;
}

void TagSocket::onHostLookedUp(const QHostInfo &info)
{
    if (info.lookupId() != m_lookupId)
        return;
    m_lookupId = -1;
    m_hostInfo = info;
    HostResolved = true;
    if (info.error() != QHostInfo::NoError) {
        m_errorText = info.errorString();
        ErrorCode = info.error() == QHostInfo::HostNotFound ? SocketError::HostNotFound : SocketError::TryAgain;
        ErrorPending = true;
    }
}
