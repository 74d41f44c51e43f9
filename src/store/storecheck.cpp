#include "store/storecheck.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// The UID of an IMAP identity "<uidvalidity>/<uid>"; NULL for anything else.
QVariant uidOf(const QByteArray &identity)
{
    bool ok = false;
    const quint32 uid = identity.mid(identity.indexOf('/') + 1).toUInt(&ok);
    return ok && identity.contains('/') ? QVariant(qint64(uid)) : QVariant(QMetaType::fromType<qint64>());
}

} // namespace

StoreCheck::StoreCheck(MessageStore &store, qint64 account, bool imap, const QDateTime &now)
    : m_store(store), m_account(account), m_imap(imap), m_now(now.toSecsSinceEpoch())
{
}

StoreCheck::~StoreCheck()
{
    if (m_open)
        m_store.rollback();
}

bool StoreCheck::run(const QString &sql, const QVariantList &values)
{
    if (m_failed)
        return false;
    if (!m_store.run(sql, values))
        fail();
    return !m_failed;
}

void StoreCheck::fail()
{
    m_failed = true;
    if (!m_open)
        return;
    m_open = false;
    m_store.rollback();
}

std::optional<CachedHeader> StoreCheck::find(const QByteArray &identity)
{
    if (m_failed || identity.isEmpty())
        return std::nullopt;
    // Asked once per listed message: prepared once.
    if (!m_find) {
        m_find.emplace(m_store.database());
        m_find->prepare(QStringLiteral("SELECT size, block, marking, subject, sender, date_field"
                                       " FROM messages JOIN header_blocks ON message = id"
                                       " WHERE account = ? AND identity = ?"));
    }
    QSqlQuery &query = *m_find;
    query.bindValue(0, m_account);
    query.bindValue(1, identity);
    if (!query.exec()) {
        m_store.fail(QStringLiteral("find"), query.lastError().databaseText());
        fail();
        return std::nullopt;
    }
    std::optional<CachedHeader> found;
    if (query.next()) {
        // The bytes go to the row as they are. A block of another format
        // (packed against another dictionary) is fetched again like a new
        // message.
        if (std::optional<PackedHeaders> headers = PackedHeaders::fromPacked(query.value(1).toByteArray())) {
            found = CachedHeader{query.value(0).toLongLong(), std::move(*headers), std::nullopt};
            if (!query.isNull(3))
                found->summary =
                    HeaderSummary{query.value(3).toString(), query.value(4).toString(), query.value(5).toString()};
            if (const QByteArray marking = query.value(2).toByteArray(); !marking.isEmpty())
                m_markings.insert(identity, marking);
        }
    }
    query.finish();
    return found;
}

void StoreCheck::remember(const QByteArray &identity, qint64 size, const PackedHeaders &headers,
                          const std::optional<HeaderSummary> &summary)
{
    if (m_failed || identity.isEmpty())
        return;
    m_markings.remove(identity);
    // Every message of a first check comes here: prepared once.
    if (!m_remember) {
        // The same identity on a new message (a UIDL the server gave
        // again) starts afresh: what was kept belongs to the old one.
        m_remember.emplace(m_store.database());
        m_remember->prepare(QStringLiteral(
            "INSERT INTO messages (account, identity, uid, size, first_seen, last_seen, subject, sender, date_field)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"
            " ON CONFLICT (account, identity) DO UPDATE SET size = excluded.size, first_seen = excluded.first_seen,"
            " subject = excluded.subject, sender = excluded.sender, date_field = excluded.date_field,"
            " last_seen = excluded.last_seen, mark = -1, marked_by = NULL, marked_at = NULL, fate = 'present',"
            " moved_to = NULL, fate_at = NULL, marking = NULL"));
        m_rememberBlock.emplace(m_store.database());
        m_rememberBlock->prepare(QStringLiteral("INSERT OR REPLACE INTO header_blocks (message, block)"
                                                " SELECT id, ? FROM messages WHERE account = ? AND identity = ?"));
    }
    // NULL texts only for a message without them: an empty field is "".
    const auto text = [&summary](const QString HeaderSummary::*field) {
        if (!summary)
            return QVariant(QMetaType::fromType<QString>());
        const QString &value = *summary.*field;
        return QVariant(value.isNull() ? QStringLiteral("") : value);
    };
    const QVariantList message = {m_account,
                                  identity,
                                  m_imap ? uidOf(identity) : QVariant(QMetaType::fromType<qint64>()),
                                  size,
                                  m_now,
                                  m_now,
                                  text(&HeaderSummary::subject),
                                  text(&HeaderSummary::sender),
                                  text(&HeaderSummary::date)};
    // An empty block is an empty BLOB: a null QByteArray would bind NULL.
    const QByteArray packed = headers.packed().isNull() ? QByteArray("") : headers.packed();
    const QVariantList block = {packed, m_account, identity};
    for (auto [query, values] : {std::pair{&*m_remember, &message}, std::pair{&*m_rememberBlock, &block}}) {
        for (int i = 0; i < values->size(); ++i)
            query->bindValue(i, values->at(i));
        if (!query->exec()) {
            m_store.fail(QStringLiteral("remember"), query->lastError().databaseText());
            fail();
            return;
        }
    }
}

