#pragma once
// The header rule a first start adds so that mail addressed to the user's
// own mailbox 1 is never taken for spam: "To does not contain" the user
// name, for mailbox #1, as the first header rule.

#include <QString>

class RuleList;

// Inserts the rule at the top of the header rules. Does nothing and returns
// false when the user name is blank (such a rule would protect nothing) or
// the same rule is already there.
bool AddMyselfFromPopToHeader(RuleList &headerRules, const QString &userName);
