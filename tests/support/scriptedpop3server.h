#pragma once
// A scripted POP3 server on 127.0.0.1 for tests and demos, driven by the
// event loop of the thread that owns it (so a client that waits by
// processing events on the same thread talks to it in-process).
//
// It serves a mailbox of raw messages with the usual POP3 semantics:
//  - USER/PASS against one user name and password; a wrong one gets
//    "-ERR invalid password" and the client must send USER again;
//  - AUTH PLAIN, XOAUTH2 and OAUTHBEARER (RFC 5034, 4616, 7628), with or
//    without an initial response ("+ " asks for it), whatever CAPA lists; a
//    wrong token gets the mechanism's error challenge, and after the
//    client's answer to it "-ERR [AUTH] Authentication failed"; "*" cancels;
//  - APOP against the timestamp of the greeting, when it has one;
//  - UTF8 before login when the capabilities list it;
//  - STAT, LIST [n], TOP n k, RETR n, DELE n, RSET, NOOP, UIDL [n], QUIT;
//  - message numbers are fixed for a session (the mailbox is snapshot at
//    login); DELE only marks; the marked messages are removed when the client
//    sends QUIT; a connection dropped before QUIT commits nothing;
//  - data blocks are dot-stuffed on the wire and end with "." alone; each
//    message is sent with CR LF line ends, and a message whose text does not
//    end with a line break gets one;
//  - CAPA (RFC 2449) lists capabilities() (TOP, UIDL, USER unless set
//    otherwise), plus STLS while a plain session may upgrade; with
//    setCapaKnown(false) CAPA is an unknown command, as on old servers;
//  - commands are answered strictly in the order they arrive, also when a
//    client pipelines them and a scripted delay holds one back;
//  - TLS with a TestCertificate: setImplicitTls for POP3S, setStls for
//    STLS (RFC 2595; lines sent in plain text after STLS are discarded).
//
// Scripting, by the client's command: a rule names a command ("PASS",
// "LIST 2", "TOP 3 1", or ScriptedPop3Server::Greeting for the greeting)
// and the occurrence it applies to, counted over all sessions from when the
// rule is added (1 = the next time the client sends it;
// ScriptedPop3Server::Every = every time). "PASS" matches every line that is "PASS" or begins with "PASS ";
// "LIST 1" does not match "LIST 10". The first rule that fires wins.
//
//   ScriptedPop3Server server;
//   server.setMessages({msg1, msg2});          // user "user", password "secret"
//   server.failAt("PASS", "-ERR invalid password");
//   server.stallAt("TOP 3 1");                 // never answer that command
//   server.closeMidLineAt("STAT");             // half a status line, then close
//   server.closeMidBlockAt("RETR 1");          // status line, half the data, close
//   server.replyAt("STAT", QByteArray(70000, 'x') + "\r\n"); // any raw bytes
//   server.delayAt("LIST 1", 1500);            // answer normally, 1.5 s late
//   server.closeAt(ScriptedPop3Server::Greeting); // accept, then hang up
//   server.trickleAt("TOP 1 1", 100);          // one byte every 100 ms
//   server.endlessAt("CAPA", "+OK", "X\r\n");   // a block that never ends
//   server.setWriteSplit(1);                   // every byte in a read of its own
//   server.setHangUpAfterBytes(120);           // cut the session anywhere
//   QVERIFY(server.listen());
//   client.setServer(server.address());        // "127.0.0.1:<port>"
//   ...
//   QCOMPARE(server.dialogue(), QStringList{"S: +OK POP3 server ready", "C: USER user", ...});
//
// dialogue() holds one entry per line sent by the client ("C: USER user")
// and per status line sent by the server ("S: +OK 2 340"), in order; the
// data lines that follow a status line are not recorded. A status line cut
// short by closeMidLineAt is recorded as far as it was sent.

#include "support/scriptedserver.h"

class TmsCustomPOP;

// Listening, TLS, the user's secrets and the dialogue: see ScriptedServer.
class ScriptedPop3Server : public ScriptedServer
{
    Q_OBJECT
public:
    static inline const QString Greeting = QStringLiteral("<greeting>");
    static constexpr int Every = 0;

    explicit ScriptedPop3Server(QObject *parent = nullptr);
    ~ScriptedPop3Server() override;

    // --- The mailbox ---------------------------------------------------
    void setMessages(const QList<QByteArray> &messages);
    void addMessage(const QByteArray &message);
    // Removes message number n (1-based, as a new session would number it),
    // as another mail program would; sessions already logged in keep their view.
    void removeMessage(int number);
    // The committed mailbox, in order.
    QList<QByteArray> messages() const;
    // The size STAT and LIST report for a message (its text with CR LF line ends).
    static qint64 wireSize(const QByteArray &message);

    // --- Capabilities and TLS --------------------------------------------
    void setCapaKnown(bool known) { m_capaKnown = known; }
    // A plain session may upgrade with STLS.
    void setStls(bool on) { m_stls = on; }

