#include "app/filelearning.h"

#include "learning/messagefiles.h"
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

FileLearningResult learnFromFiles(MessageLearner &learner, const QStringList &paths, Label label, bool unlearn,
                                  const std::function<void(const QString &)> &problem)
{
    FileLearningResult result;
    if (!learner.beginBatch()) {
        problem(learner.errorText());
        result.ok = false;
        return result;
    }
    bool failed = false;
    const auto learnOne = [&](const MessageFileEntry &entry) {
        if (failed)
            return;
        ++result.messages;
        const TmsHeaders headers = storedHeaderLines(entry.headerBlock);
        if (headers.isEmpty()) {
            ++result.skipped;
            problem(entry.name + QStringLiteral(": no header lines, skipped"));
            return;
        }
        if (unlearn) {
            const Unlearning done = learner.unlearnMessage(headers, label);
            failed = done == Unlearning::Failed;
            (done == Unlearning::Unlearned ? result.learned : result.alreadyKnown) += 1;
            return;
        }
        switch (learner.teachMessage(headers, label)) {
        case Teaching::Learned:
        case Teaching::Relabelled:
            ++result.learned;
            break;
        case Teaching::AlreadyKnown:
        case Teaching::NotWorthLearning:
            ++result.alreadyKnown;
            break;
        case Teaching::Failed:
            failed = true;
            break;
        }
    };
    for (const QString &path : paths)
        readMessageFiles(path, learnOne, problem);
    if (!learner.commitBatch() || failed) {
        problem(learner.errorText());
        result.ok = false;
    }
    return result;
}
