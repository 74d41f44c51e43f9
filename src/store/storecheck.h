#pragma once
// One check of one account against the message store: the mailbox client
// asks it for what earlier checks fetched (HeaderCache) and hands it what
// this check fetched; at the end the listed messages' marks and fates are
// recorded and the whole is committed at once. Any failure of the file
// (full disk, a lock held too long, damage) rolls everything of this check
// back: from then on it answers like an empty cache, and failed() says so.

#include "mail/headercache.h"
#include "rules/markingmemo.h"
#include "store/messagestore.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlQuery>

#include <optional>

class StoreCheck : public HeaderCache
{
public:
    // A message of the listing as the rules and the user left it.
    struct Listed
    {
        QByteArray identity; // empty: a message the store cannot know
        MarkState mark = MarkState::None;
        MarkSource source = MarkSource::None;
    };

    // Messages gone from the server are kept this long.
    static constexpr qint64 KeepGoneSeconds = 30 * 24 * 3600;

    StoreCheck(MessageStore &store, qint64 account, bool imap, const QDateTime &now);
    // Rolls back what was not finished.
    ~StoreCheck() override;
    StoreCheck(const StoreCheck &) = delete;
    StoreCheck &operator=(const StoreCheck &) = delete;

    std::optional<CachedHeader> find(const QByteArray &identity) override;
    void remember(const QByteArray &identity, qint64 size, const PackedHeaders &headers,
                  const std::optional<HeaderSummary> &summary = std::nullopt) override;
    quint32 highestUid(quint32 uidValidity) override;
    bool keepsHeaders() const override { return !m_failed; }

    // The rules' decisions kept for a message found in the store, and the
    // new ones, written by finish().
    std::optional<MarkOutcome> recall(const QByteArray &identity, const QByteArray &fingerprint, MarkState from) const;
    void keep(const QByteArray &identity, const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome);

    // Commits. A complete listing also records every listed message as
    // present with its mark, every other one of the account as gone, and
    // prunes what has been gone longer than KeepGoneSeconds; an incomplete
    // one keeps only the header blocks it fetched. False when nothing could
    // be written (the store is as before).
    bool finish(const QList<Listed> &listed, bool complete);
    // Something failed; errorText() of the store says what.
    bool failed() const { return m_failed; }
    // After a complete listing: the messages listed without a mark before
    // that are gone now without the program removing them (the mail
    // program took them).
    const QList<QByteArray> &goneUnmarked() const { return m_goneUnmarked; }

private:
    bool run(const QString &sql, const QVariantList &values = {});
    void fail();
    bool recordListing(const QList<Listed> &listed);
    bool readGoneUnmarked();

    MessageStore &m_store;
    const qint64 m_account;
    const bool m_imap;
    const qint64 m_now;
    bool m_open = true; // the transaction is open
    bool m_failed = false;
    std::optional<QSqlQuery> m_find;
    std::optional<QSqlQuery> m_remember;
    std::optional<QSqlQuery> m_rememberBlock;
    // The records of the messages found, as stored; those changed since.
    QHash<QByteArray, QByteArray> m_markings;
    QSet<QByteArray> m_changedMarkings;
    QList<QByteArray> m_goneUnmarked;
};