std::optional<MarkOutcome> StoreCheck::recall(const QByteArray &identity, const QByteArray &fingerprint,
                                              MarkState from) const
{
    const auto kept = m_markings.constFind(identity);
    if (kept == m_markings.cend())
        return std::nullopt;
    return MarkingRecord::fromBytes(*kept).outcome(fingerprint, from);
}

void StoreCheck::keep(const QByteArray &identity, const QByteArray &fingerprint, MarkState from,
                      const MarkOutcome &outcome)
{
    // Kept in memory also after a failure: the rows decided before it are
    // decided again at the end of the listing from what is kept here.
    if (identity.isEmpty())
        return;
    QByteArray &kept = m_markings[identity];
    MarkingRecord record = MarkingRecord::fromBytes(kept);
    record.keep(fingerprint, from, outcome);
    kept = record.toBytes();
    m_changedMarkings.insert(identity);
}

quint32 StoreCheck::highestUid(quint32 uidValidity)
{
    if (m_failed)
        return 0;
    QSqlQuery query(m_store.database());
    query.prepare(QStringLiteral("SELECT uid_validity, (SELECT max(uid) FROM messages WHERE account = ?)"
                                 " FROM accounts WHERE id = ?"));
    query.addBindValue(m_account);
    query.addBindValue(m_account);
    if (!query.exec() || !query.next()) {
        m_store.fail(QStringLiteral("highest UID"), query.lastError().databaseText());
        fail();
        return 0;
    }
    if (!query.value(0).isNull() && query.value(0).toLongLong() == qint64(uidValidity))
        return quint32(query.value(1).toLongLong());
    query.finish();
    // Under another UIDVALIDITY the UIDs name other messages.
    run(QStringLiteral("DELETE FROM messages WHERE account = ?"), {m_account});
    run(QStringLiteral("UPDATE accounts SET uid_validity = ? WHERE id = ?"), {qint64(uidValidity), m_account});
    return 0;
}

bool StoreCheck::finish(const QList<Listed> &listed, bool complete)
{
    m_goneUnmarked.clear();
    if (complete && !m_failed)
        recordListing(listed);
    if (!m_failed && run(QStringLiteral("COMMIT")))
        m_open = false;
    if (m_failed)
        m_goneUnmarked.clear();
    return !m_failed;
}

bool StoreCheck::readGoneUnmarked()
{
    QSqlQuery gone(m_store.database());
    gone.prepare(QStringLiteral("SELECT identity FROM messages WHERE account = ? AND fate = 'present' AND mark = ?"
                                " AND identity NOT IN (SELECT identity FROM temp.listed)"));
    gone.addBindValue(m_account);
    gone.addBindValue(static_cast<int>(MarkState::None));
    if (!gone.exec()) {
        m_store.fail(QStringLiteral("listing"), gone.lastError().databaseText());
        fail();
        return false;
    }
    while (gone.next())
        m_goneUnmarked.append(gone.value(0).toByteArray());
    return true;
}

bool StoreCheck::recordListing(const QList<Listed> &listed)
{
    if (!run(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS listed (identity BLOB PRIMARY KEY, mark INTEGER,"
                            " marked_by TEXT, marking BLOB)"))
        || !run(QStringLiteral("DELETE FROM temp.listed")))
        return false;
    QSqlQuery insert(m_store.database());
    insert.prepare(QStringLiteral("INSERT OR IGNORE INTO temp.listed VALUES (?, ?, ?, ?)"));
    const QVariant unchanged(QMetaType::fromType<QByteArray>());
    for (const Listed &message : listed) {
        if (message.identity.isEmpty())
            continue;
        insert.bindValue(0, message.identity);
        insert.bindValue(1, static_cast<int>(message.mark));
        insert.bindValue(2, storedMarkSource(message.source));
        insert.bindValue(3, m_changedMarkings.contains(message.identity) ? QVariant(m_markings.value(message.identity))
                                                                         : unchanged);
        if (!insert.exec()) {
            m_store.fail(QStringLiteral("listing"), insert.lastError().databaseText());
            fail();
            return false;
        }
    }
    insert.finish();
    if (!readGoneUnmarked())
        return false;
    // A mark keeps its date while it stays what it was.
    return run(QStringLiteral(
                   "UPDATE messages SET last_seen = ?, fate = 'present', moved_to = NULL, fate_at = NULL,"
                   " marked_at = CASE WHEN messages.mark = listed.mark AND messages.marked_by IS listed.marked_by"
                   " THEN messages.marked_at ELSE ? END, mark = listed.mark, marked_by = listed.marked_by,"
                   " marking = coalesce(listed.marking, messages.marking)"
                   " FROM temp.listed WHERE account = ? AND messages.identity = listed.identity"),
               {m_now, m_now, m_account})
           && run(QStringLiteral("UPDATE messages SET fate = 'gone', fate_at = ? WHERE account = ? AND fate = 'present'"
                                 " AND identity NOT IN (SELECT identity FROM temp.listed)"),
                  {m_now, m_account})
           && run(QStringLiteral("DELETE FROM messages WHERE fate <> 'present' AND fate_at < ?"),
                  {m_now - KeepGoneSeconds})
           && run(QStringLiteral("UPDATE accounts SET last_check = ? WHERE id = ?"), {m_now, m_account});
}
