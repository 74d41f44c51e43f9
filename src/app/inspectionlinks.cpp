#include "app/inspectionlinks.h"

#include "app/checkcycle.h"
#include "app/programcore.h"
#include "settings/prompts.h"

QString noSelectionText(bool listHasRows)
{
    return listHasRows ? QStringLiteral("No messages were selected.  To select one message click on a subject.  "
                                        "To select multiple messages drag the mouse over the list of desired "
                                        "subjects.")
                       : QStringLiteral("Either there are no e-mail messages waiting on the mail server or you "
                                        "have not yet clicked on the \"Check E-Mail\" button.");
}

void InspectionLinks::stopAlarm() const
{
    if (cycle.hooks().stopAlarm)
        cycle.hooks().stopAlarm();
}

std::optional<QList<int>> InspectionLinks::selectionOrNotice() const
{
    QList<int> rows = selectedRows ? selectedRows() : QList<int>();
    if (rows.isEmpty()) {
        prompts.information(noSelectionText(core.list.count() > 0));
        return std::nullopt;
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::optional<int> InspectionLinks::oneSelectedRow() const
{
    const std::optional<QList<int>> rows = selectionOrNotice();
    if (!rows)
        return std::nullopt;
    if (rows->size() > 1)
        prompts.information(MoreThanOneText);
    return rows->first();
}

void InspectionLinks::showViewer(TfrmViewHeader::Mode mode, const QStringList &lines) const
{
    TfrmViewHeader viewer(mode, window);
    viewer.setLines(lines);
    if (runViewer)
        runViewer(viewer);
    else
        viewer.exec();
}

CommandPause::CommandPause(const InspectionLinks &links) : m_links(links)
{
    links.stopAlarm();
    if (links.cycle.hooks().setTimerEnabled)
        links.cycle.hooks().setTimerEnabled(false);
}

CommandPause::~CommandPause()
{
    const CheckHooks &hooks = m_links.cycle.hooks();
    if (!m_keepOff && m_links.core.settings.automatic && !m_links.cycle.isBusy() && hooks.setTimerEnabled)
        hooks.setTimerEnabled(true);
}
