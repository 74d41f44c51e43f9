#include "app/frmmain.h"

#include "app/commandbutton.h"
#include "app/commandpictures.h"
#include "app/frmretrieving.h"
#include "app/programcore.h"
#include "app/programfolder.h"
#include "app/textline.h"
#include "app/windowplacement.h"
#include "mail/mailerrors.h"
#include "settings/frmwhichmailbox.h"
#include "settings/prompts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QIcon standardIcon(QStyle::StandardPixmap which)
{
    return QApplication::style()->standardIcon(which);
}

// The list shows about this many rows at the first start.
constexpr int kStartRows = 25;

} // namespace

TfrmMain::TfrmMain(ProgramCore &core, Prompts &prompts, QWidget *parent)
    : QMainWindow(parent), m_core(core), m_prompts(prompts), m_placement(std::make_unique<WindowPlacement>(core.folder))
{
    setWindowTitle(QStringLiteral("Mailsieve"));

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createHeaderStrip());

    m_listView = new QTreeView(central);
    m_listView->setObjectName(QStringLiteral("ListView1"));
    m_listView->setModel(&core.list);
    m_listView->setRootIsDecorated(false);
    m_listView->setItemsExpandable(false);
    m_listView->setUniformRowHeights(true);
    m_listView->setSortingEnabled(false);
    m_listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_listView->header()->setSectionsMovable(false);
    m_listView->header()->setSectionsClickable(false);
    for (int column = 0; column < MessageListModel::ColumnCount; ++column)
        m_listView->setColumnWidth(column, MessageListModel::columnWidth(column));
    layout->addWidget(m_listView, 1);
    setCentralWidget(central);

    m_panel0 = new QLabel(kHint, this);
    m_panel1 = new TextLine(QStringLiteral("Mailsieve - spam stays on the server"), this);
    m_panel1->setAccessibleName(QStringLiteral("Status"));
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->addWidget(m_panel0);
    statusBar()->addWidget(m_panel1, 1);

    m_frmRetrieving = new TfrmRetrieving(this);
    connect(m_frmRetrieving, &TfrmRetrieving::cancelClicked, this, [this] { m_cycle->cancel(false); });

    m_exit1 = new QAction(QStringLiteral("Exit"), this);
    connect(m_exit1, &QAction::triggered, this, [this] { btExitClick(true); });

    CheckHooks hooks = core.checkHooks();
    hooks.openGeneralSettings = [this] { m_btGeneral->trigger(); };
    hooks.saveRules = [this] {
        const QStringList errors = m_core.saveRules();
        if (!errors.isEmpty())
            m_prompts.error(errors.join(QLatin1Char('\n')));
    };
    hooks.chooseMailbox = [this](int current) {
        const std::optional<int> chosen = TfrmWhichMailbox::choose(m_core.settings.mailboxes, current, this);
        // The General settings window shows it as the default mailbox until
        // it is next opened; nothing is stored.
        if (chosen)
            m_core.settings.defaultMailbox = *chosen;
        return chosen;
    };
    hooks.trustCertificate = [this](int n, const TlsFailure &failure) {
        if (!m_prompts.askYesNo(failure.text()
                                + QStringLiteral("\n\nTrust this certificate for mailbox %1? It is checked "
                                                 "again on every connection; a different one asks again.")
                                      .arg(n)))
            return false;
        if (!m_core.settings.trustCertificate(m_core.store, n, failure.fingerprint))
            m_prompts.error(QStringLiteral("The trusted certificate could not be stored: ")
                            + m_core.store.errorString());
        return true;
    };
    hooks.offerSignIn = [this](int n, const QString &message) {
        if (!m_prompts.askYesNo(message
                                + QStringLiteral("\n\nSign in now? Your browser opens the provider's "
                                                 "sign-in page.")))
            return;
        const SignInResult result = m_core.signIn(GetRemotePOPSettings(m_core.store, n));
        if (result.ok)
            m_prompts.information(QStringLiteral("Signed in to mailbox %1. Check it again.").arg(n));
        else
            m_prompts.error(result.error);
    };
    m_cycle = std::make_unique<CheckCycle>(core.clients, core.list, core.settings, *this, hooks);

    connect(m_btList, &QToolButton::clicked, this, &TfrmMain::btListClick);
    connect(m_btExit, &QToolButton::clicked, this, [this] { btExitClick(false); });
    connect(&core.list, &QAbstractItemModel::modelReset, this, &TfrmMain::updateListPicture);
    connect(&core.list, &QAbstractItemModel::rowsInserted, this, &TfrmMain::updateListPicture);

    setExitLook(QStringLiteral("Goodbye"), false);
    disableAllButtons();
    enableAllButtons();
    updateListPicture();
    resize(startSize());
}

