#pragma once
// The POP3 client: logs in to one mailbox, lists the size and header block of
// every waiting message (LIST n, TOP n 1) into Info, and in a later session
// retrieves (RETR) and deletes (DELE) the messages marked in Info.
//
// Every operation either completes with QUIT or, on any failure, drops the
// connection without QUIT, so the server commits no DELE of a failed pass.
// Whatever ends an operation early (a refused command, a broken reply, a
// full disk, memory running out) leaves it as an EMailsieveError.
//
// The server is not trusted: STAT must give a count, LIST a size, after the
// number asked for when it names one (else EProtocolError, quoting the
// reply); a header block keeps at most MaxHeaderBlock bytes, and memory
// follows what the server really sends, never the message count it claims.
//
// Signing in: USER and PASS, SASL PLAIN, APOP or an OAuth 2.0 access token
// (AUTH OAUTHBEARER, else XOAUTH2). A password or token goes out only under
// TLS, or in plain text to a server on this computer or the local network
// when the mailbox asks for no TLS; a refusal is an ELoginRefusedError that
// names the user and server. A server that lists UTF8 is asked for it before
// the sign-in (RFC 6856), and a refusal of it changes nothing.
//
// After the greeting (and again after STLS) the client asks for the
// server's capabilities (CAPA, RFC 2449). When they include PIPELINING,
// the passes send their commands ahead of the replies, up to a window, and
// still read every reply in order: the rows, events, marks and deletions
// are the same as in the exchange of one command at a time, which is what a
// server without PIPELINING gets.
//
// With a header cache and a server that offers UIDL (CAPA lists it, or
// without CAPA a UIDL is accepted), a check sends one UIDL and one LIST for
// the whole mailbox and fetches (LIST n, TOP n 1) only the messages whose
// UIDL the cache does not hold with the size listed now; the others' rows
// come from the cache. A UIDL listed twice names no message. The delete
// pass then finds each marked message by its UIDL in one listing of its
// own, whatever number it has in the new session; a message whose UIDL is
// gone fails the pass before anything changes, and one whose UIDL is listed
// twice, or a server that no longer lists UIDL, falls back to comparing
// LIST and TOP at its old number.

