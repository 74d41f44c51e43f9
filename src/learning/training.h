#pragma once
// Which messages the learner learns from. It trains on its errors: a
// message it already classifies right teaches it little and would only
// push the counts of the kind of mail it sees most, so it learns only a
// message it gets wrong or is unsure of. Until it gives verdicts at all,
// everything is worth learning.

#include "learning/learner.h"
#include "mail/headers.h"

#include <QByteArray>
#include <QStringList>

// Whether learning tokens as label would teach the learner anything.
bool worthLearning(const Learner &learner, const QStringList &tokens, Label label, const Cutoffs &cutoffs);

// The key the store remembers a learnt message by: the same header block
// gives the same key whether it came from a server or a saved file.
QByteArray learnedMessageKey(const TmsHeaders &headers);
