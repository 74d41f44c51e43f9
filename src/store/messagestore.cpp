#include "store/messagestore.h"

#include "store/storecheck.h"

#include "mail/packedheaders.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <limits>

namespace {

// SQLite's result codes (the primary ones, in the low byte) that say the
// file is not a sound store; any other failure (a full disk, a lock held
// too long, a folder that cannot be written) says nothing against the file.
constexpr int kCorrupt = 11;
constexpr int kNotADatabase = 26;

bool isDamage(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == kCorrupt || code == kNotADatabase;
}

QString uniqueConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("mailsieve-store-%1").arg(++next);
}

QString reasonOf(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// Version 2 kept each header block as qCompress of it; from version 3 on
// the block is kept packed as a row holds it. A block that does not
// uncompress is dropped: its message is fetched again like a new one. The
// blocks are read in batches so that memory stays bounded in a large store.
QSqlError repackHeaderBlocks(const QSqlDatabase &db)
{
    constexpr int Batch = 256;
    QSqlQuery read(db);
    QSqlQuery update(db);
    QSqlQuery drop(db);
    if (!read.prepare(QStringLiteral("SELECT message, block FROM header_blocks WHERE message > ? ORDER BY message"
                                     " LIMIT %1")
                          .arg(Batch)))
        return read.lastError();
    if (!update.prepare(QStringLiteral("UPDATE header_blocks SET block = ? WHERE message = ?")))
        return update.lastError();
    if (!drop.prepare(QStringLiteral("DELETE FROM header_blocks WHERE message = ?")))
        return drop.lastError();
    qint64 last = std::numeric_limits<qint64>::min();
    for (;;) {
        read.bindValue(0, last);
        if (!read.exec())
            return read.lastError();
        QList<std::pair<qint64, QByteArray>> blocks;
        while (read.next())
            blocks.append({read.value(0).toLongLong(), read.value(1).toByteArray()});
        read.finish();
        if (blocks.isEmpty())
            return {};
        for (const auto &[message, compressed] : blocks) {
            const QByteArray block = qUncompress(compressed);
            QSqlQuery &query = block.isEmpty() ? drop : update;
            if (block.isEmpty()) {
                drop.bindValue(0, message);
            } else {
                update.bindValue(0, PackedHeaders(block).packed());
                update.bindValue(1, message);
            }
            if (!query.exec())
                return query.lastError();
        }
        last = blocks.last().first;
    }
}

// Migration step n brings a store of version n to version n + 1: its
// statements, then its conversion of the rows, if any.
struct MigrationStep
{
    QStringList statements;
    QSqlError (*convert)(const QSqlDatabase &) = nullptr;
};

const QList<MigrationStep> kMigrations = {
    {{
        QStringLiteral("CREATE TABLE accounts (id INTEGER PRIMARY KEY, server TEXT NOT NULL, user TEXT NOT NULL,"
                       " protocol TEXT NOT NULL, folder TEXT NOT NULL, uid_validity INTEGER, last_check INTEGER,"
                       " UNIQUE (server, user, protocol, folder))"),
        QStringLiteral("CREATE TABLE messages (id INTEGER PRIMARY KEY,"
                       " account INTEGER NOT NULL REFERENCES accounts (id) ON DELETE CASCADE,"
                       " identity BLOB NOT NULL, uid INTEGER, size INTEGER NOT NULL,"
                       " first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL,"
                       " mark INTEGER NOT NULL DEFAULT -1, marked_by TEXT, marked_at INTEGER,"
                       " fate TEXT NOT NULL DEFAULT 'present', moved_to TEXT, fate_at INTEGER,"
                       " UNIQUE (account, identity))"),
    }},
    {{
        // Header blocks apart from the rows a check rewrites; pruning finds
        // the messages gone by their fate.
        QStringLiteral("CREATE TABLE header_blocks (message INTEGER PRIMARY KEY"
                       " REFERENCES messages (id) ON DELETE CASCADE, block BLOB NOT NULL)"),
        QStringLiteral("CREATE INDEX messages_by_fate ON messages (fate, fate_at)"),
    }},
    {{}, repackHeaderBlocks},
    {{
        // The rules' decisions under a rule set (MarkingRecord's bytes), and
        // the row's texts (NULL for the messages of earlier versions).
        QStringLiteral("ALTER TABLE messages ADD COLUMN marking BLOB"),
        QStringLiteral("ALTER TABLE messages ADD COLUMN subject TEXT"),
        QStringLiteral("ALTER TABLE messages ADD COLUMN sender TEXT"),
        QStringLiteral("ALTER TABLE messages ADD COLUMN date_field TEXT"),
    }},
    {{
        // What the learner learnt (LearningStore): the counts of each token,
        // the messages of each kind, and the label of every message learnt.
        QStringLiteral("CREATE TABLE learned_tokens (token TEXT PRIMARY KEY, spam INTEGER NOT NULL,"
                       " ham INTEGER NOT NULL) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE learned_totals (id INTEGER PRIMARY KEY CHECK (id = 1), spam INTEGER NOT NULL,"
                       " ham INTEGER NOT NULL, generation INTEGER NOT NULL)"),
        QStringLiteral("INSERT INTO learned_totals VALUES (1, 0, 0, 0)"),
        QStringLiteral("CREATE TABLE learned_messages (key BLOB PRIMARY KEY, label INTEGER NOT NULL,"
                       " learned_at INTEGER NOT NULL) WITHOUT ROWID"),
    }},
};
static_assert(MessageStore::SchemaVersion == 5, "one migration step per version");

const char *markSourceName(MarkSource source)
{
    switch (source) {
    case MarkSource::Rule:
        return "rule";
    case MarkSource::KnownList:
        return "known list";
    case MarkSource::Exception:
        return "exception";
    case MarkSource::User:
        return "user";
    case MarkSource::None:
        break;
    }
    return nullptr;
}

} // namespace

