#pragma once
// What the check, the rules and the window see of a mailbox on a server,
// whatever protocol serves it: the rows of the waiting messages (size and
// header block each), their marks, one pass that retrieves and removes the
// marked ones, and the events of both. The POP3 client and the IMAP client
// implement it over the same transport.
//
// One operation at a time: UpdateInfo or ProcessMarks started while one of
// them runs fails with OperationRunningText before it sends anything. Every
// failure drops the session without committing anything of it, and leaves
// as an EMailsieveError.

#include "mail/agsocket.h"
#include "mail/headercache.h"
#include "mail/headers.h"
#include "mail/packedheaders.h"
#include "mail/sasl.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

struct TmsRemoteInfoItem
{
    bool DeleteMark = false;
    bool RetrieveMark = false;
    qint64 Size = 0; // octets, from the reply to LIST or RFC822.SIZE
    // The raw header block, cut at the first empty line; Headers.lines()
    // reads its lines. A row from the header cache shares the cache's bytes.
    PackedHeaders Headers;
    // IMAP: the message's UID in the folder listed (0 for POP3).
    quint32 Uid = 0;
    // Its identity in the header cache (see HeaderCache); empty when it has
    // none: no cache, a POP3 server without UIDL, or a UIDL listed twice.
    QByteArray Identity;
    // Headers was let go of once the row was listed: the header archive
    // keeps the block (RemoteMailbox::headersOf).
    bool HeadersArchived = false;
    // The row's texts, read while the block was at hand; kept only until
    // the row is listed.
    std::optional<HeaderSummary> Summary;
    // The last ProcessMarks removed this message and the server committed
    // it (POP3: its DELE was accepted and the pass ended with a QUIT the
    // server accepted).
    bool Deleted = false;
    // IMAP: the folder the last ProcessMarks moved it to instead; empty when
    // it was deleted, or not removed.
    QString MovedTo;
};

// Index i describes the i-th message (from 0) of the session that listed it.
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

class RemoteMailbox : public TmsMailBase
{
    Q_OBJECT
public:
    // A protocol's service names and ports, plain (or STARTTLS) and with
    // implicit TLS.
    struct Service
    {
        QString name;
        quint16 port;
        QString tlsName;
        quint16 tlsPort;
        bool hasApop = false; // the protocol has a sign-in that sends a digest, not the password
    };
    RemoteMailbox(const Service &service, QObject *parent = nullptr);

    // Also the service and port, by whether TLS starts at once.
    void setTlsMode(TlsMode mode) override;

    QString userName() const { return m_userName; }
    void setUserName(const QString &name) { m_userName = name; }
    QString password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    // How Login proves who the user is: the password (USER and PASS, or
    // IMAP LOGIN), SASL PLAIN, APOP (POP3 only), or an OAuth 2.0 access
    // token (SASL OAUTHBEARER or XOAUTH2).
    enum class AuthMethod { UserPass, SaslPlain, Apop, OAuth2 };
    AuthMethod authMethod() const { return m_authMethod; }
    void setAuthMethod(AuthMethod method) { m_authMethod = method; }
    // For OAuth2: asked at each login for a fresh access token, which then
    // stands in for the password; may throw an EMailsieveError.
    std::function<QString()> accessTokenSource;
    // The user allowed the password (not an access token) to go to this
    // server without TLS although it is beyond this computer and the local
    // network: a provider that offers no TLS at all.
    bool plainTextAllowed() const { return m_plainTextAllowed; }
    void setPlainTextAllowed(bool allowed) { m_plainTextAllowed = allowed; }
    // What CheckProperties says of an empty password when the settings know
    // why it is empty (a keyring this session cannot reach); empty for
    // "Password property is required".
    void setMissingPasswordText(const QString &text) { m_missingPasswordText = text; }

    // The number of waiting messages the server last named (POP3 STAT, IMAP
    // EXISTS); -1 until one was read.
    int MessageCount() const { return m_messageCount; }

    // What earlier checks listed of this mailbox: with one, UpdateInfo
    // fetches only the header blocks of messages it does not hold and adds
    // them, and each row gets its Identity. Null (the default): every check
    // fetches every header block. Not owned; it must outlive the operations.
    HeaderCache *headerCache() const { return m_headerCache; }
    void setHeaderCache(HeaderCache *cache) { m_headerCache = cache; }
    // With an archive, a row whose block the cache keeps holds no copy of
    // it once listed: a large mailbox's blocks stay on disk. Not owned.
    void setHeaderArchive(HeaderArchive *archive) { m_headerArchive = archive; }
    // The header block of info item i, from the archive when the row let
    // go of it; empty when it cannot be read.
    PackedHeaders headersOf(int i) const;
    // The texts of info item i's row: its summary, else read from its block.
    HeaderSummary summaryOf(int i) const;

    TmsRemoteInfo &Info() { return m_info; }
    const TmsRemoteInfo &Info() const { return m_info; }
    void MarkForDelete(int i) { m_info.Items(i).DeleteMark = true; }
    void MarkForRetrieve(int i) { m_info.Items(i).RetrieveMark = true; }
    void ClearMarks(int i);

    // Retrieved messages go here as "msg_" + index + ".eml"; a non-empty
    // value always ends in "/".
    QString messageDirectory() const { return m_messageDirectory; }
    void setMessageDirectory(const QString &directory);

    static inline const QString OperationRunningText =
        QStringLiteral("Another operation is still running on this mailbox");

