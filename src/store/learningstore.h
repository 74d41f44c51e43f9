#pragma once
// What the learner learnt, kept in the message store's file (the learned_*
// tables) and held in memory by a Learner. Every message learnt is
// remembered with its label by learnedMessageKey: a message teaches once
// per label, and the user's correction of a label takes the old lesson
// back before it learns the new one.
//
// Writes go in batches, one transaction each (a single message is a batch
// of its own). A batch first loads the Learner again if another program
// learnt since (the file's generation says so), and the Learner counts
// what the batch teaches as it goes, so that train-on-error judges each
// message after the ones before it. At the end each changed token is
// written once, as the Learner counts it. A failed write rolls back all of
// the batch, in the file and in the Learner. Failures are reported through
// errorText(); nothing throws.
//
// The Learner is the store's to change while a batch is open. The store
// shares MessageStore's connection: no batch can begin while a check holds
// its transaction (the failure says so).

#include "learning/learner.h"
#include "store/messagestore.h"

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <optional>

class QSqlQuery;

// What teaching one message did.
enum class Teaching {
    Learned, // a new message, learnt
    Relabelled, // learnt before with the other label: that is taken back
    AlreadyKnown, // learnt before with this label: nothing changed
    NotWorthLearning, // the learner classifies it right already
    Failed // the store did not take it (errorText)
};

enum class Unlearning {
    Unlearned,
    NotLearned, // not learnt with this label: nothing changed
    Failed
};

// What the file says was learnt.
struct LearntCounts
{
    quint32 spamMessages = 0;
    quint32 hamMessages = 0;
    qint64 tokens = 0;
};

class LearningStore
{
public:
    // Both outlive the LearningStore; one LearningStore serves one Learner.
    LearningStore(MessageStore &store, Learner &learner);
    // Rolls back a batch not committed.
    ~LearningStore();
    LearningStore(const LearningStore &) = delete;
    LearningStore &operator=(const LearningStore &) = delete;

    // Replaces what the Learner holds with everything the file learnt
    // (outside a batch); on failure the Learner stays as it was.
    bool load();
    std::optional<LearntCounts> counts();

    // Teaches the message of key with its tokens (headerTokens) as label.
    // A message not learnt before is learnt when onlyOnError is empty, or
    // when it is worth learning with these cut-offs (worthLearning). Inside
    // a batch, Learned and Relabelled count only if commitBatch() succeeds.
    Teaching teach(const QByteArray &key, const QStringList &tokens, Label label,
                   const std::optional<Cutoffs> &onlyOnError = std::nullopt);
    // Takes back what the message taught, if it was learnt as label.
    Unlearning unlearn(const QByteArray &key, const QStringList &tokens, Label label);

    // A batch: the teaching and unlearning until commitBatch() go into the
    // file together or not at all. After a failure in the batch, teach and
    // unlearn fail until commitBatch() (false) ends it.
    bool beginBatch();
    bool commitBatch();

    QString errorText() const { return m_store.errorText(); }

private:
    struct Batch;
    enum class Change { Learn, Unlearn };
    // Runs work (which returns Teaching or Unlearning) in the open batch, or
    // in a batch of its own.
    template <typename Work>
    auto inBatch(const Work &work);
    std::optional<qint64> storedGeneration();
    // The label the message was learnt with, in learnt; false on failure.
    bool findLabel(const QByteArray &key, std::optional<Label> &learnt);
    // Writes the message's label, or forgets the message without one.
    bool writeLabel(const QByteArray &key, std::optional<Label> label);
    // Changes the counts in memory, keeping what they were before the batch.
    void change(const QStringList &tokens, Label label, Change change);
    bool writeCounts();
    // Records the failure of query and rolls back the open batch.
    void fail(const QString &what, const QSqlQuery &query);
    bool prepare(QSqlQuery &query, const QString &sql);
    void rollbackBatch();

    MessageStore &m_store;
    Learner &m_learner;
    // The file's generation the Learner holds; none before it was loaded.
    std::optional<qint64> m_generation;
    std::unique_ptr<Batch> m_batch;
};
