#include "app/explain.h"

#include "app/programcore.h"
#include "rules/explanation.h"

void ExplainCommand::Why1Click()
{
    CommandPause pause(m_links);
    if (const std::optional<int> row = m_links.oneSelectedRow()) {
        ProgramCore &core = m_links.core;
        const std::optional<UserMark> byUser = core.memory.userMark(core.client().Info(), *row);
        m_links.showViewer(TfrmViewHeader::Mode::Reasons,
                           explainRow(core.marking, core.markingSource, *row,
                                      byUser ? Explanation::byYou(byUser->mark, byUser->when) : QString()));
    }
}
