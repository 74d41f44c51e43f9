#pragma once
// A scripted IMAP4rev1 server on 127.0.0.1 for tests, driven by the event
// loop of the thread that owns it (a client that waits by processing events
// on the same thread talks to it in-process). It is small and honest, not a
// full server: enough of RFC 3501 for a client that lists headers and
// removes messages by UID, with faults to inject.
//
// What it serves:
//  - folders of raw messages (INBOX and "Junk" with \Junk exist from the
//    start), each with its UIDVALIDITY and UIDs that are never reused;
//    messages go out with CR LF line ends, and one whose text does not end
//    with a line break gets one;
//  - CAPABILITY (capabilities(), plus STARTTLS while a plain session may
//    upgrade), NOOP, LOGOUT, STARTTLS (RFC 2595: bytes sent in plain text
//    after it are discarded);
//  - LOGIN (refused in plain text when LOGINDISABLED is listed), and
//    AUTHENTICATE PLAIN, XOAUTH2 and OAUTHBEARER, with an initial response
//    only when SASL-IR is listed; a wrong token gets the mechanism's error
//    challenge and, after the client's answer, NO [AUTHENTICATIONFAILED];
//  - SELECT and EXAMINE with FLAGS, EXISTS, RECENT, UIDVALIDITY, UIDNEXT;
//    the session's message numbers are fixed at SELECT and change only by
//    its own expunges and by the updates NOOP and IDLE report;
//  - UID FETCH with UID, RFC822.SIZE, FLAGS, BODY[HEADER], BODY[] and
//    their .PEEK forms (data as literals; BODY[] without .PEEK sets \Seen);
//  - UID SEARCH ALL, and UID SEARCH RETURN (ALL) ALL with ESEARCH listed
//    (RFC 4731: one set of ranges, "1:4,7");
//  - UID STORE (+FLAGS, -FLAGS, FLAGS, each also .SILENT), EXPUNGE,
//    UID EXPUNGE (with UIDPLUS), UID COPY, UID MOVE (with MOVE), both with
//    COPYUID when UIDPLUS is listed;
//  - LIST (with the SPECIAL-USE selection and RETURN options; special-use
//    attributes are always shown; names go out as the UTF-8 of the folder's
//    name, in a quoted string, or as a literal when they hold CR, LF or NUL);
//  - IDLE (with IDLE listed): "+ idling", then "* n EXISTS" as soon as
//    addMessage delivers to the selected folder, and OK after DONE.
//
// Scripting, by command name: the verb after the tag ("LOGIN", "SELECT"),
// or "UID " and the next word ("UID FETCH"), or Greeting; an empty name
// matches every command, so occurrence n is the n-th command of any kind.
// Occurrences count over all sessions from when the rule is added (1 = the
// next time; Every = every time). The first rule that fires wins.
//
//   ScriptedImapServer server;
//   server.setMessages({msg1, msg2});                  // user "user", password "secret"
//   server.failAt("UID FETCH", "NO [UNAVAILABLE] try later");
//   server.failAt({}, "BAD what?", 3);                 // the third command
//   server.noiseAt("UID FETCH", {"* OK noise", "* 3 EXPUNGE"}); // before every reply line
//   server.closeMidLiteralAt("UID FETCH");             // cut inside the first literal
//   server.endlessLiteralAt("UID FETCH", -1);          // a literal that never ends
//   server.delayAt("LOGIN", 500);                      // a slow answer
//   server.setWriteSplit(7);                           // every reply in 7-byte reads
//   QVERIFY(server.listen());
//   ... client.setServer(server.address()) ...
//   QCOMPARE(server.commands(), QStringList{"a1 CAPABILITY", ...});
//
// dialogue() holds one entry per command line the client sent ("C: a1 LOGIN
// user secret"; a command with literals as one entry, the literals inline)
// and per line the server sent ("S: * 1 FETCH (UID 4 BODY[HEADER] {310}";
// literal data is not recorded), in order.

#include "support/scriptedserver.h"

// Listening, TLS, the user's secrets and the dialogue: see ScriptedServer.
class ScriptedImapServer : public ScriptedServer
{
    Q_OBJECT
public:
    static inline const QString Greeting = QStringLiteral("<greeting>");
    static inline const QString Inbox = QStringLiteral("INBOX");
    static constexpr int Every = 0;

