#pragma once
// The tray icon and its menu popTray. The icon is there only when the
// program starts in the tray and the desktop has a tray; without one the
// menu and every state change still exist, hiding to the tray minimizes
// the main window instead, and nothing fails.

#include "app/automaticcheck.h"
#include "app/frmmain.h"

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

class TrayIcon : public QObject, public TrayControl, public AutomaticView
{
    Q_OBJECT
public:
    static constexpr int frameMs = 1000;

    // wanted: the program starts in the tray ("SysTray").
    TrayIcon(TfrmMain &main, bool wanted);
    ~TrayIcon() override;

    bool isPresent() const { return m_icon != nullptr; }
    QString hint() const { return m_hint; }
    bool isAnimated() const { return m_animation.isActive(); }
    QMenu *popTray() const { return m_menu.get(); }
    // Opening the menu (popTrayPopup).
    std::function<void()> onPopup;

    // popTray's items, in menu order; the commands attach to them.
    QAction *Show1 = nullptr; // "Check e-mail for spam"
    QAction *LaunchEmailprogram1 = nullptr; // "Launch e-mail program"
    QAction *ShowMainScreen1 = nullptr; // "Main screen"
    QAction *Spam1 = nullptr; // "Settings" > "Spam"
    QAction *General1 = nullptr; // "Settings" > "General"
    QAction *Viewlogfile1 = nullptr; // "Settings" > "View log file"
    QAction *EnableAutomatic1 = nullptr; // "Enable automatic check"
    QAction *DisableAutomatic1 = nullptr; // "Disable automatic check"
    QAction *Help1 = nullptr; // "Help/Info" > "Help"
    QAction *About1 = nullptr; // "Help/Info" > "About"
    // "Exit" is the main window's Exit1.

    // TrayControl
    void setMenuEnabled(bool enabled) override;
    void showCanceledIcon() override;
    void hideToTray() override;

    // AutomaticView
    void showCaption(const QString &text) override;
    void setAutomaticChecked(bool automatic) override;
    void setTrayAnimated(bool animated) override;
    void showMainWindow() override;
    void showError(const QString &text) override;

    // A notice in a balloon from the icon, where the desktop shows them;
    // false when there is no icon to show it from.
    bool showBalloon(const QString &title, const QString &text);

    // The still picture and the two animation frames.
    static QIcon programIcon();
    static QIcon animationFrame(int frame);

protected:
    // Minimizing with an icon in the tray hides the windows there.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenu();
    void nextFrame();

    TfrmMain &m_main;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_icon = nullptr;
    QTimer m_animation;
    int m_frame = 0;
    QString m_hint = QStringLiteral("Mailsieve");
};
