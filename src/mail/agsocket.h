#pragma once
// The socket transport under the mail protocol classes: TagSocket owns one
// TCP connection and offers open, connect, send a command line, read a reply
// line and receive a data block; TmsMailBase adds the server settings.
//
// Everything runs on the caller's thread. Every wait processes the thread's
// events until its flag is set, Cancel is called (from a slot or timer that
// runs inside the wait), or TimeOut seconds pass without progress. Failures
// fire OnError (whose handler may edit the text) and then throw.
//
// The connection may be protected by TLS (tlsMode): from the first byte, or
// from StartTls on. The server's certificate is verified against the
// system's trust store and the server name; one that fails is still accepted
// when its SHA-256 fingerprint is the trusted one, or when
// OnCertificateUntrusted says so; otherwise the connection ends with
// ECertificateError, whose text names the certificate and the reasons.
//
// A failure of the network or the server (a name not found, a refused or
// reset connection, a time-out) names the server as "host:port" in its text.

#include "mail/timecounter.h"
#include "mail/tlssecurity.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class QIODevice;
class QSslSocket;

// The dial-up connection the transport brings up before it opens a socket
// and lets go of after it closes one.
class DialUpHook
{
public:
    virtual ~DialUpHook() = default;
    // Brings the connection up if it is down; throws ERASError,
    // ECanceledError or ETimedOutError when that fails.
    virtual void EnsureConnected() = 0;
    // The transport is done with the connection (hang up if we dialled).
    virtual void ConnectionClosed() = 0;
};

class TagSocket : public QObject
{
    Q_OBJECT
public:
    explicit TagSocket(QObject *parent = nullptr);
    ~TagSocket() override;

    // Longest reply line accepted, line end included.
    static constexpr qsizetype MaxReplyLine = 64 * 1024;
    static constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();
    // However slowly it trickles, one reply (a status line and its data
    // block) may take this many time-outs in all. A message body streamed
    // to its file (see BodyDownload) is not held to it.
    static constexpr int ReplyTimeOuts = 10;
    // Bytes read from the network ahead of the protocol.
    static constexpr qint64 ReadBufferSize = 1024 * 1024;
    static constexpr int MaxHostNameLength = 127;
    static constexpr int MaxServiceNameLength = 63;

    DialUpHook *RAS() const { return m_ras; }
    void setRAS(DialUpHook *ras) { m_ras = ras; }
    int timeOut() const { return m_timeCounter.TimeOut(); }
    void setTimeOut(int seconds) { m_timeCounter.setTimeOut(seconds); }
    QString serviceName() const { return m_serviceName; }
    void setServiceName(const QString &name) { m_serviceName = name; }
    QString lastReply() const { return m_lastReply; }
    TlsMode tlsMode() const { return m_tlsMode; }
    virtual void setTlsMode(TlsMode mode) { m_tlsMode = mode; }
    // The fingerprint (certificateFingerprint form) of a certificate the
    // user trusts although it fails verification; empty for none.
    QString trustedFingerprint() const { return m_trustedFingerprint; }
    void setTrustedFingerprint(const QString &fingerprint) { m_trustedFingerprint = fingerprint; }
    // The connection is protected by TLS now.
    bool isEncrypted() const;
    // A socket exists: from Open until Close.
    bool Connected() const { return m_stream != nullptr; }
    // Where Open decided to connect to.
    QHostAddress remoteAddress() const { return m_remoteAddress; }
    quint16 remotePort() const { return m_remotePort; }

    // Makes the byte stream that Open puts in place of a TCP socket; none
    // (the default) connects over TCP. Tests serve a session from memory
    // this way. The stream counts as connected as soon as it is made,
    // announces bytes with readyRead and the server's end with
    // readChannelFinished, and offers no TLS.
    using StreamFactory = std::function<std::unique_ptr<QIODevice>()>;
    void setStreamFactory(StreamFactory factory) { m_streamFactory = std::move(factory); }
    // The steady clock that times whole replies (ReplyTimeOuts); tests turn
    // one by hand. The silence time-out of each wait keeps its own ticker.
    void setClock(TReplyTimer::Clock clock) { m_replyTime.setClock(std::move(clock)); }

