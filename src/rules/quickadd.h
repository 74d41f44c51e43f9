#pragma once
// Rules made from listed messages: a message's exact subject and its
// sender's address as spam rules on top of their tables, and a sender's
// address as an exception rule.

#include "rules/rulelist.h"

#include <QString>

struct QuickAddChoice
{
    bool subjects = true; // "Always delete mail with these particular subject headings"
    bool senders = true; // "Always delete mail from these particular senders"
};

// Inserts the chosen rules as the first rule rows of SubjectRules (Equals
// the subject, with regard to case) and SenderRules (the address Equals the
// sender), both check-mark rules starting at one hit. No duplicate check.
// An empty subject or sender makes no rule: it would delete every message
// that has none.
void addToList(RuleSet &rules, const QString &subject, const QString &sender, QuickAddChoice choice);

// An exception rule accepting mail from sender; with onlyWhenDmarcPasses
// only once the receiving server says the sender's domain passed DMARC.
// The lone empty row of a fresh table is reused; otherwise the rule is
// appended. An empty sender would accept every message without a sender
// address, so it adds nothing and returns false.
bool addExceptionSender(RuleList &exceptions, const QString &sender, bool onlyWhenDmarcPasses = false);
