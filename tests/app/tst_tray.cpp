// The desktop side of automatic mode offscreen, where there is no tray: the
// tray menu, the captions of the main window, the alarm stopped by the
// list and the menu, the delete button, and a start "in the tray" that
// must still show the window.

#include "app/desktoprig.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

using namespace appfixture;
using namespace desktoprig;

namespace {

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator())
            texts << QStringLiteral("-");
        else if (action->menu())
            texts << action->text() + QStringLiteral(" [") + menuTexts(action->menu()).join(QStringLiteral(", "))
                         + QStringLiteral("]");
        else
            texts << action->text();
    }
    return texts;
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void trayMenuHasEveryItem();
    void startInTrayWithoutATrayShowsTheWindow();
    void captionsCountDownInTheWindow();
    void listClickKeyAndTrayMenuStopTheAlarm();
    void trayItemsSwitchTheMode();
    void deleteButtonDeletesTheMarkedMessages();
};

void TestTray::trayMenuHasEveryItem()
{
    DesktopRig rig;
    rig.start();
    QCOMPARE(menuTexts(rig.desktop->tray.popTray()),
             (QStringList{QStringLiteral("Check e-mail for spam"), QStringLiteral("Launch e-mail program"),
                          QStringLiteral("-"), QStringLiteral("Main screen"),
                          QStringLiteral("Settings [Spam, General, View log file]"), QStringLiteral("-"),
                          QStringLiteral("Enable automatic check"), QStringLiteral("Disable automatic check"),
                          QStringLiteral("-"), QStringLiteral("Help/Info [Help, About]"), QStringLiteral("-"),
                          QStringLiteral("Exit")}));
    QVERIFY(rig.desktop->tray.DisableAutomatic1->isChecked());
    QVERIFY(!rig.desktop->tray.EnableAutomatic1->isChecked());
}

void TestTray::startInTrayWithoutATrayShowsTheWindow()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a tray");
    DesktopRig rig;
    rig.start([](GeneralSettings &s) { s.startInTray = true; });
    QVERIFY(!rig.desktop->tray.isPresent());
    QVERIFY(rig.main->isVisible());
    // Hiding to a missing tray minimizes, so the window can come back.
    rig.main->hideToTray();
    QVERIFY(rig.main->isVisible());
    QVERIFY(rig.main->isMinimized());
    rig.desktop->tray.ShowMainScreen1->trigger();
    QVERIFY(!rig.main->isMinimized());
}

void TestTray::captionsCountDownInTheWindow()
{
    DesktopRig rig;
    rig.start([](GeneralSettings &s) {
        s.automatic = true;
        s.minutes = 2;
    });
    const QString two = AutomaticCheck::countdownCaption(2);
    QCOMPARE(rig.main->windowTitle(), two);
    QCOMPARE(rig.main->lblTitle()->text(), two);
    QCOMPARE(rig.desktop->tray.hint(), two);
    QVERIFY(rig.desktop->tray.EnableAutomatic1->isChecked());
    QVERIFY(rig.desktop->tray.isAnimated());

    rig.clock->tick();
    const QString one = AutomaticCheck::countdownCaption(1);
    QCOMPARE(rig.main->windowTitle(), one);
    QCOMPARE(rig.main->lblTitle()->text(), one);
    QCOMPARE(rig.desktop->tray.hint(), one);
}

void TestTray::listClickKeyAndTrayMenuStopTheAlarm()
{
    DesktopRig rig;
    rig.server.setMessages(mailbox(3));
    rig.start([](GeneralSettings &s) {
        s.automatic = true;
        s.minutes = 1;
    });
    rig.clock->tick(); // checks, finds mail, sounds the alarm
    QCOMPARE(rig.core->list.count(), 3);
    // The check itself silenced any earlier alarm first.
    QCOMPARE(rig.sounds, (QStringList{QStringLiteral("stop"), QStringLiteral("play")}));
    QVERIFY(rig.main->isVisible());

    QTreeView *list = rig.main->ListView1();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(rig.core->list.index(1, 0)).center());
    QCOMPARE(rig.sounds.last(), QStringLiteral("stop"));

    rig.sounds.clear();
    QTest::keyRelease(list, Qt::Key_Down);
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("stop")});

    rig.sounds.clear();
    emit rig.desktop->tray.popTray()->aboutToShow();
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("stop")});

    // "Main screen" leaves it playing.
    rig.sounds.clear();
    rig.desktop->tray.ShowMainScreen1->trigger();
    QVERIFY(rig.sounds.isEmpty());
}

void TestTray::trayItemsSwitchTheMode()
{
    DesktopRig rig;
    rig.start([](GeneralSettings &s) { s.minutes = 4; });
    QVERIFY(!rig.clock->isActive());
    rig.desktop->tray.EnableAutomatic1->trigger();
    QVERIFY(rig.clock->isActive());
    QCOMPARE(rig.main->windowTitle(), AutomaticCheck::countdownCaption(4));
    rig.desktop->tray.DisableAutomatic1->trigger();
    QVERIFY(!rig.clock->isActive());
    QCOMPARE(rig.main->windowTitle(), QStringLiteral("Mailsieve"));
    QVERIFY(rig.desktop->tray.DisableAutomatic1->isChecked());
    QFile log(rig.home.filePath(QStringLiteral("logfile.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("Automatic mode "), 2);
}

void TestTray::deleteButtonDeletesTheMarkedMessages()
{
    DesktopRig rig;
    rig.server.setMessages(mailbox(8));
    rig.start();
    rig.main->btList()->click();
    QCOMPARE(rig.core->list.count(), 8);
    rig.prompts.yesNoAnswers << true;
    rig.main->btDelete()->click();
    QCOMPARE(rig.server.messages().size(), 5);
    QCOMPARE(rig.main->statusPanel(1), QStringLiteral("There were 3 messages deleted"));
    QCOMPARE(rig.core->list.count(), 5);
    QCOMPARE(rig.main->btExit()->text(), QStringLiteral("Goodbye"));
    QVERIFY(rig.main->btList()->isEnabled());
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