    explicit ScriptedImapServer(QObject *parent = nullptr);
    ~ScriptedImapServer() override;

    // --- The mailbox ---------------------------------------------------
    // A new, empty folder; specialUse such as "\\Junk" or empty.
    void addFolder(const QString &name, const QString &specialUse = {});
    void setMessages(const QList<QByteArray> &messages, const QString &folder = Inbox);
    // Delivers a message and returns its UID; a session idling on the
    // folder hears of it at once.
    quint32 addMessage(const QByteArray &message, const QString &folder = Inbox);
    // As another client would remove it (sessions see it gone at once).
    void removeMessage(quint32 uid, const QString &folder = Inbox);
    // As another client would set them.
    void setFlags(quint32 uid, const QStringList &flags, const QString &folder = Inbox);
    // The UIDs stay as they are, so only the UIDVALIDITY tells a client
    // that its UIDs no longer mean the same messages.
    void setUidValidity(quint32 uidValidity, const QString &folder = Inbox);
    quint32 uidValidity(const QString &folder = Inbox) const;
    // What a folder holds now, in order.
    QList<QByteArray> messages(const QString &folder = Inbox) const;
    QList<quint32> uids(const QString &folder = Inbox) const;
    QStringList flags(quint32 uid, const QString &folder = Inbox) const;
    // How often \Seen was added to a message, by any command.
    int seenSettings() const { return m_seenSettings; }
    // The size RFC822.SIZE reports (the text with CR LF line ends).
    static qint64 wireSize(const QByteArray &message);

    // --- Capabilities and TLS --------------------------------------------
    // A plain session may upgrade with STARTTLS.
    void setStartTls(bool on) { m_startTls = on; }

    // --- Scripting -------------------------------------------------------
    // Answers the command with "<tag> " + response (CR LF added); the
    // command has no effect.
    void failAt(const QString &command, const QByteArray &response, int occurrence = 1);
    // Sends these bytes instead of the answer, "$TAG" replaced by the command's tag.
    void replyAt(const QString &command, const QByteArray &rawBytes, int occurrence = 1);
    // Sends these untagged lines (CR LF added) before each line of the answer.
    void noiseAt(const QString &command, const QList<QByteArray> &lines, int occurrence = Every);
    // Never answers, nor anything the client sends after it.
    void stallAt(const QString &command, int occurrence = 1);
    // Closes the connection without answering.
    void closeAt(const QString &command, int occurrence = 1);
    // Sends the answer up to half of its first literal's data, then closes.
    void closeMidLiteralAt(const QString &command, int occurrence = 1);
    // Answers with a FETCH whose BODY[HEADER] literal announces
    // declaredBytes and sends header lines as fast as the client reads:
    // all of them and a proper end when declaredBytes >= 0, else an
    // announced 2^40 bytes without end.
    void endlessLiteralAt(const QString &command, qint64 declaredBytes, int occurrence = 1);
    // Answers after delayMs, and reads nothing the client sends meanwhile.
    void delayAt(const QString &command, int delayMs, int occurrence = 1);
    // Sends every session in IDLE one untagged line of about lineBytes
    // bytes, as fast as the client reads it.
    void sendLongLineToIdlers(qint64 lineBytes);
    void clearScript() { m_rules.clear(); }
    // Every write goes out in pieces of chunkBytes with pauseMs between them.
    void setWriteSplit(int chunkBytes, int pauseMs = 2) { splitWrites(chunkBytes, pauseMs); }