    // UserName and Password (for OAuth2 accessTokenSource) must be set; no
    // value may break a command line.
    virtual void CheckProperties();
    // The transport's Open (dial-up, name resolution, socket), then, before
    // anything connects, the refusal of a secret that would go in plain
    // text to a server beyond the local network: such a server gets no byte
    // at all.
    void Open() override;
    // CR, LF or NUL in a value sent in a command would end that line early
    // and start a command of its own.
    static bool breaksCommandLine(const QString &text);
    // A server's reply shown in an error text: printable, and short enough
    // to read.
    static QString shortenedReply(const QString &reply);

    // Lists every waiting message into Info (OnNextInfoUpdated after each),
    // then ends the session.
    virtual void UpdateInfo() = 0;
    // In a session of its own retrieves every retrieve-marked and removes
    // every delete-marked message, each only once it proved to be the
    // message listed; else EMailboxChangedError and nothing is removed.
    virtual void ProcessMarks() = 0;
    // The last ProcessMarks was committed by the server: the items with
    // Deleted set are gone from the mailbox (or moved, see MovedTo).
    bool committed() const { return m_committed; }
    // Ends the session (Logout) and closes when a socket is open; a refused
    // end of session still closes.
    void Disconnect();

    // Events, each called only when assigned; num is the 0-based item index.
    std::function<void()> OnUpdatingInfo;
    std::function<void(int num)> OnNextInfoUpdated;
    std::function<void()> OnInfoUpdated;
    std::function<void()> OnTransferringData;
    std::function<void(int num)> OnRetrieving;
    std::function<void(int num)> OnRetrieved;
    std::function<void(int num)> OnDeleting;
    std::function<void()> OnDataTransfered;
    // A retrieved message goes here instead of its file when assigned.
    std::function<void(int num, const QByteArray &contents)> OnUserMessageSave;

protected:
    // Claims the mailbox for one operation (OperationRunningText when it is
    // taken) until the claim goes out of scope.
    class OperationClaim
    {
    public:
        explicit OperationClaim(RemoteMailbox &mailbox);
        ~OperationClaim();
        OperationClaim(const OperationClaim &) = delete;
        OperationClaim &operator=(const OperationClaim &) = delete;

    private:
        RemoteMailbox &m_mailbox;
    };

    // Runs the body of an operation; whatever ends it early, abandonSession
    // runs and the caller gets an EMailsieveError (memory running out and
    // other exceptions become EInternalError).
    void guarded(const std::function<void()> &operation);
    // Drops the connection without ending the session properly, so the
    // server commits nothing of it.
    virtual void abandonSession() = 0;

    // Open and Login unless a session is open already.
    void ConnectIfNeeded();
    void setMessageCount(int count) { m_messageCount = count; }
    void setCommitted(bool committed) { m_committed = committed; }
    // The row of a message the header cache holds, its packed header block
    // taken as it is.
    static TmsRemoteInfoItem cachedItem(const QByteArray &identity, const CachedHeader &cached);
    // A fetched row's header block, as the server sent it; a row with an
    // identity goes to the header cache with its texts.
    void takeHeaders(TmsRemoteInfoItem &item, const QByteArray &block);
    // Appends a listed row to Info and tells OnNextInfoUpdated.
    void addRow(TmsRemoteInfoItem item);
    // The file a retrieved message of item index goes to.
    QString messageFilePath(int index) const;
    // Retrieved message index: receive writes it to the device it is given,
    // which is OnUserMessageSave's buffer when that is assigned, else the
    // message's file, streamed, which appears only once the whole message
    // is in (EFileError naming the file otherwise). It is a BodyDownload:
    // on a slow link it goes on as long as bytes keep coming.
    void saveRetrievedMessage(int index, const std::function<void(QIODevice &)> &receive);

    // Signing in.
    // Whether the server connected to is this computer or on the local
    // network (isOnLocalNetwork of the address Open resolved, which is the
    // one connected to).
    virtual bool serverOnLocalNetwork() const;
    // ETlsError, before anything is sent, when secret would cross the
    // network in plain text (see serverOnLocalNetwork) and, for a password,
    // the user did not allow that (plainTextAllowed).
    void requirePrivateChannel(const QString &secret);
    // From accessTokenSource, before the session starts: the server does not
    // wait while a token is fetched, and a lost grant costs no connection.
    QString freshAccessToken();
    // The SASL mechanisms the server offers for its sign-in command (upper
    // case); nothing when it did not say which.
    virtual std::optional<QStringList> offeredSaslMechanisms() const = 0;
    // The mechanisms run from the most preferred to the most widely known:
    // the first one offered is chosen, and none offered fails before
    // anything is sent; when the server did not say, the last one is tried.
    // signIn names them in the error.
    QString chooseSaslMechanism(const QStringList &mechanisms, const QString &signIn);
    // The first message of the OAuth 2.0 sign-in, OAUTHBEARER when offered
    // else XOAUTH2, once the token may cross the connection.
    SaslMechanism oauthMechanism(const QString &token);
    // ELoginRefusedError: "The server refused <what> for <user> at
    // <host:port>: <reply> (status: <status>)".
    [[noreturn]] void refuseSignIn(const QString &what, const QString &reply, const QString &status = QString()) const;

private:
    const Service m_service;
    QString m_userName;
    QString m_password;
    QString m_missingPasswordText;
    bool m_plainTextAllowed = false;
    AuthMethod m_authMethod = AuthMethod::UserPass;
    int m_messageCount = -1;
    TmsRemoteInfo m_info;
    HeaderCache *m_headerCache = nullptr;
    HeaderArchive *m_headerArchive = nullptr;
    QString m_messageDirectory;
    bool m_committed = false;
    bool m_operationRunning = false;
};
