#include "app/manualmarks.h"

#include "app/checkcycle.h"
#include "app/programcore.h"
#include "settings/prompts.h"

void ManualMarks::btMarkClick()
{
    m_links.stopAlarm();
    const std::optional<QList<int>> rows = m_links.selectionOrNotice();
    if (!rows)
        return;
    ProgramCore &core = m_links.core;
    MessageListModel &list = core.list;
    // A question mark or an exception is promoted to a delete mark; a second
    // mark clears it. Either is the user's word on the message, kept for
    // later checks.
    for (int row : *rows) {
        const MarkState mark = isMarkedForDeletion(list.mark(row)) ? MarkState::None : MarkState::Check;
        list.setMark(row, mark);
        core.memory.userMarked(core.client(), row, mark);
    }
    m_links.cycle.ShowTotalCount();
}

void ManualMarks::ResetButtonClick()
{
    m_links.core.list.setAllMarks(MarkState::None);
    m_links.core.memory.forgetUserMarks();
    m_links.cycle.ShowTotalCount();
}

void ManualMarks::btRemarkClick()
{
    m_links.stopAlarm();
    MessageListModel &list = m_links.core.list;
    list.setAllMarks(MarkState::None);
    m_links.core.memory.forgetUserMarks();
    m_links.core.marking.MarkForDeletion(-1);
    if (list.markedCount() == 0)
        m_links.prompts.information(NothingMatchedText);
    m_links.cycle.ShowTotalCount();
}
