#pragma once
// What the scripted POP3 and IMAP servers share: listening on 127.0.0.1
// with sockets that may start TLS (at once, or later for STLS/STARTTLS),
// the bytes waiting to go out on each connection (sent in pieces with
// pauses, topped up as the client reads for answers without end, cut off
// after a byte budget), and the dialogue of the client's and the server's
// lines. A subclass speaks the protocol: it greets, reads, and keeps one
// session per connection.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <map>

class QTcpServer;
class RemoteMailbox;
class QTcpSocket;

// A certificate and its private key, made by the openssl tool for one test
// run: self-signed, or signed by another TestCertificate acting as a CA.
struct TestCertificate
{
    QByteArray certificatePem;
    QByteArray keyPem;

    bool isNull() const { return certificatePem.isEmpty(); }
    QSslCertificate certificate() const { return QSslCertificate(certificatePem); }
    QSslKey key() const { return QSslKey(keyPem, QSsl::Ec); }

    // commonName becomes the subject's CN; altNames are subjectAltName
    // entries such as "DNS:localhost" or "IP:127.0.0.1". A null result with
    // *error set when openssl is missing or fails.
    static TestCertificate generate(const QString &commonName, const QStringList &altNames = {},
                                    const TestCertificate *issuer = nullptr, QString *error = nullptr);
};

class ScriptedServer : public QObject
{
    Q_OBJECT
public:
    ~ScriptedServer() override;

    // --- Signing in and capabilities -------------------------------------
    void setCredentials(const QString &user, const QString &password);
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    // The one OAuth 2.0 access token XOAUTH2 and OAUTHBEARER accept; none
    // when empty.
    void setAccessToken(const QString &token) { m_accessToken = token; }
    // The whole greeting line, without its line end.
    void setGreeting(const QByteArray &line) { m_greeting = line; }
    void setCapabilities(const QStringList &capabilities) { m_capabilities = capabilities; }
    QStringList capabilities() const { return m_capabilities; }

    // --- TLS ---------------------------------------------------------------
    void setTlsIdentity(const TestCertificate &identity) { m_identity = identity; }
    // Every connection starts with the TLS handshake; the greeting follows it.
    void setImplicitTls(bool on) { m_implicitTls = on; }
    int tlsHandshakes() const { return m_tlsHandshakes; }

    // --- Listening -----------------------------------------------------------
    // Listens on 127.0.0.1 at an ephemeral port (or the given one).
    bool listen(quint16 port = 0);
    // Stops accepting connections, so connecting is refused, and drops the
    // open sessions.
    void stopListening();
    quint16 port() const { return m_port; }
    // "127.0.0.1:<port>", ready for a client's server setting.
    QString address() const;
    // Points the client at this mailbox: server, user name, password.
    void logIn(RemoteMailbox &client) const;

    // --- Observations --------------------------------------------------------
    QStringList dialogue() const { return m_dialogue; }
    // Only the client's lines, without the "C: " prefix.
    QStringList commands() const;
    void clearDialogue() { m_dialogue.clear(); }
    int connectionCount() const { return m_connectionCount; }

protected:
    // Bytes to send: bytes, then pattern again and again.
    struct Piece
    {
        QByteArray bytes;
        int chunk = 0; // bytes per write, 0 for the server's write split
        int pauseMs = 0; // between two writes
        QByteArray pattern = {};
        qint64 patternLeft = 0; // < 0: without end
    };

    ScriptedServer(const QByteArray &greeting, const QStringList &capabilities, QObject *parent);

    virtual void startSession(QTcpSocket *socket) = 0;
    // Sends the greeting (after the handshake with implicit TLS).
    virtual void greet(QTcpSocket *socket) = 0;
    virtual void onReadyRead(QTcpSocket *socket) = 0;
    // Notes that the session's handshake is done; false when the session
    // is gone.
    virtual bool markEncrypted(QTcpSocket *socket) = 0;
    // Drops what the session received and has not handled yet.
    virtual void discardInput(QTcpSocket *socket) = 0;
    // Ends the session of a connection that is closing.
    virtual void forget(QTcpSocket *socket) = 0;
    virtual QList<QTcpSocket *> sessionSockets() const = 0;

    // Every later piece goes out chunkBytes at a time (0: at once), with
    // pauseMs between the writes.
    void splitWrites(int chunkBytes, int pauseMs);
    // A connection is closed once this many bytes went out on it (negative:
    // never).
    void setByteBudget(qint64 bytes) { m_hangUpAfter = bytes; }
    // Bytes written to clients, over all connections.
    qint64 sentBytes() const { return m_bytesSent; }
    void queue(QTcpSocket *socket, Piece piece);
    // Ends the session; the connection closes after what is still queued.
    void hangUp(QTcpSocket *socket);
    // The server's side of the TLS handshake; whatever the client sent in
    // plain text before it is discarded, so it never counts as sent under TLS.
    void startTls(QTcpSocket *socket);

    // SASL as both protocols offer it: PLAIN (RFC 4616), OAUTHBEARER
    // (RFC 7628) and XOAUTH2.
    static bool isSaslMechanism(const QString &mechanism);
    // Whether a decoded response signs in: PLAIN with the password, the
    // others with the access token.
    bool saslAccepts(const QString &mechanism, const QByteArray &response) const;
    // The base64 error challenge that refuses an access token.
    static QByteArray saslErrorChallenge(const QString &mechanism);
    // Whether line is the client's proper answer to that challenge: "^A"
    // for OAUTHBEARER (RFC 7628 3.2.3), an empty line for XOAUTH2.
    static bool answersErrorChallenge(const QString &mechanism, const QByteArray &line);

    QString m_user = QStringLiteral("user");
    QString m_password = QStringLiteral("secret");
    QString m_accessToken;
    QByteArray m_greeting;
    QStringList m_capabilities;
    QStringList m_dialogue; // "C: " and "S: " lines, in order

private:
    // Bytes waiting to go out on one connection, oldest first.
    struct Output
    {
        QList<Piece> pieces;
        qint64 sent = 0;
        bool paused = false;
        bool closeWhenSent = false;
    };

    void onNewConnection();
    void onEncrypted(QTcpSocket *socket);
    // Writes what may go out now; called again by a pause's end and as the
    // socket drains.
    void pump(QTcpSocket *socket);
    // Writes bytes within the connection's byte budget; false once the
    // budget is spent and the connection closed.
    bool write(QTcpSocket *socket, const QByteArray &bytes);

    QTcpServer *m_server;
    quint16 m_port = 0;
    TestCertificate m_identity;
    bool m_implicitTls = false;
    int m_tlsHandshakes = 0;
    std::map<QTcpSocket *, Output> m_outputs;
    int m_splitChunk = 0;
    int m_splitPauseMs = 0;
    qint64 m_hangUpAfter = -1;
    qint64 m_bytesSent = 0;
    int m_connectionCount = 0;
};