MarkSource ruleMarkSource(MarkState mark)
{
    switch (mark) {
    case MarkState::Check:
    case MarkState::Question:
        return MarkSource::Rule;
    case MarkState::KnownSpammer:
        return MarkSource::KnownList;
    case MarkState::Exception:
        return MarkSource::Exception;
    case MarkState::None:
        break;
    }
    return MarkSource::None;
}

QVariant storedMarkSource(MarkSource source)
{
    const char *name = markSourceName(source);
    return name ? QVariant(QString::fromLatin1(name)) : QVariant(QMetaType::fromType<QString>());
}

MessageStore::MessageStore(const QString &path, std::chrono::milliseconds busyTimeout)
    : m_path(path), m_connection(uniqueConnectionName()), m_busyTimeout(busyTimeout)
{
}

MessageStore::~MessageStore()
{
    closeConnection();
}

QSqlDatabase MessageStore::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

void MessageStore::closeConnection()
{
    m_open = false;
    if (!QSqlDatabase::contains(m_connection))
        return;
    database().close();
    QSqlDatabase::removeDatabase(m_connection);
}

void MessageStore::fail(const QString &what, const QString &reason)
{
    m_error = QStringLiteral("%1: %2 (%3)").arg(m_path, reason, what);
}

void MessageStore::fail(const QString &what, const QSqlError &error)
{
    fail(what, reasonOf(error));
    m_lastDamage = isDamage(error);
}

QString MessageStore::takeWarning()
{
    return std::exchange(m_warning, QString());
}

bool MessageStore::open()
{
    if (m_open)
        return true;
    m_error.clear();
    Opening result = openFile();
    if (result == Opening::Damaged) {
        const QString damage = m_error;
        setAside();
        result = openFile();
        if (result == Opening::Ok)
            m_warning = QStringLiteral("The message store %1 was damaged (%2); it was kept as %1%3 and a new one "
                                       "was started.")
                            .arg(m_path, damage, SetAsideSuffix);
    }
    m_open = result == Opening::Ok;
    if (!m_open)
        closeConnection();
    return m_open;
}

MessageStore::Opening MessageStore::openFile()
{
    closeConnection();
    // The file tells whom the user writes with and what the user thinks of
    // it: it is readable by the user alone, also when an earlier version
    // made it (SQLite gives its -wal and -shm the same permissions).
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!QFile(m_path).open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
        QFile::setPermissions(m_path, ownerOnly);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!db.open()) {
        fail(QStringLiteral("open"), reasonOf(db.lastError()));
        return Opening::Unusable;
    }
    QSqlQuery query(db);
    const auto failure = [&](const QString &what) {
        fail(what, reasonOf(query.lastError()));
        return isDamage(query.lastError()) ? Opening::Damaged : Opening::Unusable;
    };
    // A file system without shared memory keeps its rollback journal: the
    // store still works, only a second program waits more often.
    if (!query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(m_busyTimeout.count()))
        || !query.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
        return failure(QStringLiteral("journal mode"));
    // With WAL a commit need not wait for the disk: a killed program loses
    // nothing, only a power cut may lose the last checks, never the file.
    if (!query.exec(QStringLiteral("PRAGMA synchronous = NORMAL"))
        || !query.exec(QStringLiteral("PRAGMA foreign_keys = ON")))
        return failure(QStringLiteral("connection settings"));
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next())
        return failure(QStringLiteral("quick check"));
    if (const QString verdict = query.value(0).toString(); verdict != QLatin1String("ok")) {
        fail(QStringLiteral("quick check"), verdict);
        return Opening::Damaged;
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return failure(QStringLiteral("schema version"));
    const int version = query.value(0).toInt();
    query.finish();
    if (version > SchemaVersion || version < 0) {
        fail(QStringLiteral("schema version"),
             QStringLiteral("written by a newer program (version %1, this one knows %2)")
                 .arg(version)
                 .arg(SchemaVersion));
        return Opening::Damaged;
    }
    if (version < SchemaVersion && !migrate())
        return m_lastDamage ? Opening::Damaged : Opening::Unusable;
    return Opening::Ok;
}

