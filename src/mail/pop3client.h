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
// The server is not trusted: STAT must give two numbers, LIST the number
// asked for and a size (else EProtocolError, quoting the reply); a header
// block keeps at most MaxHeaderBlock bytes, and memory follows what the
// server really sends, never the message count it claims.
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

#include "mail/agsocket.h"
#include "mail/headers.h"
#include "mail/sasl.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct TmsRemoteInfoItem
{
    bool DeleteMark = false;
    bool RetrieveMark = false;
    qint64 Size = 0;    // octets, from the reply to LIST; 0 when it held no number
    TmsHeaders Headers; // raw header lines, cut at the first empty line
    // The last ProcessMarks deleted this message: its DELE was accepted and
    // the pass ended with a QUIT the server accepted.
    bool Deleted = false;
};

// Index i describes message number i + 1 of the session that listed it.
class TmsRemoteInfo
{
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    TmsRemoteInfoItem &Items(int i) { return m_items.at(i); }
    const TmsRemoteInfoItem &Items(int i) const { return m_items.at(i); }
    void Add(TmsRemoteInfoItem item) { m_items.push_back(std::move(item)); }
    void Clear() { m_items.clear(); }

private:
    std::vector<TmsRemoteInfoItem> m_items;
};

class TmsCustomPOP : public TmsMailBase
{
    Q_OBJECT
public:
    explicit TmsCustomPOP(QObject *parent = nullptr);

    QString userName() const { return m_userName; }
    void setUserName(const QString &name) { m_userName = name; }
    QString password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    // How Login proves who the user is: USER and PASS, SASL PLAIN, APOP, or
    // an OAuth 2.0 access token (SASL OAUTHBEARER or XOAUTH2).
    enum class AuthMethod { UserPass, SaslPlain, Apop, OAuth2 };
    AuthMethod authMethod() const { return m_authMethod; }
    void setAuthMethod(AuthMethod method) { m_authMethod = method; }
    // For OAuth2: asked at each login for a fresh access token, which then
    // stands in for the password; may throw an EMailsieveError.
    std::function<QString()> accessTokenSource;
    // From the last STAT reply; -1 until one was read.
    int MessageCount() const { return m_messageCount; }
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

    // Also the port: POP3S (995) for implicit TLS, POP3 (110) otherwise.
    void setTlsMode(TlsMode mode) override;
    // "+" gives 1, "-" gives -1, anything else 0.
    int ReplyCode(const QString &line) const override;
    void Open() override;
    void Login() override;
    void Logout() override;
    // QUIT and close when a socket is open. A refused QUIT still closes.
    void Disconnect();

    // Receives the data block of RETR for item index and keeps it.
    virtual void SaveMessage(int index, qint64 expected) = 0;
    // UserName and Password (for OAuth2 accessTokenSource) must be set; no
    // value may break a command line.
    virtual void CheckProperties();
    // CR, LF or NUL in a value sent in a command would end that line early
    // and start a command of its own.
    static bool breaksCommandLine(const QString &text);

protected:
    // A command and what reads its reply once every earlier reply was read.
    struct PipelinedCommand
    {
        QString line;
        std::function<void()> readReply;
    };

    // Appends the next commands; false when there are none left.
    using CommandSource = std::function<bool(std::deque<PipelinedCommand> &)>;

