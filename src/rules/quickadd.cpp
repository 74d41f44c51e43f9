#include "rules/quickadd.h"

#include "rules/ruletexts.h"

namespace {

// Makes row 1 a new rule row and fills it; the other rules move down.
void insertFirstRule(RuleList &table, const QList<std::pair<int, QString>> &cells)
{
    table.insertRow(1);
    for (const auto &[column, text] : cells)
        table.setCell(column, 1, text);
    CheckGridAdv(table, 1, true);
}

} // namespace

void addToList(RuleSet &rules, const QString &subject, const QString &sender, QuickAddChoice choice)
{
    const QString oneHit = QStringLiteral("1");
    // A rule for an empty subject or sender would delete every message
    // without one, ordinary mail included: such a rule is not made.
    if (choice.subjects && !subject.trimmed().isEmpty()) {
        insertFirstRule(rules.SubjectRules, {{SubjectCol::What, RuleText::Equals},
                                             {SubjectCol::Matches, subject},
                                             {SubjectCol::Case, RuleText::Yes},
                                             {SubjectCol::Del, RuleText::Yes},
                                             {SubjectCol::Hits, oneHit}});
    }
    if (choice.senders && !sender.trimmed().isEmpty()) {
        insertFirstRule(rules.SenderRules, {{SenderCol::What, RuleText::EmailAddress},
                                            {SenderCol::Condition, RuleText::Equals},
                                            {SenderCol::Matches, sender},
                                            {SenderCol::Del, RuleText::Yes},
                                            {SenderCol::Hits, oneHit}});
    }
}

bool addExceptionSender(RuleList &exceptions, const QString &sender, bool onlyWhenDmarcPasses)
{
    if (sender.trimmed().isEmpty())
        return false;
    int row = exceptions.rowCount();
    if (exceptions.rowCount() == 2 && exceptions.cell(ExceptCol::Condition, 1).isEmpty())
        row = 1;
    else
        exceptions.setRowCount(row + 1);
    exceptions.setCell(ExceptCol::What, row, RuleText::EmailAddress);
    exceptions.setCell(ExceptCol::Condition, row, RuleText::Equals);
    exceptions.setCell(ExceptCol::Matches, row, sender);
    exceptions.setCell(ExceptCol::Case, row, RuleText::No);
    exceptions.setCell(ExceptCol::Hits, row, QStringLiteral("0"));
    if (onlyWhenDmarcPasses)
        exceptions.setCell(ExceptCol::DmarcOnly, row, RuleText::Yes);
    return true;
}
