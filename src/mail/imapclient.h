#pragma once
// The IMAP client (IMAP4rev1, RFC 3501; servers announcing IMAP4rev2, RFC
// 9051, serve what it uses the same way): lists one folder's messages with
// their UID, size and header block, and in a later session retrieves the
// retrieve-marked ones and removes the delete-marked ones, by moving them to
// the junk folder or by deleting them.
//
// Listing never changes the folder: it is opened with EXAMINE (read-only)
// and the headers come with BODY.PEEK, so \Seen is never set. A message is
// known by its UID within the folder's UIDVALIDITY: removal proceeds only
// when the folder has the UIDVALIDITY of the listing and every marked UID is
// still there with its listed size; otherwise EMailboxChangedError and
// nothing is removed. Removal names exactly the marked UIDs (UID MOVE, or
// UID COPY, UID STORE \Deleted and UID EXPUNGE); a plain EXPUNGE, which would
// also remove what another program flagged \Deleted, is never sent, so a
// server without UIDPLUS (and without MOVE, for moving) is refused before
// anything changes. When the originals of a COPY cannot be removed, the
// copies are removed from the junk folder again by their COPYUID, or the
// error says they were left there.
//
// Signing in and the plain-text rule are those of the POP3 client: LOGIN
// (refused under LOGINDISABLED), AUTHENTICATE PLAIN, or an OAuth 2.0 access
// token with AUTHENTICATE OAUTHBEARER, else XOAUTH2 (the initial response on
// the command line when the server lists SASL-IR, else after its "+"). With
// STARTTLS nothing the server said before the handshake is kept.
//
// With a header cache a check fetches only what the cache does not hold:
// after EXAMINE it learns the folder's UIDs in one search (the compact set
// of ESEARCH, RFC 4731, where offered, else UID SEARCH ALL), takes the rows
// of the UIDs the cache holds under the folder's UIDVALIDITY from it, and
// fetches the others, above all the UIDs above the highest one kept, in one
// UID FETCH. A folder whose UIDVALIDITY changed is fetched whole again.
//
// The server is not trusted: a response line holds at most 64 KiB outside
// its literals (a search result as many UIDs as the folder holds), a header block keeps MaxHeaderBlock bytes and fails past
// MaxHeaderBlockRead, a message body streams into its file, there are never
// more rows than the folder's EXISTS when the rows were asked for, and a
// response or a run of untagged responses that brings nothing new takes at
// most the transport's reply time. A folder the server lists goes back into
// a command byte for byte, never as text that could end the command line.

