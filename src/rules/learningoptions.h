#pragma once
// What the user chose for the learner on the Learning page: whether it
// learns and gives verdicts at all, the two cut-offs between ham, unsure
// and spam, and whether a score at or above deletionScore marks a message
// for deletion (a spam verdict alone only gives a question mark).

struct LearningOptions
{
    bool enabled = true;
    double hamCutoff = 0.20; // a score below is ham
    double spamCutoff = 0.90; // a score at or above is spam
    bool markForDeletion = false;
    double deletionScore = 0.995;

    // Scores lie between 0 and 1; the ham cut-off never lies above the spam
    // one, and a deletion score below the spam cut-off would delete what is
    // not even called spam.
    bool isValid() const
    {
        return hamCutoff >= 0 && hamCutoff <= spamCutoff && spamCutoff <= 1 && deletionScore >= spamCutoff
               && deletionScore <= 1;
    }
    bool operator==(const LearningOptions &) const = default;
};