    // --- Observations ----------------------------------------------------
    int openSessions() const { return static_cast<int>(m_sessions.size()); }
    // Sessions in IDLE right now.
    int idlingSessions() const;

private:
    struct Stored
    {
        quint32 uid;
        QByteArray text; // CR LF line ends, ending in CR LF
        QStringList flags;
    };
    struct Folder
    {
        QString specialUse;
        quint32 uidValidity = 1;
        quint32 uidNext = 1;
        QList<Stored> messages;
    };
    enum class Action { Fail, Raw, Noise, Stall, Close, CloseMidLiteral, EndlessLiteral, Delay };
    struct Rule
    {
        QString command;
        int occurrence;
        Action action;
        QByteArray bytes;
        QList<QByteArray> lines = {};
        qint64 declared = -1;
        int delayMs = 0;
        int seen = 0;
    };
    struct Session
    {
        QByteArray input; // received, not yet a whole command
        QByteArray command; // the command so far, up to a literal's data
        qint64 literalLeft = 0;
        bool encrypted = false;
        bool loggedIn = false;
        bool held = false;
        QString selected; // empty when no folder is selected
        bool readOnly = false;
        QList<quint32> view; // UIDs by message number
        QByteArray pendingTag; // of an AUTHENTICATE or IDLE waiting for the client's line
        QString saslMechanism;
        bool saslFailed = false;
        bool idling = false;
    };
    // One answer: whole responses (CR LF ends, literals inline), the
    // tagged one last; what happens after it is sent.
    struct Answer
    {
        QList<QByteArray> responses;
        bool close = false;
        bool startTls = false;
    };

    void addRule(const QString &command, Action action, const QByteArray &bytes, int occurrence);
    const Rule *firingRule(const QString &name);
    void startSession(QTcpSocket *socket) override;
    void greet(QTcpSocket *socket) override;
    void onReadyRead(QTcpSocket *socket) override;
    bool markEncrypted(QTcpSocket *socket) override;
    void discardInput(QTcpSocket *socket) override;
    void forget(QTcpSocket *socket) override;
    QList<QTcpSocket *> sessionSockets() const override;
    void handleCommand(QTcpSocket *socket, const QByteArray &command);
    void perform(QTcpSocket *socket, const QByteArray &tag, const QString &verb, const QList<QByteArray> &args,
                 const Rule *rule);
    // The answer without faults, after the noise lines.
    void respond(QTcpSocket *socket, const QByteArray &tag, const QString &verb, const QList<QByteArray> &args,
                 const QList<QByteArray> &noise = {});
    Answer answer(QTcpSocket *socket, const QByteArray &tag, const QString &verb, const QList<QByteArray> &args);
    Answer continuation(Session &session, const QByteArray &line);
    Answer authenticate(Session &session, const QByteArray &tag, const QList<QByteArray> &args);
    Answer saslVerdict(Session &session, const QByteArray &tag, const QString &mechanism, const QByteArray &response);
    Answer select(Session &session, const QByteArray &tag, const QString &verb, const QString &folder);
    Answer list(const QByteArray &tag, const QList<QByteArray> &args) const;
    Answer uidCommand(Session &session, const QByteArray &tag, const QList<QByteArray> &args);
    Answer search(const Session &session, const QByteArray &tag, const QList<QByteArray> &criteria) const;
    Answer fetch(Session &session, const QByteArray &tag, const QList<quint32> &uids, QList<QByteArray> items);
    Answer store(Session &session, const QByteArray &tag, const QList<quint32> &uids, const QList<QByteArray> &args);
    Answer copy(Session &session, const QByteArray &tag, const QList<quint32> &uids, const QString &target, bool move);
    // Removes the folder's messages among uids and answers "* n EXPUNGE" for each.
    void expunge(Session &session, const QList<quint32> &uids, Answer &answer);
    // EXPUNGE and EXISTS for what other sessions and deliveries changed.
    void reportChanges(Session &session, Answer &answer);
    QByteArray capabilityLine(const Session &session) const;
    bool hasCapability(const QString &name) const;
    // The session's UIDs in set ("1:*", "4,7:9"), in message-number order.
    QList<quint32> uidsInSet(const Session &session, const QByteArray &set) const;
    Folder *folder(const QString &name);
    const Folder *folder(const QString &name) const;
    Stored *stored(const QString &folderName, quint32 uid);
    void addFlag(Stored &message, const QString &flag);
    void send(QTcpSocket *socket, const Answer &answer, const QList<QByteArray> &noise = {});
    static QList<QByteArray> tokens(const QByteArray &command);
    static QByteArray normalized(const QByteArray &message);
    static QString canonical(const QString &name);
    static QByteArray quoted(const QString &text);
    // A folder name as LIST gives it.
    static QByteArray listedName(const QString &name);

    bool m_startTls = false;
    std::map<QString, Folder> m_folders;
    int m_seenSettings = 0;
    QList<Rule> m_rules;
    std::map<QTcpSocket *, Session> m_sessions;
};