    void ConnectIfNeeded();
    void ReadStat();
    // CAPA; the list stays empty when the server refuses it.
    void ReadCapabilities();
    // Sends the commands the source gives, in order, as many ahead of their
    // replies as the window allows (one without pipelining), and reads the
    // replies oldest first; the source is asked only when the window has
    // room. Returns when every reply was read.
    void exchange(const CommandSource &source);
    // Sends a command now; its reply is read after those still outstanding.
    void sendAhead(PipelinedCommand command);
    // Appends LIST n and TOP n 1 of message i + 1 to commands; their
    // replies fill item, and done runs after the TOP data was read.
    void appendFetch(std::deque<PipelinedCommand> &commands, int i,
                     const std::shared_ptr<TmsRemoteInfoItem> &item, std::function<void()> done);
    // Reads a status line and requires "+", else EServerError.
    void requireOk();
    // Sends the command and requires a "+" reply, else EServerError.
    void command(const QString &line);
    // The size the reply to "LIST number" gives; EProtocolError when the
    // reply names another message or no valid size.
    qint64 listedSize(int number) const;
    // Drops the connection without QUIT, so nothing of the session is committed.
    void abandonSession();
    // QUIT and close at the end of an operation's own session. Unlike
    // Disconnect it fails when an event handler cancelled the session
    // meanwhile: nothing of it was committed then.
    void quitSession();
    // Whether the server connected to is this computer or on the local
    // network (isOnLocalNetwork of the address connected to).
    virtual bool serverOnLocalNetwork() const;

private:
    // STLS, the handshake and CAPA again; the password never goes out in
    // plain text when the server offers no STLS.
    void upgradeToTls();
    int window() const;
    // "host:port" of the connection, for the texts that name the server.
    QString serverAddress() const;
    void clearCapabilities();
    // UTF8 when listed; the server's answer does not matter.
    void requestUtf8();
    // From accessTokenSource, before the session starts: the server does not
    // wait while a token is fetched, and a lost grant costs no connection.
    QString freshAccessToken();
    // The sign-in by authMethod; token only for OAuth2.
    void authenticate(const QString &greeting, const QString &token);
    void signInWithPassword();
    void signInWithSaslPlain();
    void signInWithApop(const QString &greeting);
    void signInWithAccessToken(const QString &token);
    // ETlsError, before anything is sent, when secret would cross the
    // network in plain text (see serverOnLocalNetwork).
    void requirePrivateChannel(const QString &secret);
    // The mechanisms run from the most preferred to the most widely known.
    // When CAPA answered, the first one its SASL capability lists is
    // chosen, and none listed fails before anything is sent; without CAPA
    // the last one is tried. signIn names them in the error.
    QString chooseSaslMechanism(const QStringList &mechanisms, const QString &signIn);
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

    QString m_userName;
    QString m_password;
    AuthMethod m_authMethod = AuthMethod::UserPass;
    int m_messageCount = -1;
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

    TmsRemoteInfo &Info() { return m_info; }
    const TmsRemoteInfo &Info() const { return m_info; }

    // Retrieved messages go here as "msg_" + index + ".eml"; a non-empty
    // value always ends in "/".
    QString messageDirectory() const { return m_messageDirectory; }
    void setMessageDirectory(const QString &directory);

    // One operation at a time: UpdateInfo or ProcessMarks started while one
    // of them runs (from its event handlers, or by a command served during
    // its waits) fails with this ESocketError before it changes or sends
    // anything, and the running one goes on undisturbed.
    static inline const QString OperationRunningText =
        QStringLiteral("Another operation is still running on this mailbox");

    // Lists every waiting message into Info, then quits.
    void UpdateInfo();
    void MarkForDelete(int i) { m_info.Items(i).DeleteMark = true; }
    void MarkForRetrieve(int i) { m_info.Items(i).RetrieveMark = true; }
    void ClearMarks(int i);
    // In a session of its own retrieves every retrieve-marked and deletes
    // every delete-marked message, each after RecheckMessage, then quits.
    // Throws EMailboxChangedError (without QUIT) when a message no longer
    // matches its item.
    void ProcessMarks();
    // The last ProcessMarks ended with a QUIT the server accepted: the items
    // with Deleted set are gone from the server.
    bool committed() const { return m_committed; }

    // To OnUserMessageSave when assigned, else streamed into its file in
    // messageDirectory(), which appears only once the whole block is in.
    void SaveMessage(int index, qint64 expected) override;

    // Events, each called only when assigned; num is the 0-based item index.
    std::function<void()> OnUpdatingInfo;
    std::function<void(int num)> OnNextInfoUpdated;
    std::function<void()> OnInfoUpdated;
    std::function<void()> OnTransferringData;
    std::function<void(int num)> OnRetrieving;
    std::function<void(int num)> OnRetrieved;
    std::function<void(int num)> OnDeleting;
    std::function<void()> OnDataTransfered;
    std::function<void(int num, const QByteArray &contents)> OnUserMessageSave;

protected:
    // The commands that list message i + 1 again; then: EMailboxChangedError
    // when its size or header block differs from item i, else checked().
    void RecheckMessage(std::deque<PipelinedCommand> &commands, int i, std::function<void()> checked);
    // LIST n, OnRetrieving, RETR n, SaveMessage, OnRetrieved.
    void RetrieveMessage(std::deque<PipelinedCommand> &commands, int i);
    // OnDeleting and DELE n, sent at once (after its recheck passed).
    void DeleteMessage(int i);

private:
    TmsRemoteInfo m_info;
    QString m_messageDirectory;
    bool m_committed = false;
    bool m_operationRunning = false;
    std::vector<int> m_deleteAccepted; // items whose DELE the server accepted in this pass
};
