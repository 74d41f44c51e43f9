#pragma once
// A clue of the learner in words a user reads:
// "From domain: cheap-deals.test (seen in 40 spam, 0 ham)".

#include "learning/classifier.h"

QString clueText(const Clue &clue);
