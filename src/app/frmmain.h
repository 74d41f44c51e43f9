#pragma once
// The main window: header strip with title, tagline and command buttons,
// the message list, and a two-panel status bar. It shows what the check
// cycle decides (CheckView) and hands its commands to it; the commands of
// deletion, inspection, the tray and the settings windows connect to the
// buttons and actions exposed here.

#include "app/checkcycle.h"

#include <QIcon>
#include <QMainWindow>

#include <optional>

class ProgramCore;
class Prompts;
class QAction;
class QLabel;
class QStackedWidget;
class QToolButton;
class QTreeView;
class TextLine;
class TfrmRetrieving;
class WindowPlacement;

// The tray icon's part in a check; the tray owner implements it.
class TrayControl
{
public:
    virtual ~TrayControl() = default;
    virtual void setMenuEnabled(bool enabled) = 0;
    virtual void showCanceledIcon() = 0;
    virtual void hideToTray() = 0;
};

class TfrmMain : public QMainWindow, public CheckView
{
    Q_OBJECT
public:
    static inline const QString kHint = QStringLiteral("Right click for more options, double click to mark");
    static inline const QString kTagline =
        QStringLiteral("Quickly eliminate junk e-mail before it gets to your mailbox");

    static inline const QString kAbout =
        QStringLiteral("Mailsieve 1.0\n\n"
                       "A spam filter that works on the mail server: it reads the size and the header "
                       "lines of every waiting message, marks the spam with your rules and deletes it "
                       "before your mail program downloads anything.\n\n"
                       "Built with Qt %1.")
            .arg(QLatin1String(QT_VERSION_STR));

    TfrmMain(ProgramCore &core, Prompts &prompts, QWidget *parent = nullptr);
    ~TfrmMain() override;

    CheckCycle &cycle() { return *m_cycle; }
    void setTray(TrayControl *tray) { m_tray = tray; }
    // Closes the log file before the program ends (the log owner sets it).
    std::function<void()> closeLogFile;

    // The start-up step of the main window: puts the window where it was
    // at the end of the last run (at the first run in the middle of the
    // screen), removes downloaded messages left by an earlier run, loads
    // the default mailbox into the client and shows the window unless the
    // program starts in the tray.
    void FormCreate(const StartupSettings &startup);

    // Commands.
    void btListClick();
    void btExitClick(bool fromTrayMenu = false);

    // Controls other commands attach to.
    QToolButton *btList() const { return m_btList; }
    QToolButton *btOptions() const { return m_btOptions; }
    QToolButton *btExit() const { return m_btExit; }
    QToolButton *btMark() const { return m_btMark; }
    QToolButton *btDelete() const { return m_btDelete; }
    QToolButton *btRemark() const { return m_btRemark; }
    QToolButton *btResetAll() const { return m_btResetAll; }
    QToolButton *btLaunch() const { return m_btLaunch; }
    QAction *btGeneral() const { return m_btGeneral; }
    QAction *btSpamSetup() const { return m_btSpamSetup; }
    QAction *btAbout() const { return m_btAbout; }
    QAction *btHelp() const { return m_btHelp; }
    QAction *Exit1() const { return m_exit1; }
    QLabel *lblTitle() const { return m_lblTitle; }
    QLabel *lblAd() const { return m_lblAd; }
    QTreeView *ListView1() const { return m_listView; }
    TfrmRetrieving *frmRetrieving() const { return m_frmRetrieving; }
    QString statusPanel(int panel) const;

    // CheckView
    void setStatusText(const QString &text) override;
    bool isMainWindowVisible() const override;
    void showProgress(const QString &userName, const QString &server) override;
    void setProgressMessage(const QString &text) override;
    void hideProgress() override;
    void disableAllButtons() override;
    void enableAllButtons() override;
    void setExitLook(const QString &caption, bool busy) override;
    void updateListPicture() override;
    void setTrayMenuEnabled(bool enabled) override;
    void showCanceledTrayIcon() override;
    void showError(const QString &text) override;
    void closeMainWindow() override;
    void hideToTray() override;

    // The first start's size: the whole header strip and about 25 rows of
    // the list, within the screen. Later starts take the size and place
    // the window had when the program last ended.
    QSize startSize() const;

protected:
    void showEvent(QShowEvent *event) override;
    // FormCloseQuery: a running operation is cancelled, an idle connection
    // ended with QUIT; closing is always allowed.
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *createHeaderStrip();
    QToolButton *commandButton(const QString &caption, const QIcon &icon);
    void setListButtonsShown(bool shown);

    ProgramCore &m_core;
    Prompts &m_prompts;
    std::unique_ptr<CheckCycle> m_cycle;
    TrayControl *m_tray = nullptr;

    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblAd = nullptr;
    QToolButton *m_btList = nullptr;
    QToolButton *m_btOptions = nullptr;
    QToolButton *m_btExit = nullptr;
    QToolButton *m_btMark = nullptr;
    QToolButton *m_btDelete = nullptr;
    QToolButton *m_btRemark = nullptr;
    QToolButton *m_btResetAll = nullptr;
    QToolButton *m_btLaunch = nullptr;
    QAction *m_btGeneral = nullptr;
    QAction *m_btSpamSetup = nullptr;
    QAction *m_btAbout = nullptr;
    QAction *m_btHelp = nullptr;
    QAction *m_exit1 = nullptr;
    QTreeView *m_listView = nullptr;
    QStackedWidget *m_listButtonsOrTagline = nullptr;
    std::unique_ptr<WindowPlacement> m_placement;
    bool m_shownOnce = false;
    // "Check e-mail"'s pictures without and with rows, made once; the
    // button's picture is set only when the choice changes, not for every
    // row a check adds.
    QIcon m_listPictures[2];
    std::optional<bool> m_listPictureHasRows;
    QLabel *m_panel0 = nullptr;
    TextLine *m_panel1 = nullptr;
    TfrmRetrieving *m_frmRetrieving = nullptr;
};
