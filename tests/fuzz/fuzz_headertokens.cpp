// Feeds the learner: the input is a header block as a server sends it,
// split as a listed row's lines are, turned into tokens that must keep
// their bounds, and scored against fixed counts that give every token
// some weight, so that the strongest-token choice and the clues run too.

#include "fuzzsupport.h"

#include "learning/classifier.h"
#include "learning/headertokens.h"
#include "mail/packedheaders.h"

#include <QSet>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

class FixedStatistics : public TokenStatistics
{
public:
    TokenCounts counts(const QString &token) const override
    {
        return {quint32(token.size() % 7) * 3, quint32(token.size() % 5) * 4};
    }
    quint32 spamMessages() const override { return 20; }
    quint32 hamMessages() const override { return 30; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray block(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList tokens = headerTokens(headerBlockLines(block));
    requirePromise(tokens.size() <= HeaderTokens::MaxTokens, "at most MaxTokens tokens");
    for (const QString &token : tokens)
        requirePromise(!token.isEmpty() && token.size() <= HeaderTokens::MaxTokenLength,
                       "every token is 1 to MaxTokenLength characters");
    requirePromise(QSet<QString>(tokens.begin(), tokens.end()).size() == tokens.size(), "tokens are distinct");

    const Cutoffs cutoffs;
    const Classification result = classify(tokens, FixedStatistics(), cutoffs);
    requirePromise(std::isfinite(result.score) && result.score >= 0 && result.score <= 1, "the score is in [0, 1]");
    requirePromise(result.verdict == verdictOf(result.score, cutoffs), "the verdict follows the score");
    requirePromise(result.spamClues.size() <= ChiSquare::ShownClues && result.hamClues.size() <= ChiSquare::ShownClues,
                   "at most ShownClues clues each way");
    return 0;
}
