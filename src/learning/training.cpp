#include "learning/training.h"

#include <QCryptographicHash>

namespace {

// 128 bits: no two messages a user ever learns from meet by chance.
constexpr int KeyBytes = 16;

} // namespace

bool worthLearning(const Learner &learner, const QStringList &tokens, Label label, const Cutoffs &cutoffs)
{
    if (!learner.givesVerdicts())
        return true;
    const Verdict right = label == Label::Spam ? Verdict::Spam : Verdict::Ham;
    return classify(tokens, learner, cutoffs).verdict != right;
}

QByteArray learnedMessageKey(const TmsHeaders &headers)
{
    // The lines carry no line ends of their own (headerBlockLines split
    // them off): joined by one character the key is the same for CR LF
    // from a server and LF from a file.
    return QCryptographicHash::hash(headers.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Blake2b_160)
        .left(KeyBytes);
}
