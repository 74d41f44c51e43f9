#pragma once
// The list's two rule-making commands: "Add selected message(s) to spam
// list" through the quick-add dialog, and "Add selected sender(s) to
// exceptions list". Both save the rules and then re-mark the whole list.

#include "app/inspectionlinks.h"

class ManualMarks;
class TfrmMarkForDeletion;

class QuickAddCommands
{
public:
    static inline const QString NoSenderText =
        QStringLiteral("None of the selected messages has a sender address, so no exception was added.");

    QuickAddCommands(const InspectionLinks &links, ManualMarks &marks) : m_links(links), m_marks(marks) {}

    void AddtoSPAMlist1Click();
    void AddtoExceptions1Click();

    // Shows the quick-add dialog modally (exec() when empty); tests press
    // its buttons instead.
    std::function<void(TfrmMarkForDeletion &)> runDialog;

private:
    void saveRules();

    const InspectionLinks &m_links;
    ManualMarks &m_marks;
};