#include "mail/remotemailbox.h"
#include "mail/sasl.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class TmsCustomPOP : public RemoteMailbox
{
    Q_OBJECT
public:
    explicit TmsCustomPOP(QObject *parent = nullptr);

    // From the last STAT reply; -1 until one was read, or when that reply
    // gave no valid size.
    qint64 MailboxSize() const { return m_mailboxSize; }
    // The capability names (upper case, without arguments) of the current
    // session; empty when the server does not know CAPA.
    QStringList capabilities() const { return m_capabilities; }
    bool hasCapability(const QString &name) const;
    // The mechanisms of the SASL capability (upper case); empty without one.
    QStringList saslMechanisms() const { return m_saslMechanisms; }
    // Whether a server's PIPELINING is used (it is unless switched off).
    bool pipeliningAllowed() const { return m_pipeliningAllowed; }
    void setPipeliningAllowed(bool allowed) { m_pipeliningAllowed = allowed; }
    // Commands sent ahead of their replies when pipelining.
    static constexpr int PipelineWindow = 128;
    // Header text kept of one message; the rest of its block is read and
    // dropped, up to MaxHeaderBlockRead, beyond which the pass fails.
    static constexpr qint64 MaxHeaderBlock = 256 * 1024;
    static constexpr qint64 MaxHeaderBlockRead = 64 * 1024 * 1024;
    // No real server lists that many capabilities.
    static constexpr qint64 MaxCapabilities = 64 * 1024;
    // A line of a UIDL or LIST listing (RFC 2449: a reply line holds at
    // most 512 octets).
    static constexpr qint64 MaxListingLine = 512;

    // "+" gives 1, "-" gives -1, anything else 0.
    int ReplyCode(const QString &line) const override;
    void Open() override;
    void Login() override;
    void Logout() override;

    // Receives the data block of RETR for item index and keeps it.
    virtual void SaveMessage(int index, qint64 expected) = 0;

protected:
    // A command and what reads its reply once every earlier reply was read.
    struct PipelinedCommand
    {
        QString line;
        std::function<void()> readReply;
    };

    // Appends the next commands; false when there are none left.
    using CommandSource = std::function<bool(std::deque<PipelinedCommand> &)>;

    void ReadStat();
    // CAPA; the list stays empty when the server refuses it.
    void ReadCapabilities();
    // Sends the commands the source gives, in order, as many ahead of their
    // replies as the window allows (one without pipelining), and reads the
    // replies oldest first; the source is asked only when the window has
    // room. A command with an empty line sends nothing: its readReply runs
    // in turn, once the replies before it were read. Returns when every
    // reply was read.
    void exchange(const CommandSource &source);
    // Sends a command now; its reply is read after those still outstanding.
    void sendAhead(PipelinedCommand command);
    // Appends LIST n and TOP n 1 of message i + 1 to commands; their
    // replies fill item (its Headers packed from the TOP data), and done
    // runs once they were read.
    void appendFetch(std::deque<PipelinedCommand> &commands, int i, const std::shared_ptr<TmsRemoteInfoItem> &item,
                     std::function<void()> done);
    // The multi-line answer to UIDL or LIST: the word after each message
    // number (its UIDL, its size), by number; nothing when the server
    // refuses the command. EProtocolError for a line that names no message
    // of the session or one named before.
    std::optional<QHash<int, QByteArray>> readListing(const QString &command);
    // Each message's UIDL by number when the server offers UIDL (CAPA
    // lists it, or without CAPA a UIDL is accepted); nothing otherwise.
    std::optional<QHash<int, QByteArray>> readUidls();
    // The message number of each UIDL; 0 for one listed more than once (a
    // broken server: such a UIDL names no message).
    static QHash<QByteArray, int> numbersByUidl(const QHash<int, QByteArray> &uidls);
    // Reads a status line and requires "+", else EServerError.
    void requireOk();
    // Sends the command and requires a "+" reply, else EServerError.
    void command(const QString &line);
    // The size the reply to "LIST number" gives, also when the reply holds
    // the size alone; EProtocolError when it names another message or no
    // valid size.
    qint64 listedSize(int number) const;
    // Drops the connection without QUIT, so nothing of the session is committed.
    void abandonSession() override;
    // The SASL capability's list once CAPA answered; nothing without CAPA.
    std::optional<QStringList> offeredSaslMechanisms() const override;
    // QUIT and close at the end of an operation's own session. Unlike
    // Disconnect it fails when an event handler cancelled the session
    // meanwhile: nothing of it was committed then.
    void quitSession();

private:
    // STLS, the handshake and CAPA again; the password never goes out in
    // plain text when the server offers no STLS.
    void upgradeToTls();
    int window() const;
    void clearCapabilities();
    // UTF8 when listed; the server's answer does not matter.
    void requestUtf8();
    // The sign-in by authMethod; token only for OAuth2.
    void authenticate(const QString &greeting, const QString &token);
    void signInWithPassword();
    void signInWithSaslPlain();
    void signInWithApop(const QString &greeting);
    void signInWithAccessToken(const QString &token);
    // AUTH with mechanism, its response on the AUTH line when that fits
    // (RFC 5034 4), else after the server's empty challenge. Returns the
    // status of an error challenge, which was answered, or an empty text;
    // lastReply() is then the server's final reply.
    QString runSasl(const SaslMechanism &mechanism);
    // Answers an unexpected challenge with "*" (RFC 5034), reads the
    // server's reply and fails.
    [[noreturn]] void cancelSasl(const QString &mechanism, const QString &challenge);
    // Unless lastReply() is positive, ELoginRefusedError: "The server
    // refused <what> for <user> at <host:port>: <reply> (status: <status>)".
    void requireAccepted(const QString &what, const QString &status = QString()) const;

    qint64 m_mailboxSize = -1;
    QStringList m_capabilities;
    QStringList m_saslMechanisms;
    bool m_capaAnswered = false;
    bool m_pipeliningAllowed = true;
    std::deque<std::function<void()>> m_replyReaders; // of commands sent, oldest first
};

class TmsRemotePOP : public TmsCustomPOP
{
    Q_OBJECT
public:
    explicit TmsRemotePOP(QObject *parent = nullptr);

    // Lists every waiting message (LIST n, TOP n 1, or from the header
    // cache) into Info, then quits.
    void UpdateInfo() override;
    // Each marked message once proved (by its UIDL, else RecheckMessage):
    // RETR for a retrieve mark, DELE for a delete mark; then QUIT.
    // EMailboxChangedError (without QUIT) when a message no longer matches
    // its item.
    void ProcessMarks() override;

    // To OnUserMessageSave when assigned, else streamed into its file in
    // messageDirectory(), which appears only once the whole block is in.
    void SaveMessage(int index, qint64 expected) override;

protected:
    // The commands that list message i + 1 again; then: EMailboxChangedError
    // when its size or header block differs from item i, else checked().
    void RecheckMessage(std::deque<PipelinedCommand> &commands, int i, std::function<void()> checked);
    // LIST n, OnRetrieving, RETR n, SaveMessage, OnRetrieved; n is the
    // message's number in this session.
    void RetrieveMessage(std::deque<PipelinedCommand> &commands, int i, int number);
    // OnDeleting and DELE n, sent at once (after its recheck passed).
    void DeleteMessage(int i, int number);

private:
    // The row of message i + 1 from the cache when it holds the message's
    // identity with its listed size.
    std::optional<TmsRemoteInfoItem> cachedRow(const QByteArray &identity, const QByteArray &listedSize);
    // By item index, the number in this session of each marked message
    // whose UIDL the session lists once; 0 for the others, which are
    // compared instead. EMailboxChangedError when a marked message's UIDL
    // is gone.
    std::vector<int> provenNumbers();

    std::vector<int> m_deleteAccepted; // items whose DELE the server accepted in this pass
};