TfrmMain::~TfrmMain()
{
    // A window never shown (a start in the tray) has no place of the user's.
    if (m_shownOnce)
        m_placement->save(*this);
}

QWidget *TfrmMain::createHeaderStrip()
{
    // Set off from the list's frame by the palette's base colour, with its
    // text colour for the labels: readable under light and dark themes.
    auto *strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("headerStrip"));
    strip->setAutoFillBackground(true);
    strip->setBackgroundRole(QPalette::Base);

    m_lblTitle = new QLabel(QStringLiteral("Mailsieve"), strip);
    m_lblTitle->setForegroundRole(QPalette::Text);
    QFont titleFont = m_lblTitle->font();
    titleFont.setPointSize(titleFont.pointSize() * 2);
    titleFont.setBold(true);
    m_lblTitle->setFont(titleFont);

    // The thin rule under the title; the layout keeps it as wide as the window.
    auto *rule = new QFrame(strip);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    m_lblAd = new QLabel(kTagline, strip);
    m_lblAd->setForegroundRole(QPalette::Text);
    QFont adFont = m_lblAd->font();
    adFont.setItalic(true);
    m_lblAd->setFont(adFont);

    m_listPictures[false] = standardIcon(QStyle::SP_ArrowDown);
    m_listPictures[true] = standardIcon(QStyle::SP_ArrowUp);
    m_btList = commandButton(QStringLiteral("Check e-mail"), m_listPictures[false]);
    m_btMark = commandButton(QStringLiteral("Mark messages"), standardIcon(QStyle::SP_DialogApplyButton));
    m_btDelete = commandButton(QStringLiteral("Delete marked messages"), standardIcon(QStyle::SP_TrashIcon));
    m_btRemark = commandButton(QStringLiteral("Auto-mark messages"), standardIcon(QStyle::SP_BrowserReload));
    m_btResetAll = commandButton(QStringLiteral("Reset all marks"), standardIcon(QStyle::SP_DialogResetButton));
    m_btLaunch = commandButton(QStringLiteral("Launch e-mail program"), launchPicture());
    m_btOptions = commandButton(QStringLiteral("Settings and more"), standardIcon(QStyle::SP_FileDialogDetailedView));
    m_btExit = commandButton(QStringLiteral("Goodbye"), leavePicture());

    auto *options = new QMenu(m_btOptions);
    m_btGeneral = options->addAction(QStringLiteral("General settings"));
    m_btSpamSetup = options->addAction(QStringLiteral("Spam settings"));
    m_btAbout = options->addAction(QStringLiteral("About"));
    m_btHelp = options->addAction(QStringLiteral("Help"));
    m_btOptions->setMenu(options);
    m_btOptions->setPopupMode(QToolButton::InstantPopup);

    // The five list buttons and the tagline take turns in one place that is
    // always as wide as the wider of the two, so the window keeps its size
    // when a check brings the buttons up.
    auto *listButtons = new QWidget(strip);
    auto *listButtonsLayout = new QHBoxLayout(listButtons);
    listButtonsLayout->setContentsMargins(0, 0, 0, 0);
    for (QToolButton *button : {m_btMark, m_btDelete, m_btRemark, m_btResetAll, m_btLaunch})
        listButtonsLayout->addWidget(button);
    listButtonsLayout->addStretch();
    m_listButtonsOrTagline = new QStackedWidget(strip);
    m_listButtonsOrTagline->addWidget(m_lblAd);
    m_listButtonsOrTagline->addWidget(listButtons);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_btList);
    buttons->addWidget(m_listButtonsOrTagline, 1);
    buttons->addWidget(m_btOptions);
    buttons->addWidget(m_btExit);

    auto *layout = new QVBoxLayout(strip);
    layout->addWidget(m_lblTitle);
    layout->addWidget(rule);
    layout->addLayout(buttons);
    return strip;
}

QToolButton *TfrmMain::commandButton(const QString &caption, const QIcon &icon)
{
    auto *button = new CommandButton(this);
    button->setText(caption);
    button->setIcon(icon);
    button->setIconSize(QSize(32, 32));
    return button;
}

