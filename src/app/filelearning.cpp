#include "app/filelearning.h"

#include "learning/messagefiles.h"
#include "mail/mailerrors.h"
#include "mail/packedheaders.h"

#include <algorithm>

TmsHeaders storedHeaderLines(const QByteArray &block)
{
    TmsHeaders lines = headerBlockLines(block);
    const bool anyField = std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        const qsizetype colon = line.indexOf(u':');
        return colon > 0 && !line.front().isSpace();
    });
    return anyField ? lines : TmsHeaders();
}

namespace {

// Teaches (or takes back) each block given to it within one batch of the
// learner, counting what happened.
class LearningBatch
{
public:
    LearningBatch(MessageLearner &learner, bool unlearn, const std::function<void(const QString &)> &problem,
                  const QString &trustedServer = {})
        : m_learner(learner), m_unlearn(unlearn), m_problem(problem), m_trustedServer(trustedServer)
    {
        m_run.ok = m_learner.beginBatch();
        if (!m_run.ok)
            m_problem(m_learner.errorText());
    }

    bool isOpen() const { return m_run.ok && !m_failed; }

    void take(const QString &name, const QByteArray &block, Label label)
    {
        if (!isOpen())
            return;
        ++m_run.messages;
        const TmsHeaders headers = storedHeaderLines(block);
        if (headers.isEmpty()) {
            ++m_run.skipped;
            m_problem(name + QStringLiteral(": no header lines, skipped"));
            return;
        }
        if (m_unlearn) {
            const Unlearning done = m_learner.unlearnMessage(headers, label, m_trustedServer);
            m_failed = done == Unlearning::Failed;
            (done == Unlearning::Unlearned ? m_run.learned : m_run.alreadyKnown) += 1;
            return;
        }
        switch (m_learner.teachMessage(headers, label, m_trustedServer)) {
        case Teaching::Learned:
        case Teaching::Relabelled:
            ++m_run.learned;
            break;
        case Teaching::AlreadyKnown:
        case Teaching::NotWorthLearning:
            ++m_run.alreadyKnown;
            break;
        case Teaching::Failed:
            m_failed = true;
            break;
        }
    }

    // Writes the batch; a failure anywhere keeps nothing of it.
    LearningRun finish()
    {
        if (!m_run.ok)
            return m_run;
        if (!m_learner.commitBatch() || m_failed) {
            m_problem(m_learner.errorText());
            m_run.ok = false;
        }
        return m_run;
    }

private:
    MessageLearner &m_learner;
    const bool m_unlearn;
    const std::function<void(const QString &)> &m_problem;
    QString m_trustedServer; // the mailbox's receiving server; empty for files
    LearningRun m_run;
    bool m_failed = false;
};

} // namespace

LearningRun learnFromFiles(MessageLearner &learner, const QStringList &paths, Label label, bool unlearn,
                           const std::function<void(const QString &)> &problem)
{
    LearningBatch batch(learner, unlearn, problem);
    for (const QString &path : paths) {
        if (!batch.isOpen())
            break;
        readMessageFiles(
            path, [&](const MessageFileEntry &entry) { batch.take(entry.name, entry.headerBlock, label); }, problem);
    }
    return batch.finish();
}

LearningRun learnFromServer(MessageLearner &learner, ImapClient &client, const QString &trustedServer,
                            const QStringList &hamFolders, int newest,
                            const std::function<void(const QString &)> &problem)
{
    // The server is read first: the batch holds the store only for the writing.
    QList<std::pair<QString, QList<QByteArray>>> folders;
    for (const QString &folder : QStringList{QString()} + hamFolders) {
        try {
            folders.append({folder, client.newestHeaderBlocks(folder, newest)});
        } catch (const EMailsieveError &e) {
            problem(e.message());
        }
    }
    LearningBatch batch(learner, false, problem, trustedServer);
    for (const auto &[folder, blocks] : folders) {
        const QString name = folder.isEmpty() ? QStringLiteral("Junk") : folder;
        for (const QByteArray &block : blocks)
            batch.take(name, block, folder.isEmpty() ? Label::Spam : Label::Ham);
    }
    return batch.finish();
}
