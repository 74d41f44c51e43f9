#pragma once
// The user's own marks: "Mark messages" (and a double click) toggles the
// delete mark of the selected rows, and later checks give the messages the
// user's mark again; "Reset all marks" clears every mark and "Auto-mark
// messages" has the rules mark the whole list afresh, both handing the
// marks back to the rules.

#include "app/inspectionlinks.h"

class ManualMarks
{
public:
    static inline const QString NothingMatchedText =
        QStringLiteral("None of the messages matched any of the spam criteria.");

    explicit ManualMarks(const InspectionLinks &links) : m_links(links) {}

    void btMarkClick();
    void ResetButtonClick();
    void btRemarkClick();

private:
    const InspectionLinks &m_links;
};