#include "mail/imapparser.h"
#include "mail/remotemailbox.h"
#include "mail/sasl.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class ImapClient : public RemoteMailbox
{
    Q_OBJECT
public:
    explicit ImapClient(QObject *parent = nullptr);

    // What ProcessMarks does with the delete-marked messages.
    enum class Removal { MoveToFolder, Delete };

    // The folder listed and cleaned; "INBOX" unless set.
    QString folder() const { return m_folder; }
    void setFolder(const QString &folder) { m_folder = folder; }
    Removal removal() const { return m_removal; }
    void setRemoval(Removal removal) { m_removal = removal; }
    // Where MoveToFolder puts spam; empty: the folder with the \Junk special
    // use (RFC 6154), else one named "Junk" or "Spam".
    QString junkFolder() const { return m_junkFolder; }
    void setJunkFolder(const QString &folder) { m_junkFolder = folder; }
    // The folder the last ProcessMarks moved messages to (or would have).
    QString junkFolderUsed() const { return m_junkFolderUsed; }
    // The header blocks of the newest count messages of folder, or of the
    // junk folder (as MoveToFolder finds it) when folder is empty: for
    // learning from mail already sorted on the server. The folder is opened
    // read-only and BODY.PEEK leaves every message unseen. Throws like
    // UpdateInfo; a server without a junk folder is an error.
    QList<QByteArray> newestHeaderBlocks(const QString &folder, int count);

    // The UIDVALIDITY of the folder at the last listing; 0 before one.
    quint32 uidValidity() const { return m_uidValidity; }

    // The capability names (upper case, "AUTH=PLAIN" included) of the
    // current session.
    QStringList capabilities() const { return m_capabilities; }
    bool hasCapability(const QString &name) const;
    bool idleSupported() const { return hasCapability(QStringLiteral("IDLE")); }

    // Header text kept of one message; the rest of its literal is read and
    // dropped, up to MaxHeaderBlockRead, beyond which the pass fails.
    static constexpr qint64 MaxHeaderBlock = 256 * 1024;
    static constexpr qint64 MaxHeaderBlockRead = 64 * 1024 * 1024;
    // No real server lists that many capabilities or folders.
    static constexpr int MaxCapabilities = 1000;
    static constexpr int MaxFolders = 100000;
    // A search result's line: some six million UIDs.
    static constexpr qsizetype MaxSearchLine = 64 * 1024 * 1024;

    // Besides the sign-in values: no APOP, and a folder name that fits in a
    // command.
    void CheckProperties() override;
    void Open() override;
    // Greeting, CAPABILITY, STARTTLS when asked for, the sign-in.
    void Login() override;
    void Logout() override;

    // EXAMINE, then UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER]) into
    // Info in server order (with a header cache: the search and the fetch
    // of what it lacks), then LOGOUT.
    void UpdateInfo() override;
    // SELECT, the recheck of every marked UID, BODY.PEEK[] for the
    // retrieve-marked ones, the removal of the delete-marked ones, LOGOUT.
    void ProcessMarks() override;

    // --- Watching the folder (IDLE, RFC 2177) ------------------------------
    // A client that watches is used for nothing else: its session stays
    // open between the calls, and what the server sends meanwhile is read as
    // it arrives, without blocking.
    //
    // Signs in, EXAMINEs the folder and sends IDLE; returns true once the
    // server accepted it. False, with the session ended by LOGOUT, when the
    // server does not offer IDLE. Fails like UpdateInfo.
    bool startIdle();
    // DONE and IDLE again: servers may drop an IDLE that lasts 30 minutes.
    // Fails like UpdateInfo.
    void renewIdle();
    // DONE, LOGOUT and close, each within StopTimeOut seconds; never throws.
    void stopIdle();
    bool isIdling() const { return m_idling; }
    // What arrived while idling is being read; the rest of a literal may
    // still be waited for.
    bool isReadingInput() const { return m_readingInput; }
    static constexpr int StopTimeOut = 5;
    // While idling: the folder holds messages it did not hold before.
    std::function<void()> OnNewMail;
    // While idling: the server ended the session (BYE, a closed connection,
    // an unreadable response); the client is closed by then.
    std::function<void(const QString &reason)> OnIdleEnded;

protected:
    void abandonSession() override;

private:
    // One command: its text after the tag, the lines that follow it one per
    // continuation request (the data of its literals, a SASL response), what
    // answers any further continuation request, and what sees each untagged
    // response after the client noted what concerns the session.
    struct Command
    {
        QString text;
        QStringList continued = {};
        std::function<QString(const ImapResponse &)> answerChallenge = {};
        std::function<void(const ImapResponse &)> untagged = {};
        // Where its literals go; the reader's defaults when unset.
        std::function<ImapLiteralTarget(const QByteArray &label, qint64 size)> literalTarget = {};
        // IDLE: the first continuation request answers it, and the command
        // stays open.
        bool untilContinued = false;
        // The longest response line it may get, outside literals.
        qsizetype lineLimit = TagSocket::MaxReplyLine;
    };
    // UIDs as ascending runs of consecutive ones: first and last.
    using UidRuns = std::vector<std::pair<quint32, quint32>>;

    class SocketInput;

    // Sends the command and reads until its tagged response, which it returns.
    ImapResponse exchange(const Command &command);
    // The same, and NO becomes EServerError, BAD EProtocolError.
    ImapResponse run(const Command &command);
    // The command's tagged response when it is OK; NO and BAD as for run.
    ImapResponse accepted(const Command &command, const ImapResponse &response);
    // Sends the command text under a new tag, which it returns.
    QByteArray sendTagged(const QString &text);
    // Reads until the tagged response of the command sent under tag.
    ImapResponse awaitTagged(const QByteArray &tag, const Command &command);
    ImapResponse nextResponse(const Command *command = nullptr);
    // What every untagged response may tell about the session.
    void note(const ImapResponse &response);
    void noteCapabilities(const std::vector<ImapValue> &names);
    void readGreeting();
    void askCapabilities();
    void upgradeToTls();
    // The sign-in by authMethod; returns the server's tagged OK.
    ImapResponse authenticate(const QString &token);
    ImapResponse signInWithLogin();
    ImapResponse signInWithSasl(const SaslMechanism &mechanism, const QString &what);
    // The AUTH= capabilities; the capability list always says.
    std::optional<QStringList> offeredSaslMechanisms() const override;
    // The command text of value as a quoted string, or as a literal (the
    // marker ends line, the data starts the next) when it holds more than
    // a quoted string may.
    static void appendString(QStringList &lines, const QString &value);
    // A folder's name as text whose UTF-8 is exactly the bytes the server
    // names it by. A name with CR, LF or NUL would end the command early and
    // start one of its own, and bytes that are not UTF-8 cannot be sent back
    // as they came: both are refused.
    QString folderArgument(const QByteArray &wire);
    // text, a blank and the folder as the server names it: a quoted string,
    // or a literal when the name holds 8-bit text.
    Command folderCommand(const QString &text, const QByteArray &wire);
    // EXAMINE or SELECT the folder; its UIDVALIDITY and EXISTS are read.
    // Returns the tagged OK.
    ImapResponse openFolder(const QByteArray &wire, bool readOnly);
    // UID FETCH of the sizes and header blocks of uids (a set); the row of
    // each UID wanted goes to take, once. With a header cache each such row
    // is remembered there first.
    void fetchRows(const QString &uids, const std::function<bool(quint32 uid)> &wanted,
                   const std::function<void(TmsRemoteInfoItem)> &take);
    // The rows of the folder's first `folderSize` messages, those above
    // `highest` and those the cache lacks fetched, the others from it.
    void listWithCache(quint32 highest, qint64 folderSize);
    // The folder's UIDs, from one UID SEARCH.
    UidRuns searchUids(qint64 folderSize);
    // The row the header cache holds for uid in the folder listed.
    std::optional<TmsRemoteInfoItem> cachedRow(quint32 uid);
    // A header block is kept up to the bound of a listing's; other literals
    // as any reply's.
    static ImapLiteralTarget headerLiteralTarget(const QByteArray &label, qint64 size);
    // Every marked item is still in the folder with its listed size.
    void recheckMarked(const std::vector<int> &marked);
    void retrieve(int index);
    // Before anything changes: the removal is possible, and where it goes.
    void prepareRemoval(const ImapResponse &selected);
    // The wire name of the \Junk folder, else of one named Junk or Spam.
    QByteArray findJunkFolder();
    void remove(const std::vector<int> &indexes);
    // UID STORE \Deleted and UID EXPUNGE of exactly these UIDs; the flags
    // are taken back when the expunge fails.
    void expungeUids(const QString &uids);
    // After the originals could not be removed: the count copies that COPY
    // made (its COPYUID) are removed from the junk folder again, which is
    // then the folder selected. False when that cannot be done.
    bool removedCopies(const ImapResponse &copied, std::size_t count);
    QString uidSet(const std::vector<int> &indexes) const;
    // LOGOUT and close; the work of the session is done by then, so a
    // failing LOGOUT only drops the connection.
    void endSession();
    // IDLE sent, up to the server's "+"; DONE, up to IDLE's tagged OK.
    void enterIdle();
    void leaveIdle();
    // What an untagged response says about the folder watched.
    void noteWatched(const ImapResponse &response);
    // The responses that arrived while idling, as far as whole lines are in.
    void readIdleInput();
    // Why the session ended while they were read; empty while it goes on.
    QString readWatchedResponses();
    void reportNewMail();
    // The server's side ended the watch.
    void idleEnded(const QString &reason);

    QString m_folder = QStringLiteral("INBOX");
    Removal m_removal = Removal::MoveToFolder;
    QString m_junkFolder;
    QString m_junkFolderUsed;
    QByteArray m_junkWire; // the junk folder as the server names it, byte for byte
    quint32 m_uidValidity = 0;

    QStringList m_capabilities;
    int m_nextTag = 1;
    bool m_replyStarts = true; // the next line read starts a reply's time
    qint64 m_exists = -1; // of the folder open in this session
    qint64 m_folderUidValidity = -1;
    bool m_preauthenticated = false;

    QByteArray m_idleTag; // of the IDLE command running
    bool m_idling = false; // a watch is on: IDLE runs or is being renewed
    bool m_listening = false; // IDLE runs and no call reads the connection
    qint64 m_watchedCount = 0; // messages in the watched folder, as last reported
    bool m_newMail = false; // more of them than before, not yet reported
    bool m_readingInput = false;
};
