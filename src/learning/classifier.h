#pragma once
// The learner's verdict on a message from its tokens: Robinson's
// probability for each token, with the usual strength of the unknown-word
// prior, and Fisher's chi-square combining of the strongest ones into one
// score from 0 (ham) to 1 (spam). Two cut-offs split the scores into ham,
// unsure and spam.

#include <QList>
#include <QString>
#include <QStringList>

// How many spam and ham messages a token was learnt from.
struct TokenCounts
{
    quint32 spam = 0;
    quint32 ham = 0;
    bool operator==(const TokenCounts &) const = default;
};

// What the learner knows: each token's counts and how many messages of
// each kind it learnt.
class TokenStatistics
{
public:
    virtual ~TokenStatistics() = default;
    virtual TokenCounts counts(const QString &token) const = 0;
    virtual quint32 spamMessages() const = 0;
    virtual quint32 hamMessages() const = 0;
};

enum class Verdict { Ham, Unsure, Spam };

struct Cutoffs
{
    double ham = 0.20; // a score below is ham
    double spam = 0.90; // a score at or above is spam
};

// One token that moved the score, with its probability of spam.
struct Clue
{
    QString token;
    double probability = 0.5;
    TokenCounts counts;
};

struct Classification
{
    double score = 0.5;
    Verdict verdict = Verdict::Unsure;
    QList<Clue> spamClues; // the strongest for spam, strongest first (at most ShownClues)
    QList<Clue> hamClues; // the strongest for ham, strongest first (at most ShownClues)
};

namespace ChiSquare {
constexpr int ShownClues = 5;
} // namespace ChiSquare

Verdict verdictOf(double score, const Cutoffs &cutoffs);
Classification classify(const QStringList &tokens, const TokenStatistics &statistics, const Cutoffs &cutoffs = {});
