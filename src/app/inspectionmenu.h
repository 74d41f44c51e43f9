#pragma once
// The inspection, marking, explanation, quick-add, help and about commands
// put on the main window: the list's popup menu PopupMenu1, the "Mark
// messages", "Reset all marks", "Auto-mark messages", "Help" and "About"
// buttons, a double click on a row, and a click or key in the list
// silencing the alarm.

#include "app/explain.h"
#include "app/help.h"
#include "app/inspection.h"
#include "app/inspectionlinks.h"
#include "app/manualmarks.h"
#include "app/quickaddcommands.h"

#include <QObject>

class QAction;
class QMenu;
class TfrmMain;

class InspectionCommands : public QObject
{
    Q_OBJECT
public:
    InspectionCommands(TfrmMain &window, ProgramCore &core, Prompts &prompts, HelpOpener &helpOpener);
    ~InspectionCommands() override;

    InspectionLinks &links() { return m_links; }
    MessageInspection &inspection() { return m_inspection; }
    ManualMarks &marks() { return m_marks; }
    ExplainCommand &explain() { return m_explain; }
    QuickAddCommands &quickAdd() { return m_quickAdd; }
    HelpCommand &help() { return m_help; }

    // "Help" of the main window and of the tray: the help page's top.
    void btHelpClick();
    // "About" of the main window and of the tray: what the program is.
    void btAboutClick();
    // The settings windows' Help buttons: their topic.
    void showHelp(int topic) { m_help.show(topic); }

    QMenu *PopupMenu1() const { return m_popup; }
    QAction *Why1() const { return m_why1; }
    QAction *AddtoExceptions1() const { return m_addtoExceptions1; }
    QAction *AddtoSPAMlist1() const { return m_addtoSpamList1; }
    QAction *ViewHeader1() const { return m_viewHeader1; }
    QAction *ViewMessages1() const { return m_viewMessages1; }

protected:
    // ListView1KeyUp, and the main window closing during a download.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<int> selectedRows() const;
    void createPopupMenu();

    TfrmMain &m_window;
    InspectionLinks m_links;
    MessageInspection m_inspection;
    ManualMarks m_marks;
    ExplainCommand m_explain;
    QuickAddCommands m_quickAdd;
    HelpCommand m_help;

    QMenu *m_popup = nullptr;
    QAction *m_why1 = nullptr;
    QAction *m_addtoExceptions1 = nullptr;
    QAction *m_addtoSpamList1 = nullptr;
    QAction *m_viewHeader1 = nullptr;
    QAction *m_viewMessages1 = nullptr;
};
