#include "store/learningstore.h"

#include "learning/training.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

namespace {

// The label as learned_messages keeps it.
int storedLabel(Label label)
{
    return label == Label::Spam ? 1 : 0;
}

// A count as the file keeps it, kept in range whatever the file holds.
quint32 storedCount(const QVariant &value)
{
    return quint32(std::clamp<qint64>(value.toLongLong(), 0, std::numeric_limits<quint32>::max()));
}

} // namespace

struct LearningStore::Batch
{
    Batch(const QSqlDatabase &db, const Learner &learner, qint64 fileGeneration)
        : findLabel(db), setLabel(db), forget(db), spamBefore(learner.spamMessages()), hamBefore(learner.hamMessages()),
          generation(fileGeneration), now(QDateTime::currentSecsSinceEpoch())
    {
    }

    QSqlQuery findLabel;
    QSqlQuery setLabel;
    QSqlQuery forget;
    // What the batch changed: each token's counts and the totals as they
    // were before it.
    QHash<QString, TokenCounts> before;
    const quint32 spamBefore;
    const quint32 hamBefore;
    const qint64 generation;
    const qint64 now;
    bool changed = false;
    bool failed = false;
};

LearningStore::LearningStore(MessageStore &store, Learner &learner) : m_store(store), m_learner(learner)
{
}

LearningStore::~LearningStore()
{
    if (m_batch && !m_batch->failed)
        rollbackBatch();
}

void LearningStore::fail(const QString &what, const QSqlQuery &query)
{
    m_store.fail(what, query.lastError());
    if (m_batch && !m_batch->failed)
        rollbackBatch();
}

bool LearningStore::prepare(QSqlQuery &query, const QString &sql)
{
    if (query.prepare(sql))
        return true;
    fail(QStringLiteral("learning"), query);
    return false;
}

void LearningStore::rollbackBatch()
{
    m_store.rollback();
    m_learner.restore(m_batch->before, m_batch->spamBefore, m_batch->hamBefore);
    m_batch->failed = true;
}

