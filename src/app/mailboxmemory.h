#pragma once
// What the program remembers of the mailboxes it listed, through the
// message store ("mailsieve.db" in the program's folder, opened at the first
// listing): each listing hands the client the store's header cache for its
// account and records the rows' marks and fates when it ends; the marks the
// user set by hand go back on their messages at later listings; the delete
// pass records what it removed. Without a usable store every listing runs
// as it would without one, and takeWarning says why.

#include "app/messagelist.h"
#include "learning/learner.h"
#include "mail/remotemailbox.h"
#include "settings/generalsettings.h"
#include "store/messagestore.h"
#include "store/storecheck.h"

#include <QHash>

#include <functional>
#include <memory>
#include <optional>

// What a message taught, by what became of it.
struct Lesson
{
    PackedHeaders headers;
    Label label = Label::Ham;
    QString trustedServer; // the receiving server of the message's mailbox
};

// The store's account of a mailbox: the server in lower case, the IMAP
// folder with INBOX in one spelling, no folder for POP3.
StoreAccount storeAccount(const MailboxLogin &login);

// The client's header cache during a listing is the memory itself: it
// passes the questions on to the store's check, and a message fetched anew
// under an identity (a UIDL a server gave again) loses the user's mark. So
// is its header archive, and the marking decision's memo: the rows being
// listed are the client's messages, by index.
class MailboxMemory : private HeaderCache, private HeaderArchive, public MarkingMemo
{
public:
    explicit MailboxMemory(const QString &storePath,
                           std::chrono::milliseconds busyTimeout = MessageStore::DefaultBusyTimeout);
    ~MailboxMemory() override;
    MailboxMemory(const MailboxMemory &) = delete;
    MailboxMemory &operator=(const MailboxMemory &) = delete;

    // The current time; tests turn their own clock.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    // What a message taught by what became of it: removed by a delete pass
    // or marked by the user is spam; a mark the user took off, or a message
    // listed without a mark that left the server by other hands, is ham.
    // The lessons of one event come together (a delete pass removes many);
    // during a listing they wait for its end. It answers what the user must
    // hear of it, empty for nothing. Empty: nobody learns.
    std::function<QString(const QList<Lesson> &lessons)> learn;
    // The name of an account's trusted receiving server, for the lessons;
    // empty (or unset): none.
    std::function<QString(const StoreAccount &account)> trustedServerOf;

    // The store the memory keeps its file in (the learner keeps its counts
    // in the same file).
    MessageStore &store() { return m_store; }

    // A listing of account by client starts: the client gets the cache.
    void beginListing(const StoreAccount &account, RemoteMailbox &client);
    // The listing ended; a complete one records every row's mark (and who
    // set it) and every other message of the account as gone.
    void endListing(const MessageListModel &list, RemoteMailbox &client, bool complete);
    // After the rules marked row (-1: every row): the user's own marks are
    // laid back on their messages.
    void restoreUserMarks(MessageListModel &list, const TmsRemoteInfo &info, int row) const;

    std::optional<MarkOutcome> recall(int row, const QByteArray &fingerprint, MarkState from) override;
    void keep(int row, const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome) override;

    // The user set mark on row of client's listing by hand.
    void userMarked(const RemoteMailbox &client, int row, MarkState mark);
    // The user handed every mark back to the rules.
    void forgetUserMarks();
    // The mark the user set on row's message, if any.
    std::optional<UserMark> userMark(const TmsRemoteInfo &info, int row) const;

    // The delete pass committed: the items of client it removed (Deleted,
    // MovedTo).
    void recordRemoved(const RemoteMailbox &client);
    // Forgets every account that is not one of these (mailboxes the user
    // removed).
    void keepOnlyAccounts(const QList<StoreAccount> &accounts);

    // What the user must hear of the store since the last call (a check
    // that went on without it, a damaged file set aside); empty for nothing.
    QString takeWarning();

private:
    std::optional<CachedHeader> find(const QByteArray &identity) override;
    void remember(const QByteArray &identity, qint64 size, const PackedHeaders &headers,
                  const std::optional<HeaderSummary> &summary = std::nullopt) override;
    quint32 highestUid(quint32 uidValidity) override;
    bool keepsHeaders() const override;
    PackedHeaders archivedHeaders(const QByteArray &identity) override;
    void warnWithoutStore();
    // The identity of row's message in the listing; empty when none.
    QByteArray listedIdentity(int row) const;
    // Hands the lessons to learn, or keeps them for the end of the listing.
    void teach(QList<Lesson> lessons);

    MessageStore m_store;
    std::optional<StoreAccount> m_account; // of the rows listed last
    QHash<QByteArray, UserMark> m_userMarks; // of m_account, by identity
    std::unique_ptr<StoreCheck> m_check;
    const TmsRemoteInfo *m_listing = nullptr; // the client's messages while it lists them
    RemoteMailbox *m_archiveClient = nullptr; // whose rows m_account's blocks are
    QList<Lesson> m_lessonsAfterListing;
    QString m_warning;
};
