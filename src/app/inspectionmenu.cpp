#include "app/inspectionmenu.h"

#include "app/frmmain.h"
#include "app/programcore.h"
#include "settings/prompts.h"

#include <QAction>
#include <QEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QToolButton>
#include <QTreeView>

InspectionCommands::InspectionCommands(TfrmMain &window, ProgramCore &core, Prompts &prompts, HelpOpener &helpOpener)
    : QObject(&window),
      m_window(window), m_links{core, window.cycle(), window, prompts, [this] { return selectedRows(); }, &window, {}}, m_inspection(m_links),
      m_marks(m_links), m_explain(m_links), m_quickAdd(m_links, m_marks), m_help(core.folder, helpOpener, prompts)
{
    createPopupMenu();
    QTreeView *list = window.ListView1();
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint &at) { m_popup->popup(list->viewport()->mapToGlobal(at)); });
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { m_marks.btMarkClick(); });
    connect(list, &QAbstractItemView::clicked, this, [this] { m_links.stopAlarm(); });
    list->installEventFilter(this);
    window.installEventFilter(this);

    connect(window.btMark(), &QToolButton::clicked, this, [this] { m_marks.btMarkClick(); });
    connect(window.btResetAll(), &QToolButton::clicked, this, [this] { m_marks.ResetButtonClick(); });
    connect(window.btRemark(), &QToolButton::clicked, this, [this] { m_marks.btRemarkClick(); });
    connect(window.btHelp(), &QAction::triggered, this, &InspectionCommands::btHelpClick);
    connect(window.btAbout(), &QAction::triggered, this, &InspectionCommands::btAboutClick);
}

InspectionCommands::~InspectionCommands()
{
    m_window.ListView1()->removeEventFilter(this);
    m_window.removeEventFilter(this);
}

void InspectionCommands::createPopupMenu()
{
    m_popup = new QMenu(&m_window);
    m_popup->setObjectName(QStringLiteral("PopupMenu1"));
    m_why1 = m_popup->addAction(QStringLiteral("Why was this e-mail marked?"));
    m_popup->addSeparator();
    m_addtoExceptions1 = m_popup->addAction(QStringLiteral("Add selected sender(s) to exceptions list"));
    m_addtoSpamList1 = m_popup->addAction(QStringLiteral("Add selected message(s) to spam list"));
    m_popup->addSeparator();
    m_viewHeader1 = m_popup->addAction(QStringLiteral("View selected message(s) headers"));
    m_viewMessages1 = m_popup->addAction(QStringLiteral("View body of one message"));

    connect(m_why1, &QAction::triggered, this, [this] { m_explain.Why1Click(); });
    connect(m_addtoExceptions1, &QAction::triggered, this, [this] { m_quickAdd.AddtoExceptions1Click(); });
    connect(m_addtoSpamList1, &QAction::triggered, this, [this] { m_quickAdd.AddtoSPAMlist1Click(); });
    connect(m_viewHeader1, &QAction::triggered, this, [this] { m_inspection.ViewHeader1Click(); });
    connect(m_viewMessages1, &QAction::triggered, this, [this] { m_inspection.ViewMessages1Click(); });
}

void InspectionCommands::btHelpClick()
{
    CommandPause pause(m_links);
    m_help.show();
}

void InspectionCommands::btAboutClick()
{
    CommandPause pause(m_links);
    m_links.prompts.information(TfrmMain::kAbout);
}

QList<int> InspectionCommands::selectedRows() const
{
    QList<int> rows;
    const QModelIndexList selected = m_window.ListView1()->selectionModel()->selectedRows();
    for (const QModelIndex &index : selected)
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool InspectionCommands::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.ListView1() && event->type() == QEvent::KeyRelease)
        m_links.stopAlarm();
    // Leaving during a download: the window would end an idle connection
    // with QUIT, which must not cut into the running RETR; the download is
    // cancelled instead and drops its connection.
    if (watched == &m_window && event->type() == QEvent::Close && m_inspection.isDownloading())
        m_window.cycle().cancel(false);
    return QObject::eventFilter(watched, event);
}