QSize TfrmMain::startSize() const
{
    // A row as the style sizes one with a line of text and a mark picture.
    QStyleOptionViewItem row;
    row.initFrom(m_listView);
    row.features = QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    row.text = windowTitle();
    row.decorationSize = QSize(16, 16);
    const int rowHeight = style()->sizeFromContents(QStyle::CT_ItemViewItem, &row, QSize(), m_listView).height();
    const int extraHeight = sizeHint().height() - m_listView->sizeHint().height();
    const int listHeight =
        m_listView->header()->sizeHint().height() + kStartRows * rowHeight + 2 * m_listView->frameWidth();
    int columnsWidth = 2 * m_listView->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int column = 0; column < MessageListModel::ColumnCount; ++column)
        columnsWidth += MessageListModel::columnWidth(column);
    QSize size(columnsWidth, extraHeight + listHeight);
    if (const QScreen *place = screen())
        size = size.boundedTo(place->availableSize());
    return size.expandedTo(layout()->minimumSize());
}

void TfrmMain::FormCreate(const StartupSettings &startup)
{
    // The place of the last run, else the middle of the screen.
    if (!m_placement->restore(*this) && screen())
        move(screen()->availableGeometry().center() - rect().center());
    m_cycle->startInTray = startup.startInTray;
    m_cycle->currentMailbox =
        startup.defaultMailbox >= 1 && startup.defaultMailbox <= kMailboxCount ? startup.defaultMailbox : 1;
    m_cycle->checking = false;
    m_cycle->loadMailbox(m_cycle->currentMailbox);
    removeDownloadedMessages(m_core.folder);
    m_cycle->setBusyLook(false);
    if (!startup.startInTray)
        show();
}

void TfrmMain::btListClick()
{
    m_cycle->btListClick();
}

void TfrmMain::btExitClick(bool fromTrayMenu)
{
    if (m_cycle->hooks().stopAlarm)
        m_cycle->hooks().stopAlarm();
    if (m_cycle->isBusy()) {
        m_cycle->cancel(true);
        return;
    }
    if (closeLogFile)
        closeLogFile();
    if (fromTrayMenu)
        QApplication::quit();
    else if (m_cycle->startInTray)
        hideToTray();
    else
        close();
}

QString TfrmMain::statusPanel(int panel) const
{
    return panel == 0 ? m_panel0->text() : m_panel1->text();
}

void TfrmMain::setStatusText(const QString &text)
{
    m_panel1->setText(text);
}

bool TfrmMain::isMainWindowVisible() const
{
    return isVisible();
}

void TfrmMain::showProgress(const QString &userName, const QString &server)
{
    m_frmRetrieving->showFor(userName, server);
}

void TfrmMain::setProgressMessage(const QString &text)
{
    m_frmRetrieving->setMessage(text);
}

void TfrmMain::hideProgress()
{
    m_frmRetrieving->hide();
}

void TfrmMain::setListButtonsShown(bool shown)
{
    m_listButtonsOrTagline->setCurrentIndex(shown ? 1 : 0);
}

void TfrmMain::disableAllButtons()
{
    m_btList->setEnabled(false);
    m_btOptions->setEnabled(false);
    setListButtonsShown(false);
}

void TfrmMain::enableAllButtons()
{
    m_btList->setEnabled(true);
    m_btOptions->setEnabled(true);
    if (m_core.list.count() > 0)
        setListButtonsShown(true);
}

void TfrmMain::setExitLook(const QString &caption, bool busy)
{
    m_btExit->setText(caption);
    m_btExit->setIcon(busy ? standardIcon(QStyle::SP_BrowserStop) : leavePicture());
    m_exit1->setText(busy ? caption : QStringLiteral("Exit"));
}

void TfrmMain::updateListPicture()
{
    const bool hasRows = m_core.list.count() > 0;
    if (m_listPictureHasRows == hasRows)
        return;
    m_listPictureHasRows = hasRows;
    m_btList->setIcon(m_listPictures[hasRows]);
}

void TfrmMain::setTrayMenuEnabled(bool enabled)
{
    if (m_tray)
        m_tray->setMenuEnabled(enabled);
}

void TfrmMain::showCanceledTrayIcon()
{
    if (m_tray)
        m_tray->showCanceledIcon();
}

void TfrmMain::showError(const QString &text)
{
    m_prompts.error(text);
}

void TfrmMain::closeMainWindow()
{
    close();
}

void TfrmMain::hideToTray()
{
    if (m_tray)
        m_tray->hideToTray();
    else
        hide();
}

void TfrmMain::showEvent(QShowEvent *event)
{
    m_shownOnce = true;
    QMainWindow::showEvent(event);
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // Sending QUIT from inside a running operation's wait would talk over
    // it; that operation is cancelled instead and drops its connection.
    if (m_cycle->isBusy()) {
        m_cycle->cancel(true);
    } else if (m_core.client().Connected()) {
        try {
            m_core.client().Disconnect();
        } catch (const EMailsieveError &) {
            // The connection is gone either way; leaving must not fail.
        }
    }
    m_frmRetrieving->hide();
    event->accept();
}