    // While one lives, the data blocks and literals the transport receives
    // are a message body streamed to its file: a large one on a slow link
    // takes as long as it takes while bytes keep coming, bounded by its size
    // limit and the silence time-out, so its time does not count towards
    // the reply's total. Status lines around it still do.
    class BodyDownload
    {
    public:
        explicit BodyDownload(TagSocket &socket) : m_socket(socket) { ++m_socket.m_bodyDownloads; }
        ~BodyDownload() { --m_socket.m_bodyDownloads; }
        BodyDownload(const BodyDownload &) = delete;
        BodyDownload &operator=(const BodyDownload &) = delete;

    private:
        TagSocket &m_socket;
    };

    virtual void ResetState();
    // The number of the reply line's first three characters, -1 when none.
    virtual int ReplyCode(const QString &line) const;
    // Dial-up, OnOpen, name and port resolution, socket creation.
    virtual void Open();
    virtual void Close();
    // Aborts what is running; safe to call from inside a wait.
    virtual void Cancel();

    // TCP connection; with TlsMode::Implicit also the TLS handshake.
    void Connect();
    // The TLS handshake on the connected socket, with certificate
    // verification; ETlsError, ECertificateError or the wait's errors.
    // Bytes the server sent in plain text that are still unread would pass
    // for protected ones afterwards: they end the session (EProtocolError).
    void StartTls();
    // Sends line + CR LF.
    void SendCommand(const QString &line);
    // Sends the lines, each with CR LF, in one write.
    void SendCommands(const QStringList &lines);
    // Reads one line into lastReply() and returns ReplyCode of it. The
    // reply's time starts here; a data block read next shares it.
    int ReadReply();
    // The next line as received, without its line end, also kept decoded
    // in lastReply(). startsReply starts the reply's time as ReadReply
    // does; otherwise the line shares the time of the reply before it, so
    // a protocol whose reply runs over many lines (IMAP) times them as one.
    // A line may hold maxLength bytes, its line end included.
    QByteArray ReadRawLine(bool startsReply = true, qsizetype maxLength = MaxReplyLine);
    // Exactly size bytes (an IMAP literal), handed to take chunk by chunk
    // as they arrive; within the current reply's time.
    void ReceiveExactly(qint64 size, const std::function<void(const QByteArray &)> &take);
    // Appends the bytes of a data block, up to and including its final "."
    // line, exactly as received. expected < 1 means the size is unknown.
    // Only the first `keep` bytes are kept (the rest is read and dropped);
    // a block longer than `most` bytes ends the session with EProtocolError.
    void ReceiveData(QByteArray &stream, qint64 expected, qint64 keep = Unlimited, qint64 most = Unlimited);
    // The same, writing every byte of the block to device as it arrives;
    // a failed write throws EFileError.
    void ReceiveData(QIODevice &device, qint64 expected);
    // Fires OnError with the text of error n, closes the socket and throws
    // ESocketError; n = 0 does nothing.
    void RaiseSocketError(int n);
    // A whole line waits in the socket's buffer, or more bytes than a line
    // may hold: ReadRawLine takes the line, or fails, without waiting.
    bool LineBuffered() const;

    // Events, each called only when assigned.
    std::function<void()> OnOpen;
    std::function<void()> OnClosing;
    std::function<void()> OnClosed;
    std::function<void()> OnCancel;
    std::function<void(QString &msg)> OnError;
    // perc is -1 when the size is unknown; transferred counts bytes received
    // before the current chunk.
    std::function<void(int perc, qint64 transferred)> OnProgress;
    // Asked when a certificate fails verification and is not the trusted
    // one: true trusts it (its fingerprint becomes trustedFingerprint(),
    // for the caller to store), false refuses it. The countdown is stopped
    // while it runs, so it may show a window and wait for the user.
    std::function<bool(const TlsFailure &failure)> OnCertificateUntrusted;
    // Bytes arrived or the connection ended, also while no wait runs: a
    // protocol that listens between its commands (IMAP IDLE) reads them then.
    std::function<void()> OnInputPending;