    // --- Scripting -------------------------------------------------------
    // Answer the command with this status line (CR LF added) instead of the
    // normal answer; the command has no effect.
    void failAt(const QString &command, const QByteArray &statusLine, int occurrence = 1);
    // Send exactly these bytes instead of the normal answer.
    void replyAt(const QString &command, const QByteArray &rawBytes, int occurrence = 1);
    // Send exactly these bytes, then close the connection.
    void replyAndCloseAt(const QString &command, const QByteArray &rawBytes, int occurrence = 1);
    // Never answer; the connection stays open.
    void stallAt(const QString &command, int occurrence = 1);
    // Close the connection without answering.
    void closeAt(const QString &command, int occurrence = 1);
    // Send the first half of the normal status line, no line end, then close.
    void closeMidLineAt(const QString &command, int occurrence = 1);
    // Send the normal status line and the first half of its data block, then close.
    void closeMidBlockAt(const QString &command, int occurrence = 1);
    // Answer normally after milliseconds.
    void delayAt(const QString &command, int milliseconds, int occurrence = 1);
    // Send the normal answer one byte every intervalMs.
    void trickleAt(const QString &command, int intervalMs, int occurrence = 1);
    // Send statusLine (CR LF added; none when it is null), then pattern
    // again and again, as fast as the client reads: without end when total
    // is negative, else until total bytes followed by tail.
    void endlessAt(const QString &command, const QByteArray &statusLine, const QByteArray &pattern, qint64 total = -1,
                   const QByteArray &tail = {}, int occurrence = 1);
    void clearScript() { m_rules.clear(); }

    // --- The wire ----------------------------------------------------------
    // Every write of every connection goes out in pieces of chunkBytes with
    // pauseMs between them, so the client reads a reply cut at those bytes.
    void setWriteSplit(int chunkBytes, int pauseMs = 5) { splitWrites(chunkBytes, pauseMs); }
    // A connection is closed once the server has sent this many bytes on it
    // (negative: never), wherever in a line or block that is.
    void setHangUpAfterBytes(qint64 bytes) { setByteBudget(bytes); }

    // --- Observations ----------------------------------------------------
    // Bytes written to clients, over all connections.
    qint64 bytesSent() const { return sentBytes(); }
    // Sessions that ended with QUIT after login (their deletions committed).
    int committedSessions() const { return m_committedSessions; }
    int openSessions() const { return static_cast<int>(m_sessions.size()); }
    // The most commands a client had sent that were not answered yet: 1 for
    // a client that waits for each reply, more for one that pipelines.
    int maxCommandsAhead() const { return m_maxCommandsAhead; }

private:
    struct Stored
    {
        quint64 id;
        QByteArray text; // CR LF line ends, ending in CR LF
    };
    enum class Action { Reply, Raw, RawThenClose, Stall, Close, CloseMidLine, CloseMidBlock, Delay, Trickle, Endless };
    struct Rule
    {
        QString command;
        int occurrence;
        Action action;
        QByteArray bytes;
        int delayMs = 0;
        int seen = 0;
        QByteArray pattern = {}; // Endless
        qint64 total = -1;
        QByteArray tail = {};
    };
    struct Session
    {
        bool userGiven = false;
        bool loggedIn = false;
        bool encrypted = false;
        QList<Stored> snapshot;
        QList<bool> deleted;
        QStringList queued; // received, not yet answered
        bool held = false; // a delayed or stalled answer blocks the later ones
        QString saslMechanism; // the AUTH waiting for the client's next line
        bool saslFailed = false; // its error challenge was sent
    };
    // The normal answer: a status line and, for a multi-line answer, its
    // dot-stuffed data block ending in ".\r\n".
    struct Answer
    {
        Answer(const QByteArray &statusLine, const QByteArray &dataBlock = {}, bool closeAfterwards = false)
            : status(statusLine), block(dataBlock), closeAfter(closeAfterwards)
        {
        }
        QByteArray status;
        QByteArray block;
        bool closeAfter;
        bool startTls = false;
    };

    void addRule(const QString &command, Action action, const QByteArray &bytes, int occurrence, int delayMs = 0);
    const Rule *firingRule(const QString &line);
    void startSession(QTcpSocket *socket) override;
    void greet(QTcpSocket *socket) override;
    void onReadyRead(QTcpSocket *socket) override;
    bool markEncrypted(QTcpSocket *socket) override;
    void discardInput(QTcpSocket *socket) override;
    void forget(QTcpSocket *socket) override;
    QList<QTcpSocket *> sessionSockets() const override;
    // Answers the queued commands in order until one is held back.
    void drain(QTcpSocket *socket);
    void handleLine(QTcpSocket *socket, const QString &line);
    Answer capaAnswer(const Session &session) const;
    void perform(QTcpSocket *socket, const QString &line, const Rule *rule);
    Answer answer(QTcpSocket *socket, const QString &line);
    Answer transactionAnswer(Session &session, const QString &verb, const QStringList &args);
    Answer authAnswer(Session &session, const QStringList &args);
    // The client's line in a running AUTH exchange.
    Answer saslAnswer(Session &session, const QString &line);
    Answer saslVerdict(Session &session, const QString &mechanism, const QByteArray &response);
    Answer apopAnswer(Session &session, const QStringList &args);
    Answer loggedIn(Session &session);
    const Stored *message(const Session &session, const QString &arg, QByteArray &error) const;
    void send(QTcpSocket *socket, const QByteArray &bytes, int chunk = 0, int pauseMs = 0);
    void commit(Session &session);
    static QByteArray normalized(const QByteArray &message);
    static QByteArray dotStuffed(const QByteArray &text);

    bool m_capaKnown = true;
    bool m_stls = false;
    int m_maxCommandsAhead = 0;
    QList<Stored> m_mailbox;
    quint64 m_nextId = 1;
    QList<Rule> m_rules;
    std::map<QTcpSocket *, Session> m_sessions;
    int m_committedSessions = 0;
};