bool MessageStore::migrate()
{
    if (!run(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    // Another program may have migrated it meanwhile.
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        fail(QStringLiteral("schema version"), reasonOf(query.lastError()));
        rollback();
        return false;
    }
    const int from = query.value(0).toInt();
    query.finish();
    for (int step = from; step < SchemaVersion; ++step) {
        const MigrationStep &migration = kMigrations.at(step);
        for (const QString &sql : migration.statements) {
            if (!run(sql)) {
                rollback();
                return false;
            }
        }
        if (!migration.convert)
            continue;
        if (const QSqlError error = migration.convert(database()); error.isValid()) {
            fail(QStringLiteral("migration to version %1").arg(step + 1), reasonOf(error));
            m_lastDamage = isDamage(error);
            rollback();
            return false;
        }
    }
    if (!run(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion)) || !run(QStringLiteral("COMMIT"))) {
        rollback();
        return false;
    }
    return true;
}

void MessageStore::setAside()
{
    closeConnection();
    // The write-ahead log belongs to the file it was written for.
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        const QString from = m_path + suffix;
        if (!QFile::exists(from))
            continue;
        const QString to = m_path + SetAsideSuffix + suffix;
        QFile::remove(to);
        QFile::rename(from, to);
    }
}

void MessageStore::rollback()
{
    const QString error = m_error;
    const bool damage = m_lastDamage;
    run(QStringLiteral("ROLLBACK"));
    m_error = error;
    m_lastDamage = damage;
}

bool MessageStore::run(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(database());
    bool done = query.prepare(sql);
    if (done) {
        for (const QVariant &value : values)
            query.addBindValue(value);
        done = query.exec();
    }
    m_lastDamage = !done && isDamage(query.lastError());
    if (!done)
        fail(sql.section(QLatin1Char(' '), 0, 1), reasonOf(query.lastError()));
    return done;
}

qint64 MessageStore::accountId(const StoreAccount &account, bool insert)
{
    // An empty text, never NULL: the columns are NOT NULL.
    const auto text = [](const QString &value) { return value.isNull() ? QStringLiteral("") : value; };
    const QVariantList key = {text(account.server), text(account.user), text(account.protocol), text(account.folder)};
    QSqlQuery query(database());
    query.prepare(
        QStringLiteral("SELECT id FROM accounts WHERE server = ? AND user = ? AND protocol = ? AND folder = ?"));
    for (const QVariant &value : key)
        query.addBindValue(value);
    if (!query.exec()) {
        fail(QStringLiteral("account"), reasonOf(query.lastError()));
        return 0;
    }
    if (query.next())
        return query.value(0).toLongLong();
    if (!insert
        || !run(QStringLiteral("INSERT INTO accounts (server, user, protocol, folder) VALUES (?, ?, ?, ?)"), key))
        return 0;
    QSqlQuery last(database());
    return last.exec(QStringLiteral("SELECT last_insert_rowid()")) && last.next() ? last.value(0).toLongLong() : 0;
}

std::unique_ptr<StoreCheck> MessageStore::beginCheck(const StoreAccount &account, const QDateTime &now)
{
    if (!open())
        return nullptr;
    // The write lock is taken at once: a check never fails halfway because
    // another program wrote meanwhile.
    if (!run(QStringLiteral("BEGIN IMMEDIATE")))
        return nullptr;
    const qint64 id = accountId(account, true);
    if (id == 0) {
        rollback();
        return nullptr;
    }
    return std::make_unique<StoreCheck>(*this, id, account.isImap(), now);
}

