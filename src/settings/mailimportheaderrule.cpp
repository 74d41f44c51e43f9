#include "settings/mailimportheaderrule.h"

#include "rules/rulelist.h"
#include "rules/ruletexts.h"

bool AddMyselfFromPopToHeader(RuleList &headerRules, const QString &userName)
{
    if (userName.trimmed().isEmpty())
        return false;
    const QString matches = userName + RuleText::MailBoxMarker + QLatin1Char('1');
    for (int row = 1; row < headerRules.rowCount(); ++row) {
        if (headerRules.cell(HeaderCol::What, row) == RuleText::ToDoesNotContain
            && headerRules.cell(HeaderCol::Matches, row) == matches)
            return false;
    }
    headerRules.insertRow(1);
    headerRules.setCell(HeaderCol::What, 1, RuleText::ToDoesNotContain);
    headerRules.setCell(HeaderCol::Matches, 1, matches);
    headerRules.setCell(HeaderCol::Case, 1, RuleText::No);
    headerRules.setCell(HeaderCol::Del, 1, RuleText::Yes);
    headerRules.setCell(HeaderCol::Hits, 1, QStringLiteral("0"));
    CheckGridAdv(headerRules, 1, true);
    return true;
}
