#pragma once
// The learner as the program uses it: it judges the rows the rules leave
// unmarked, learns from what becomes of messages (train on error, each
// message once per label), and keeps what it learnt in the message store's
// file, loaded at the first use. Without a usable store it neither judges
// nor learns, and warning() says why.

#include "app/mailboxmemory.h"
#include "learning/learner.h"
#include "rules/learningoptions.h"
#include "rules/marking.h"
#include "store/learningstore.h"

#include <optional>

class MessageLearner : public SpamLearner
{
public:
    MessageLearner(MessageStore &store, const LearningOptions &options);

    bool givesVerdicts() const override;
    QByteArray state() const override;
    Classification classify(const TmsHeaders &headers, const QString &trustedServer,
                            const Cutoffs &cutoffs) const override;
    // The cut-offs the user chose.
    Cutoffs cutoffs() const { return {m_options.hamCutoff, m_options.spamCutoff}; }

    // What messages taught, in one write, if the options let the learner
    // learn: each message it gets wrong or is unsure of.
    void teach(const QList<Lesson> &lessons);

    // Many messages at once (learning from files), in one write: teaching
    // and unlearning between beginBatch and commitBatch stand or fall
    // together. These ignore the options' switch: the user asked.
    bool beginBatch();
    bool commitBatch();
    // trustedServer: the receiving server of the mailbox the message came
    // from, whose findings are clues too; empty for a file.
    Teaching teachMessage(const TmsHeaders &headers, Label label, const QString &trustedServer = {});
    Unlearning unlearnMessage(const TmsHeaders &headers, Label label, const QString &trustedServer = {});
    QString errorText() const { return m_store.errorText(); }
    // What it learnt; nothing when the store cannot be read.
    std::optional<LearntCounts> counts();

    // What the user must hear of the learner since the last call.
    QString takeWarning();

private:
    // Loads what the file learnt, once; false without a usable store.
    bool ready() const;

    const LearningOptions &m_options;
    mutable Learner m_learner;
    mutable LearningStore m_store;
    mutable std::optional<bool> m_loaded;
    // The state's digest and the learner revision it belongs to.
    mutable std::optional<std::pair<quint64, QByteArray>> m_state;
    mutable QString m_warning;
};
