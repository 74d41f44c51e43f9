#include "app/tray.h"

#include "app/appicon.h"
#include "app/desktopnotifier.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QSystemTrayIcon>

namespace {

// An envelope; the second animation frame lifts its flap, so the icon
// seems to breathe while automatic mode waits for mail.
QPixmap envelope(const QColor &paper, bool flapOpen)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(30, 60, 120), 2));
    painter.setBrush(paper);
    const QRectF body(3, 9, 26, 18);
    painter.drawRect(body);
    const QPointF tip = flapOpen ? QPointF(16, 2) : QPointF(16, 19);
    painter.drawPolyline(QPolygonF{body.topLeft(), tip, body.topRight()});
    return pixmap;
}

} // namespace

TrayIcon::TrayIcon(TfrmMain &main, bool wanted) : m_main(main), m_menu(std::make_unique<QMenu>())
{
    buildMenu();
    m_animation.setInterval(frameMs);
    connect(&m_animation, &QTimer::timeout, this, &TrayIcon::nextFrame);
    if (wanted && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_icon = new QSystemTrayIcon(programIcon(), this);
        m_icon->setToolTip(m_hint);
        m_icon->setContextMenu(m_menu.get());
        m_icon->show();
        m_main.installEventFilter(this);
    }
    m_main.setTray(this);
}

TrayIcon::~TrayIcon()
{
    m_main.setTray(nullptr);
    m_main.removeEventFilter(this);
}

void TrayIcon::buildMenu()
{
    m_menu->setObjectName(QStringLiteral("popTray"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        if (onPopup)
            onPopup();
    });
    Show1 = m_menu->addAction(QStringLiteral("Check e-mail for spam"));
    LaunchEmailprogram1 = m_menu->addAction(QStringLiteral("Launch e-mail program"));
    m_menu->addSeparator();
    ShowMainScreen1 = m_menu->addAction(QStringLiteral("Main screen"));
    QMenu *settings = m_menu->addMenu(QStringLiteral("Settings"));
    Spam1 = settings->addAction(QStringLiteral("Spam"));
    General1 = settings->addAction(QStringLiteral("General"));
    Viewlogfile1 = settings->addAction(QStringLiteral("View log file"));
    m_menu->addSeparator();
    auto *mode = new QActionGroup(m_menu.get());
    EnableAutomatic1 = mode->addAction(QStringLiteral("Enable automatic check"));
    DisableAutomatic1 = mode->addAction(QStringLiteral("Disable automatic check"));
    EnableAutomatic1->setCheckable(true);
    DisableAutomatic1->setCheckable(true);
    DisableAutomatic1->setChecked(true);
    m_menu->addActions(mode->actions());
    m_menu->addSeparator();
    QMenu *help = m_menu->addMenu(QStringLiteral("Help/Info"));
    Help1 = help->addAction(QStringLiteral("Help"));
    About1 = help->addAction(QStringLiteral("About"));
    m_menu->addSeparator();
    m_menu->addAction(m_main.Exit1());

    connect(ShowMainScreen1, &QAction::triggered, this, &TrayIcon::showMainWindow);
}

QIcon TrayIcon::programIcon()
{
    // The program's own icon when it is installed or shipped beside it.
    const QIcon icon = applicationIcon();
    return icon.isNull() ? QIcon(envelope(Qt::white, false)) : icon;
}

QIcon TrayIcon::animationFrame(int frame)
{
    return QIcon(envelope(QColor(255, 236, 150), frame % 2 == 1));
}

void TrayIcon::nextFrame()
{
    m_frame = (m_frame + 1) % 2;
    if (m_icon)
        m_icon->setIcon(animationFrame(m_frame));
}

void TrayIcon::setMenuEnabled(bool enabled)
{
    m_menu->setEnabled(enabled);
}

void TrayIcon::showCanceledIcon()
{
    m_animation.stop();
    if (m_icon)
        m_icon->setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

void TrayIcon::hideToTray()
{
    if (!m_icon) {
        // Nowhere to hide: a hidden window could not be brought back.
        m_main.showMinimized();
        return;
    }
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window != m_menu.get())
            window->hide();
    }
}

void TrayIcon::showMainWindow()
{
    m_main.show();
    m_main.setWindowState(m_main.windowState() & ~Qt::WindowMinimized);
    m_main.raise();
    m_main.activateWindow();
}

bool TrayIcon::showBalloon(const QString &title, const QString &text)
{
    if (!m_icon || !QSystemTrayIcon::supportsMessages())
        return false;
    m_icon->showMessage(title, text, programIcon(), DesktopNotifier::TimeoutMs);
    return true;
}

void TrayIcon::showCaption(const QString &text)
{
    m_main.setWindowTitle(text);
    m_main.lblTitle()->setText(text);
    m_hint = text;
    if (m_icon)
        m_icon->setToolTip(text);
}

void TrayIcon::setAutomaticChecked(bool automatic)
{
    (automatic ? EnableAutomatic1 : DisableAutomatic1)->setChecked(true);
}

void TrayIcon::setTrayAnimated(bool animated)
{
    if (animated) {
        if (!m_animation.isActive())
            m_animation.start();
        return;
    }
    m_animation.stop();
    m_frame = 0;
    if (m_icon)
        m_icon->setIcon(programIcon());
}

void TrayIcon::showError(const QString &text)
{
    m_main.showError(text);
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_main && event->type() == QEvent::WindowStateChange && m_main.isMinimized())
        QTimer::singleShot(0, this, &TrayIcon::hideToTray);
    return QObject::eventFilter(watched, event);
}