QHash<QByteArray, UserMark> MessageStore::userMarks(const StoreAccount &account)
{
    QHash<QByteArray, UserMark> marks;
    if (!open())
        return marks;
    const qint64 id = accountId(account, false);
    if (id == 0)
        return marks;
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT identity, mark, marked_at FROM messages WHERE account = ? AND marked_by = ?"));
    query.addBindValue(id);
    query.addBindValue(storedMarkSource(MarkSource::User));
    if (!query.exec()) {
        fail(QStringLiteral("user marks"), reasonOf(query.lastError()));
        return marks;
    }
    while (query.next())
        marks.insert(query.value(0).toByteArray(),
                     {static_cast<MarkState>(query.value(1).toInt()),
                      QDateTime::fromSecsSinceEpoch(query.value(2).toLongLong(), Qt::UTC)});
    return marks;
}

bool MessageStore::setUserMark(const StoreAccount &account, const QByteArray &identity, const UserMark &mark)
{
    if (!open())
        return false;
    const qint64 id = accountId(account, false);
    return id != 0
           && run(QStringLiteral("UPDATE messages SET mark = ?, marked_by = ?, marked_at = ? WHERE account = ? AND "
                                 "identity = ?"),
                  {static_cast<int>(mark.mark), storedMarkSource(MarkSource::User), mark.when.toSecsSinceEpoch(), id,
                   identity});
}

bool MessageStore::forgetUserMarks(const StoreAccount &account)
{
    if (!open())
        return false;
    const qint64 id = accountId(account, false);
    return id != 0
           && run(QStringLiteral("UPDATE messages SET marked_by = NULL WHERE account = ? AND marked_by = ?"),
                  {id, storedMarkSource(MarkSource::User)});
}

bool MessageStore::recordRemoved(const StoreAccount &account, const QList<RemovedMessage> &removed,
                                 const QDateTime &now)
{
    if (!open())
        return false;
    const qint64 id = accountId(account, false);
    if (id == 0 || !run(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    for (const RemovedMessage &message : removed) {
        const bool moved = !message.movedTo.isEmpty();
        if (!run(QStringLiteral("UPDATE messages SET fate = ?, moved_to = ?, fate_at = ? WHERE account = ? AND "
                                "identity = ?"),
                 {moved ? QStringLiteral("moved") : QStringLiteral("deleted"),
                  moved ? QVariant(message.movedTo) : QVariant(QMetaType::fromType<QString>()), now.toSecsSinceEpoch(),
                  id, message.identity})) {
            rollback();
            return false;
        }
    }
    return run(QStringLiteral("COMMIT"));
}

bool MessageStore::keepOnlyAccounts(const QList<StoreAccount> &accounts)
{
    if (!open())
        return false;
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("SELECT id, server, user, protocol, folder FROM accounts"))) {
        fail(QStringLiteral("accounts"), reasonOf(query.lastError()));
        return false;
    }
    QVariantList removed;
    while (query.next()) {
        const StoreAccount account{query.value(1).toString(), query.value(2).toString(), query.value(3).toString(),
                                   query.value(4).toString()};
        if (!accounts.contains(account))
            removed << query.value(0);
    }
    query.finish();
    for (const QVariant &id : removed) {
        if (!run(QStringLiteral("DELETE FROM accounts WHERE id = ?"), {id}))
            return false;
    }
    return true;
}

PackedHeaders MessageStore::headerBlock(const StoreAccount &account, const QByteArray &identity)
{
    if (!open())
        return {};
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT block FROM header_blocks JOIN messages ON messages.id = message"
                                 " JOIN accounts ON accounts.id = messages.account"
                                 " WHERE server = ? AND user = ? AND protocol = ? AND folder = ? AND identity = ?"));
    for (const QString &value : {account.server, account.user, account.protocol, account.folder})
        query.addBindValue(value.isNull() ? QStringLiteral("") : value);
    query.addBindValue(identity);
    if (!query.exec() || !query.next())
        return {};
    return PackedHeaders::fromPacked(query.value(0).toByteArray()).value_or(PackedHeaders());
}

int MessageStore::messageCount(const StoreAccount &account)
{
    if (!open())
        return 0;
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT count(*) FROM messages JOIN accounts ON accounts.id = messages.account"
                                 " WHERE server = ? AND user = ? AND protocol = ? AND folder = ?"));
    for (const QString &value : {account.server, account.user, account.protocol, account.folder})
        query.addBindValue(value.isNull() ? QStringLiteral("") : value);
    return query.exec() && query.next() ? query.value(0).toInt() : 0;
}
