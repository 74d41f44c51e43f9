#pragma once
// What the commands on the message list share: the run-long objects, the
// check cycle (its hooks, totals and busy state), the window's look, the
// prompts and the list's selection; and the steps they all take: the
// no-selection notice, the pause of the automatic timer, the viewer.

#include "app/frmviewheader.h"

#include <QList>
#include <functional>
#include <optional>

class CheckCycle;
class CheckView;
class ProgramCore;
class Prompts;
class QWidget;

struct InspectionLinks
{
    ProgramCore &core;
    CheckCycle &cycle;
    CheckView &view;
    Prompts &prompts;
    // The selected rows, lowest index first.
    std::function<QList<int>()> selectedRows;
    // Parent of the viewer and dialogs; may be null.
    QWidget *window = nullptr;
    // Shows a viewer modally (exec() when empty); tests read it instead.
    std::function<void(TfrmViewHeader &)> runViewer;

    void stopAlarm() const;
    // The rows, or nothing after the no-selection notice.
    std::optional<QList<int>> selectionOrNotice() const;
    // The first selected row; with several selected, after the notice that
    // only that one is shown. Nothing after the no-selection notice.
    std::optional<int> oneSelectedRow() const;
    void showViewer(TfrmViewHeader::Mode mode, const QStringList &lines) const;
};

// NadaSelected: why a command that needs a selection did nothing.
QString noSelectionText(bool listHasRows);
inline const QString MoreThanOneText =
    QStringLiteral("You have selected more than one message to view.  Only one message can be viewed at one "
                   "time.  The first one selected will be displayed.");

// The commands that open a window or talk to the server stop the alarm and
// the automatic timer for their run; the timer comes back in automatic mode
// unless a running check or delete pass will restore it itself, or the
// command failed and the window waits for Cancel. (While a check, a delete
// pass or a download holds the server, the timer refuses to start anyway.)
class CommandPause
{
public:
    explicit CommandPause(const InspectionLinks &links);
    ~CommandPause();
    CommandPause(const CommandPause &) = delete;
    CommandPause &operator=(const CommandPause &) = delete;

    void keepTimerOff() { m_keepOff = true; }

private:
    const InspectionLinks &m_links;
    bool m_keepOff = false;
};