std::optional<qint64> LearningStore::storedGeneration()
{
    QSqlQuery query(m_store.database());
    if (!query.exec(QStringLiteral("SELECT generation FROM learned_totals")) || !query.next()) {
        fail(QStringLiteral("learnt generation"), query);
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<LearntCounts> LearningStore::counts()
{
    if (!m_store.open())
        return std::nullopt;
    QSqlQuery query(m_store.database());
    if (!query.exec(QStringLiteral("SELECT spam, ham, (SELECT count(*) FROM learned_tokens) FROM learned_totals"))
        || !query.next()) {
        fail(QStringLiteral("learnt totals"), query);
        return std::nullopt;
    }
    return LearntCounts{storedCount(query.value(0)), storedCount(query.value(1)), query.value(2).toLongLong()};
}

bool LearningStore::load()
{
    if (!m_store.open())
        return false;
    // The generation first: should another program learn while the rest is
    // read, the next batch finds a newer one and loads again.
    const std::optional<qint64> generation = storedGeneration();
    const std::optional<LearntCounts> learnt = generation ? counts() : std::nullopt;
    if (!learnt)
        return false;
    QHash<QString, TokenCounts> tokens;
    tokens.reserve(qsizetype(learnt->tokens));
    QSqlQuery query(m_store.database());
    // Row by row: the result is never held whole beside the hash.
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT token, spam, ham FROM learned_tokens"))) {
        fail(QStringLiteral("learnt tokens"), query);
        return false;
    }
    while (query.next())
        tokens.insert(query.value(0).toString(), {storedCount(query.value(1)), storedCount(query.value(2))});
    if (query.lastError().isValid()) {
        fail(QStringLiteral("learnt tokens"), query);
        return false;
    }
    m_learner.reset(std::move(tokens), learnt->spamMessages, learnt->hamMessages);
    m_generation = generation;
    return true;
}

bool LearningStore::beginBatch()
{
    if (m_batch) {
        m_store.fail(QStringLiteral("learning"), QStringLiteral("a batch is open already"));
        return false;
    }
    // The write lock is taken at once, as a check takes it.
    if (!m_store.open() || !m_store.run(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    // The batch writes the Learner's counts: it must hold all that was
    // learnt, by other programs too.
    const std::optional<qint64> generation = storedGeneration();
    if (!generation || (generation != m_generation && !load())) {
        m_store.rollback();
        return false;
    }
    m_batch = std::make_unique<Batch>(m_store.database(), m_learner, *generation);
    if (!prepare(m_batch->findLabel, QStringLiteral("SELECT label FROM learned_messages WHERE key = ?"))
        || !prepare(m_batch->setLabel,
                    QStringLiteral("INSERT INTO learned_messages (key, label, learned_at) VALUES (?, ?, ?)"
                                   " ON CONFLICT (key) DO UPDATE SET label = excluded.label,"
                                   " learned_at = excluded.learned_at"))
        || !prepare(m_batch->forget, QStringLiteral("DELETE FROM learned_messages WHERE key = ?"))) {
        m_batch.reset();
        return false;
    }
    return true;
}

bool LearningStore::commitBatch()
{
    if (!m_batch)
        return false;
    bool done = !m_batch->failed && (!m_batch->changed || writeCounts());
    if (done && !m_store.run(QStringLiteral("COMMIT"))) {
        rollbackBatch();
        done = false;
    }
    if (done && m_batch->changed)
        m_generation = m_batch->generation + 1;
    m_batch.reset();
    return done;
}

bool LearningStore::writeCounts()
{
    const QSqlDatabase db = m_store.database();
    QSqlQuery write(db);
    QSqlQuery drop(db);
    QSqlQuery totals(db);
    if (!prepare(write, QStringLiteral("INSERT INTO learned_tokens (token, spam, ham) VALUES (?, ?, ?)"
                                       " ON CONFLICT (token) DO UPDATE SET spam = excluded.spam, ham = excluded.ham"))
        || !prepare(drop, QStringLiteral("DELETE FROM learned_tokens WHERE token = ?"))
        || !prepare(totals, QStringLiteral("UPDATE learned_totals SET spam = ?, ham = ?, generation = ?")))
        return false;
    QList<std::pair<QString, TokenCounts>> changed;
    for (auto before = m_batch->before.cbegin(); before != m_batch->before.cend(); ++before) {
        if (const TokenCounts now = m_learner.counts(before.key()); now != before.value())
            changed.append({before.key(), now});
    }
    // In the table's order, each of its pages is read and written once.
    std::sort(changed.begin(), changed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[token, now] : std::as_const(changed)) {
        const bool learnt = now != TokenCounts();
        QSqlQuery &query = learnt ? write : drop;
        query.bindValue(0, token);
        if (learnt) {
            query.bindValue(1, qint64(now.spam));
            query.bindValue(2, qint64(now.ham));
        }
        if (!query.exec()) {
            fail(QStringLiteral("learnt tokens"), query);
            return false;
        }
    }
    totals.bindValue(0, qint64(m_learner.spamMessages()));
    totals.bindValue(1, qint64(m_learner.hamMessages()));
    totals.bindValue(2, m_batch->generation + 1);
    if (!totals.exec()) {
        fail(QStringLiteral("learnt totals"), totals);
        return false;
    }
    return true;
}

template <typename Work>
auto LearningStore::inBatch(const Work &work)
{
    using Result = decltype(work());
    const bool own = !m_batch;
    if (own && !beginBatch())
        return Result::Failed;
    const Result result = m_batch->failed ? Result::Failed : work();
    if (own && !commitBatch())
        return Result::Failed;
    return result;
}

bool LearningStore::findLabel(const QByteArray &key, std::optional<Label> &learnt)
{
    QSqlQuery &query = m_batch->findLabel;
    query.bindValue(0, key);
    if (!query.exec()) {
        fail(QStringLiteral("learnt message"), query);
        return false;
    }
    learnt.reset();
    if (query.next())
        learnt = query.value(0).toInt() == storedLabel(Label::Spam) ? Label::Spam : Label::Ham;
    query.finish();
    return true;
}

bool LearningStore::writeLabel(const QByteArray &key, std::optional<Label> label)
{
    QSqlQuery &query = label ? m_batch->setLabel : m_batch->forget;
    query.bindValue(0, key);
    if (label) {
        query.bindValue(1, storedLabel(*label));
        query.bindValue(2, m_batch->now);
    }
    if (!query.exec()) {
        fail(QStringLiteral("learnt message"), query);
        return false;
    }
    return true;
}

void LearningStore::change(const QStringList &tokens, Label label, Change change)
{
    QHash<QString, TokenCounts> &before = m_batch->before;
    for (const QString &token : tokens) {
        // Found or added in one look-up; an added one takes the counts.
        const qsizetype kept = before.size();
        TokenCounts &counts = before[token];
        if (before.size() != kept)
            counts = m_learner.counts(token);
    }
    if (change == Change::Learn)
        m_learner.learn(tokens, label);
    else
        m_learner.unlearn(tokens, label);
    m_batch->changed = true;
}

Teaching LearningStore::teach(const QByteArray &key, const QStringList &tokens, Label label,
                              const std::optional<Cutoffs> &onlyOnError)
{
    return inBatch([&] {
        std::optional<Label> learnt;
        if (!findLabel(key, learnt))
            return Teaching::Failed;
        if (learnt == label)
            return Teaching::AlreadyKnown;
        // A label the user corrects is always learnt.
        if (!learnt && onlyOnError && !worthLearning(m_learner, tokens, label, *onlyOnError))
            return Teaching::NotWorthLearning;
        if (!writeLabel(key, label))
            return Teaching::Failed;
        if (learnt)
            change(tokens, *learnt, Change::Unlearn);
        change(tokens, label, Change::Learn);
        return learnt ? Teaching::Relabelled : Teaching::Learned;
    });
}

Unlearning LearningStore::unlearn(const QByteArray &key, const QStringList &tokens, Label label)
{
    return inBatch([&] {
        std::optional<Label> learnt;
        if (!findLabel(key, learnt))
            return Unlearning::Failed;
        if (learnt != label)
            return Unlearning::NotLearned;
        if (!writeLabel(key, std::nullopt))
            return Unlearning::Failed;
        change(tokens, label, Change::Unlearn);
        return Unlearning::Unlearned;
    });
}