    // Nearest whole percentage of part in total, halves to the even neighbour.
    static int percentOf(qint64 part, qint64 total);

protected:
    // Fires OnError with text, closes the socket and throws ESocketError
    // carrying the text as the handler left it.
    [[noreturn]] void raiseSocketErrorText(const QString &text);
    // The same path for a TLS failure, throwing ETlsError.
    [[noreturn]] void raiseTlsError(const QString &text);
    QString hostPart() const;
    // For work that goes on without waiting for the server, such as rows
    // taken from a cache: a pass through the event loop once the last one is
    // a slice ago, as while a reply streams in, so the window stays live. A
    // Cancel seen there ends the operation (ECanceledError).
    void passEventsWhileBusy();
    // "host:port" of the connection, for the texts that name the server.
    QString serverAddress() const;

    QString m_server;
    quint16 m_defaultPort = 0;

    // Notification flags, set by the socket's signals, the ticker and Cancel.
    bool Canceled = false;
    bool HostResolved = false;
    bool ServiceResolved = false;
    bool ConnectDone = false;
    bool Readable = false;
    bool Writable = false;
    bool PeerClosed = false;
    bool ErrorPending = false;
    bool Encrypted = false;
    int ErrorCode = 0;

private:
    // The port written after the host, 0 when there is none usable.
    quint16 serverPort() const;
    void ResolveHost();
    void ResolvePort();
    void createSocket();
    void cancelLookup();

    // The one wait: processes events until flag, Canceled or Expired (and,
    // with stopOnTrouble, until an error or the peer's close).
    void waitFor(const bool &flag, bool stopOnTrouble);
    // Times the reply out once it took ReplyTimeOuts time-outs in all.
    void checkReplyTime();
    // The wait for more reply bytes (Readable), within the reply's time.
    void waitForReadable();
    // Takes the bytes of a data block from the socket and hands them to
    // take, until the block's final "." line; see ReceiveData.
    void receiveBlock(qint64 expected, qint64 most, const std::function<void(const QByteArray &)> &take);
    // Turns how a wait ended into the matching error.
    void raiseWaitOutcome();
    // "text (host:port)": the text of a failure of the network or the server.
    QString namingServer(const QString &text) const;
    [[noreturn]] void raiseNetworkError(const QString &text);
    [[noreturn]] void raiseTimedOut(const QString &text);
    [[noreturn]] void raiseTimedOut();
    [[noreturn]] void raiseCanceled();
    void fireError(QString &msg);

    void onConnected();
    void onReadyRead();
    void onBytesWritten();
    void onDisconnected();
    void onErrorOccurred();
    void onHostLookedUp(const QHostInfo &info);
    void onEncrypted();
    void onSslErrors(const QList<QSslError> &errors);
    // Fires OnError with text, closes and throws Error(details..., text as
    // the handler left it).
    template <typename Error, typename... Details>
    [[noreturn]] void raiseClosing(const QString &text, const Details &...details);

    DialUpHook *m_ras = nullptr;
    StreamFactory m_streamFactory;
    // The bytes of the connection: the socket, or the stream of the factory.
    QIODevice *m_stream = nullptr;
    QSslSocket *m_socket = nullptr; // null when the stream is not a socket
    TTimeCounter m_timeCounter;
    QElapsedTimer m_sinceEvents; // since the last pass through the event loop
    TReplyTimer m_replyTime; // since the current reply was first waited for
    int m_bodyDownloads = 0; // BodyDownload scopes alive
    QString m_serviceName;
    QString m_lastReply;
    QString m_errorText; // Qt's text of a pending error that has no number
    int m_lookupId = -1;
    QHostInfo m_hostInfo;
    QHostAddress m_remoteAddress;
    quint16 m_remotePort = 0;
    TlsMode m_tlsMode = TlsMode::None;
    QString m_trustedFingerprint;
    std::optional<TlsFailure> m_tlsFailure; // the certificate refused in this handshake
    // The socket whose certificate OnCertificateUntrusted is being asked
    // about: Close leaves it to the check, which is still running inside it.
    QSslSocket *m_socketInTrustCheck = nullptr;
};

// The published settings every mail protocol component shares.
class TmsMailBase : public TagSocket
{
    Q_OBJECT
public:
    using TagSocket::TagSocket;

    // A host name or dotted IPv4 address, optionally followed by ":" and a port.
    QString server() const { return m_server; }
    void setServer(const QString &server) { m_server = server; }
    // The port used when the service lookup finds none.
    quint16 defaultPort() const { return m_defaultPort; }
    void setDefaultPort(quint16 port) { m_defaultPort = port; }

    virtual void Login() = 0;
    virtual void Logout() = 0;
};
