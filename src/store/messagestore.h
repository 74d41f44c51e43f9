#pragma once
// What the program remembers of the messages it listed: one SQLite file
// ("mailsieve.db" in the program's folder) in WAL mode, shared by the window
// and a check from the command line. A check reads and writes it in one
// transaction (StoreCheck), so a program killed at any point leaves the
// file as the last finished check wrote it.
//
// Schema (version in PRAGMA user_version, one migration step per version):
//   accounts(id, server, user, protocol, folder UNIQUE together, the IMAP
//            folder's uid_validity, last_check)
//   messages(id, account -> accounts, identity (UIDL, or "<uidvalidity>/<uid>")
//            UNIQUE with account, uid (IMAP), size, first_seen, last_seen,
//            mark (MarkState number), marked_by ('rule', 'known list',
//            'exception', 'user' or NULL), marked_at, fate ('present',
//            'deleted', 'moved', 'gone'), moved_to, fate_at, marking: what
//            the rules decided under which rule set, MarkingRecord's bytes;
//            subject, sender, date_field: the row's texts, HeaderSummary)
//   header_blocks(message -> messages, block: the raw header block packed as
//            a row keeps it, PackedHeaders::packed(), whose first byte
//            names its format; version 2 kept it as qCompress of the block)
//   learned_tokens(token, spam, ham: the messages of each kind it was
//            learnt from; a token learnt from none is not kept),
//            learned_totals(one row: spam, ham messages learnt, generation:
//            one more with every change), learned_messages(key:
//            learnedMessageKey, label: 1 spam, 0 ham, learned_at), all
//            written by LearningStore
// The header blocks have a table of their own: the marks and fates that a
// check rewrites then never rewrite the blocks. Times are seconds since
// 1970 (UTC). Deleting an account deletes its messages and their blocks.
// Later tables of the same file (the user's decisions) refer to a message
// by account and identity, as these do. What the learner learnt belongs to
// no account: a learnt message is known by its header lines, wherever it
// came from (a server or a saved file), and stays learnt when its account
// is gone.
//
// A new file is readable by the user alone (0600).
//
// A file that is not a database, fails its quick check or was written by a
// newer program is set aside as "mailsieve.db.bad" (its -wal beside it) and
// a new one is made; the warning says so. Every failure leaves the file as
// it was and is reported through errorText(): the caller goes on without it.

#include "mail/packedheaders.h"
#include "rules/markstate.h"
#include "store/storeaccount.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <chrono>
#include <memory>

class QSqlError;
class StoreCheck;

// Who set a stored mark.
enum class MarkSource { None, Rule, KnownList, Exception, User };
// The source the rules' own mark stands for.
MarkSource ruleMarkSource(MarkState mark);
// A source as the store keeps it: its name, or NULL for none.
QVariant storedMarkSource(MarkSource source);

// A mark the user set by hand, and when.
struct UserMark
{
    MarkState mark = MarkState::None;
    QDateTime when;
};

// A message the delete pass removed: moved to movedTo, or deleted when empty.
struct RemovedMessage
{
    QByteArray identity;
    QString movedTo;
};

class MessageStore
{
public:
    static inline const QString FileName = QStringLiteral("mailsieve.db");
    static inline const QString SetAsideSuffix = QStringLiteral(".bad");
    static constexpr int SchemaVersion = 5;
    // How long a writer waits for another program's write to end.
    static constexpr std::chrono::milliseconds DefaultBusyTimeout{5000};

    explicit MessageStore(const QString &path, std::chrono::milliseconds busyTimeout = DefaultBusyTimeout);
    ~MessageStore();
    MessageStore(const MessageStore &) = delete;
    MessageStore &operator=(const MessageStore &) = delete;

    // Opens the file (creating or migrating it; a damaged one is set aside
    // for a new one). False when there is no usable store now: errorText()
    // says why. warning() also tells of a file set aside on success.
    bool open();
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }
    // The last failure, for the user.
    QString errorText() const { return m_error; }
    // What open() had to do that the user must hear of (a file set aside).
    QString takeWarning();
    // The connection, for the tests that look into the file through it.
    QString connectionName() const { return m_connection; }

    // One check of account, inside a transaction taken at once; null (with
    // errorText) when the store is busy or fails.
    std::unique_ptr<StoreCheck> beginCheck(const StoreAccount &account, const QDateTime &now);

    // The marks the user set on the account's messages, by identity.
    QHash<QByteArray, UserMark> userMarks(const StoreAccount &account);
    // The user set mark on the message; false when not written.
    bool setUserMark(const StoreAccount &account, const QByteArray &identity, const UserMark &mark);
    // The user handed the account's marks back to the rules.
    bool forgetUserMarks(const StoreAccount &account);
    // The delete pass removed these messages.
    bool recordRemoved(const StoreAccount &account, const QList<RemovedMessage> &removed, const QDateTime &now);
    // Removes every account (and what was kept of it) that is not one of these.
    bool keepOnlyAccounts(const QList<StoreAccount> &accounts);
    // The header block kept for the account's message; empty when none.
    PackedHeaders headerBlock(const StoreAccount &account, const QByteArray &identity);
    // The number of messages kept for the account (all fates).
    int messageCount(const StoreAccount &account);

private:
    friend class StoreCheck;
    friend class LearningStore;
    // Unusable: not now (busy, full disk ...), but nothing against the file.
    enum class Opening { Ok, Unusable, Damaged };
    Opening openFile();
    bool migrate();
    void setAside();
    void closeConnection();
    QSqlDatabase database() const;
    // Runs one statement; false with errorText set on failure.
    bool run(const QString &sql, const QVariantList &values = {});
    // Ends the open transaction; errorText and the damage found stay those
    // of the failure that ended it.
    void rollback();
    // The account's id, inserting it when asked; 0 when absent or failed.
    qint64 accountId(const StoreAccount &account, bool insert);
    // Remembers a failed statement or transaction for errorText().
    void fail(const QString &what, const QString &reason);
    void fail(const QString &what, const QSqlError &error);

    const QString m_path;
    const QString m_connection;
    const std::chrono::milliseconds m_busyTimeout;
    bool m_open = false;
    QString m_error;
    bool m_lastDamage = false; // the last failed statement found the file damaged
    QString m_warning;
};
