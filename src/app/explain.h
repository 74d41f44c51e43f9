#pragma once
// "Why was this e-mail marked?": the rules that decide the first selected
// message's mark, shown in the viewer, after the date the user set the mark
// by hand when it is the user's. Marks and hit counters stay as they are.

#include "app/inspectionlinks.h"

class ExplainCommand
{
public:
    explicit ExplainCommand(const InspectionLinks &links) : m_links(links) {}

    void Why1Click();

private:
    const InspectionLinks &m_links;
};
