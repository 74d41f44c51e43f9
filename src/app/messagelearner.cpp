#include "app/messagelearner.h"

#include "learning/headertokens.h"
#include "learning/training.h"

#include <QCryptographicHash>

MessageLearner::MessageLearner(MessageStore &store, const LearningOptions &options)
    : m_options(options), m_store(store, m_learner)
{
}

bool MessageLearner::ready() const
{
    if (!m_loaded) {
        m_loaded = m_store.load();
        if (!*m_loaded)
            m_warning = QStringLiteral("The learner could not read what it learnt: ") + m_store.errorText();
    }
    return *m_loaded;
}

bool MessageLearner::givesVerdicts() const
{
    return ready() && m_learner.givesVerdicts();
}

QByteArray MessageLearner::state() const
{
    // Decisions kept by another run of the program (a check from cron)
    // belong to what that run learnt: the digest is of the counts
    // themselves, in no particular order, worked out once per change.
    if (!m_state || m_state->first != m_learner.revision()) {
        quint64 sum = 0;
        for (auto it = m_learner.tokens().cbegin(); it != m_learner.tokens().cend(); ++it)
            sum += qHashMulti(0, it.key(), it.value().spam, it.value().ham);
        QCryptographicHash digest(QCryptographicHash::Sha256);
        for (quint64 value : {sum, quint64(m_learner.spamMessages()), quint64(m_learner.hamMessages()),
                              quint64(m_learner.tokenCount())})
            digest.addData(QByteArrayView(reinterpret_cast<const char *>(&value), sizeof value));
        m_state.emplace(m_learner.revision(), digest.result().left(16));
    }
    return m_state->second;
}

Classification MessageLearner::classify(const TmsHeaders &headers, const QString &trustedServer,
                                        const Cutoffs &cutoffs) const
{
    if (!ready())
        return {};
    return ::classify(headerTokens(headers, trustedServer), m_learner, cutoffs);
}

void MessageLearner::teach(const QList<Lesson> &lessons)
{
    if (!m_options.enabled || lessons.isEmpty())
        return;
    bool taken = beginBatch();
    if (taken) {
        for (const Lesson &lesson : lessons) {
            const TmsHeaders headers = lesson.headers.lines();
            if (!headers.isEmpty() && teachMessage(headers, lesson.label, lesson.trustedServer) == Teaching::Failed) {
                taken = false;
                break;
            }
        }
        // Ends the batch also after a failure, which rolls it back.
        taken = commitBatch() && taken;
    }
    if (!taken && m_warning.isEmpty())
        m_warning = QStringLiteral("The learner did not keep what it learnt: ") + m_store.errorText();
}

bool MessageLearner::beginBatch()
{
    return ready() && m_store.beginBatch();
}

bool MessageLearner::commitBatch()
{
    return m_store.commitBatch();
}

Teaching MessageLearner::teachMessage(const TmsHeaders &headers, Label label, const QString &trustedServer)
{
    if (!ready())
        return Teaching::Failed;
    return m_store.teach(learnedMessageKey(headers), headerTokens(headers, trustedServer), label, cutoffs());
}

Unlearning MessageLearner::unlearnMessage(const TmsHeaders &headers, Label label, const QString &trustedServer)
{
    if (!ready())
        return Unlearning::Failed;
    return m_store.unlearn(learnedMessageKey(headers), headerTokens(headers, trustedServer), label);
}

std::optional<LearntCounts> MessageLearner::counts()
{
    return ready() ? m_store.counts() : std::nullopt;
}

QString MessageLearner::takeWarning()
{
    return std::exchange(m_warning, QString());
}
