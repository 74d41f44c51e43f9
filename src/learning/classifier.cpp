#include "learning/classifier.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace {

// Robinson's prior for a token seen rarely or never: its strength (as many
// messages' worth of evidence) and the probability it starts from.
constexpr double UnknownWordStrength = 0.45;
constexpr double UnknownWordProbability = 0.5;
// A token this close to 0.5 says next to nothing and is left out.
constexpr double MinimumProbabilityStrength = 0.1;
// Only the strongest tokens are combined, as SpamBayes does: a long header
// block must not win by the sheer number of its weak clues.
constexpr int MaxDiscriminators = 150;

// Robinson's f(w): the token's spam probability from its counts, drawn to
// the prior in proportion to how little evidence there is.
double tokenProbability(TokenCounts counts, quint32 spamMessages, quint32 hamMessages)
{
    const double seen = double(counts.spam) + double(counts.ham);
    if (seen == 0)
        return UnknownWordProbability;
    // A count against an empty total (statistics out of step) reads as one message.
    const double spamRatio = double(counts.spam) / double(std::max<quint32>(spamMessages, 1));
    const double hamRatio = double(counts.ham) / double(std::max<quint32>(hamMessages, 1));
    const double probability = spamRatio / (spamRatio + hamRatio);
    return (UnknownWordStrength * UnknownWordProbability + seen * probability) / (UnknownWordStrength + seen);
}

// The chi-square survival function for x2 with an even number of degrees of
// freedom: e^-m * sum(m^i / i!, i < degrees / 2) with m = x2 / 2. For 150
// tokens e^-m alone underflows, so the sum is kept scaled apart from it and
// they meet as logarithms.
double chi2Q(double x2, int degrees)
{
    const double m = x2 / 2;
    if (m <= 0)
        return 1.0;
    constexpr double Scale = 1e-250;
    const double logScale = std::log(Scale);
    double logFactor = -m;
    double term = 1.0;
    double sum = 1.0;
    for (int i = 1; i < degrees / 2; ++i) {
        term *= m / i;
        sum += term;
        if (sum > 1 / Scale) {
            term *= Scale;
            sum *= Scale;
            logFactor -= logScale;
        }
        // Past 2m each term is under half the one before, so all that follow
        // add up to less than this one: once it is lost in the sum, so are
        // they (and the terms never sink into slow subnormal numbers).
        if (i > 2 * m && term < sum * std::numeric_limits<double>::epsilon())
            break;
    }
    return std::min(1.0, std::exp(logFactor + std::log(sum)));
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx"))) void zeroUpperAvxHalves()
{
    _mm256_zeroupper();
}
#endif

// Qt's string hashing runs AVX code and leaves the upper halves of the
// vector registers in use. Until they are cleared every SSE instruction
// after it pays a penalty: measured, the arithmetic of a score ran nine
// times slower after the token look-ups than after this call.
void clearUpperVectorState()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (__builtin_cpu_supports("avx"))
        zeroUpperAvxHalves();
#endif
}

struct Candidate
{
    qsizetype index; // in the tokens
    double probability;
    double strength; // distance from 0.5
    TokenCounts counts;
};

// The clues of one direction, strongest first: spam clues by falling
// probability, ham clues by rising.
QList<Clue> cluesOf(const QStringList &tokens, QVarLengthArray<const Candidate *, MaxDiscriminators> chosen)
{
    const qsizetype shown = std::min<qsizetype>(chosen.size(), ChiSquare::ShownClues);
    std::partial_sort(chosen.begin(), chosen.begin() + shown, chosen.end(), [](const Candidate *a, const Candidate *b) {
        return a->strength != b->strength ? a->strength > b->strength : a->index < b->index;
    });
    QList<Clue> clues;
    clues.reserve(shown);
    for (qsizetype i = 0; i < shown; ++i)
        clues.append({tokens[chosen[i]->index], chosen[i]->probability, chosen[i]->counts});
    return clues;
}

} // namespace

Verdict verdictOf(double score, const Cutoffs &cutoffs)
{
    if (score < cutoffs.ham)
        return Verdict::Ham;
    if (score >= cutoffs.spam)
        return Verdict::Spam;
    return Verdict::Unsure;
}

Classification classify(const QStringList &tokens, const TokenStatistics &statistics, const Cutoffs &cutoffs)
{
    const quint32 spamMessages = statistics.spamMessages();
    const quint32 hamMessages = statistics.hamMessages();
    // All look-ups first, then all arithmetic: see clearUpperVectorState.
    QVarLengthArray<TokenCounts, 256> counts(tokens.size());
    for (qsizetype i = 0; i < tokens.size(); ++i)
        counts[i] = statistics.counts(tokens[i]);
    clearUpperVectorState();

    QVarLengthArray<Candidate, 256> candidates;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const double probability = tokenProbability(counts[i], spamMessages, hamMessages);
        const double strength = std::abs(probability - 0.5);
        if (strength >= MinimumProbabilityStrength)
            candidates.append({i, probability, strength, counts[i]});
    }

    // The strongest first; of equally strong ones the earlier token, so the
    // choice does not depend on the sort.
    const qsizetype used = std::min<qsizetype>(candidates.size(), MaxDiscriminators);
    std::partial_sort(candidates.begin(), candidates.begin() + used, candidates.end(),
                      [](const Candidate &a, const Candidate &b) {
                          return a.strength != b.strength ? a.strength > b.strength : a.index < b.index;
                      });

    Classification result;
    if (used == 0) {
        result.verdict = verdictOf(result.score, cutoffs);
        return result;
    }
    double hamEvidence = 0; // -2 ln prod(f)
    double spamEvidence = 0; // -2 ln prod(1 - f)
    QVarLengthArray<const Candidate *, MaxDiscriminators> spamward;
    QVarLengthArray<const Candidate *, MaxDiscriminators> hamward;
    for (qsizetype i = 0; i < used; ++i) {
        const Candidate &candidate = candidates[i];
        hamEvidence -= 2 * std::log(candidate.probability);
        spamEvidence -= 2 * std::log(1 - candidate.probability);
        (candidate.probability > 0.5 ? spamward : hamward).append(&candidate);
    }
    // Fisher's test each way: the chance that tokens leaning nowhere gave
    // evidence this strong. Spam leaves the ham side unremarkable (near 1)
    // and the spam side remarkable (near 0); ham the other way round.
    const int degrees = 2 * int(used);
    const double hamSideChance = chi2Q(hamEvidence, degrees);
    const double spamSideChance = chi2Q(spamEvidence, degrees);
    result.score = (1 + hamSideChance - spamSideChance) / 2;
    result.verdict = verdictOf(result.score, cutoffs);
    result.spamClues = cluesOf(tokens, std::move(spamward));
    result.hamClues = cluesOf(tokens, std::move(hamward));
    return result;
}
