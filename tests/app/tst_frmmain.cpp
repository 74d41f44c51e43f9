// The main window offscreen against a scripted mailbox: what a check shows
// in the list, the status bar, the buttons and the progress window, and how
// errors, Cancel and the "Exit" option leave it.

#include "app/appfixture.h"
#include "app/commandbutton.h"
#include "app/frmmain.h"
#include "app/frmretrieving.h"
#include "app/programcore.h"
#include "mail/tlssecurity.h"
#include "settings/settingsstore.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

using namespace appfixture;

namespace {

struct WindowRig
{
    QTemporaryDir home;
    ScriptedPop3Server server;
    std::unique_ptr<ProgramCore> core;
    ScriptedPrompts prompts;
    std::unique_ptr<TfrmMain> window;

    WindowRig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        server.listen();
    }

    void start(const std::function<void(GeneralSettings &)> &edit = {})
    {
        storeSettings([&](GeneralSettings &s) {
            storeMailbox(s, 1, server.address(), server.user(), server.password());
            if (edit)
                edit(s);
        });
        storeRules(home.path());
        core = std::make_unique<ProgramCore>(home.path());
        QCOMPARE(core->load(), QStringList());
        window = std::make_unique<TfrmMain>(*core, prompts);
        window->FormCreate(readStartupSettings(core->store));
    }

    // Runs action once the list has reached rows, from inside the check's wait.
    void whenRows(int rows, std::function<void()> action)
    {
        QObject::connect(&core->list, &QAbstractItemModel::rowsInserted, window.get(), [this, rows, action] {
            if (core->list.count() == rows)
                QTimer::singleShot(50, window.get(), action);
        });
    }

    bool listButtonsShown() const
    {
        return window->btMark()->isVisibleTo(window.get()) && window->btDelete()->isVisibleTo(window.get())
               && window->btRemark()->isVisibleTo(window.get()) && window->btResetAll()->isVisibleTo(window.get())
               && window->btLaunch()->isVisibleTo(window.get()) && !window->lblAd()->isVisibleTo(window.get());
    }
    bool listButtonsHidden() const
    {
        return !window->btMark()->isVisibleTo(window.get()) && !window->btDelete()->isVisibleTo(window.get())
               && !window->btRemark()->isVisibleTo(window.get()) && !window->btResetAll()->isVisibleTo(window.get())
               && !window->btLaunch()->isVisibleTo(window.get()) && window->lblAd()->isVisibleTo(window.get());
    }
};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void startsIdleWithTheTagline();
    void checkFillsTheListAndShowsTheTotals();
    void progressWindowFollowsTheHeaderPass();
    void cancelDuringTheHeaderPassReturnsToIdle();
    void progressCancelEmptiesTheList();
    void refusedPasswordShowsTheServerLineAndStaysBusy();
    void emptyMailboxWithExitOptionClosesTheProgram();
    void chooserIsNotOfferedForOneMailbox();
    void goodbyeClosesAndHideHides();
    void untrustedCertificateIsAskedAboutAndKept();
    void unattendedCheckAsksNoCertificateQuestion();

    // Size, place and access.
    void captionsAreSetOnTwoLines_data();
    void captionsAreSetOnTwoLines();
    void windowKeepsItsSizeWhenTheListButtonsAppear();
    void startsShowingAboutTwentyFiveRows();
    void sizeAndPlaceComeBackAtTheNextStart();
    void screenReadersHearTheMarksAndTheStatus();
};

void TestFrmMain::startsIdleWithTheTagline()
{
    WindowRig rig;
    rig.start();
    TfrmMain &w = *rig.window;
    QVERIFY(w.isVisible());
    QCOMPARE(w.windowTitle(), QStringLiteral("Mailsieve"));
    QCOMPARE(w.statusPanel(0), QStringLiteral("Right click for more options, double click to mark"));
    QCOMPARE(w.btList()->text(), QStringLiteral("Check e-mail"));
    QCOMPARE(w.btExit()->text(), QStringLiteral("Goodbye"));
    QCOMPARE(w.Exit1()->text(), QStringLiteral("Exit"));
    QVERIFY(w.btList()->isEnabled());
    QVERIFY(w.btOptions()->isEnabled());
    QVERIFY(rig.listButtonsHidden());
    QCOMPARE(w.ListView1()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(w.ListView1()->columnWidth(0), 220);
    QCOMPARE(w.ListView1()->columnWidth(2), 60);
}

void TestFrmMain::checkFillsTheListAndShowsTheTotals()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    TfrmMain &w = *rig.window;

    QTest::mouseClick(w.btList(), Qt::LeftButton);

    const QAbstractItemModel *model = w.ListView1()->model();
    QCOMPARE(model->rowCount(), 20);
    for (int row = 0; row < 20; ++row) {
        const int i = row + 1;
        QCOMPARE(model->index(row, 0).data().toString(), subjectOf(i));
        QCOMPARE(model->index(row, 1).data().toString(), senderOf(i));
        QCOMPARE(model->index(row, 2).data().toString(), QString::number(ScriptedPop3Server::wireSize(messageText(i))));
        QCOMPARE(model->index(row, 3).data().toString(), dateColumnOf(i));
        QCOMPARE(model->index(row, 0).data(Qt::DecorationRole).isValid(), markOf(i) != MarkState::None);
    }
    QCOMPARE(w.statusPanel(0), TfrmMain::kHint);
    QCOMPARE(w.statusPanel(1), QStringLiteral("Message Total: 20 Number Marked: 6"));
    QVERIFY(rig.listButtonsShown());
    QVERIFY(w.btList()->isEnabled());
    QCOMPARE(w.btExit()->text(), QStringLiteral("Goodbye"));
    QVERIFY(!w.frmRetrieving()->isVisible());
    QVERIFY(rig.prompts.asked.isEmpty());
}

void TestFrmMain::progressWindowFollowsTheHeaderPass()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(3));
    rig.server.delayAt(QStringLiteral("TOP 2 1"), 400);
    rig.start();
    TfrmMain &w = *rig.window;
    bool seen = false;
    rig.whenRows(1, [&] {
        seen = true;
        QVERIFY(w.frmRetrieving()->isVisible());
        QCOMPARE(w.frmRetrieving()->windowTitle(), QStringLiteral("Retrieving ..."));
        QCOMPARE(w.frmRetrieving()->title(),
                 QStringLiteral("Retrieving messages for mailbox user on server ") + rig.server.address());
        QCOMPARE(w.frmRetrieving()->message(), QStringLiteral("Message 1 of 3"));
        QCOMPARE(w.frmRetrieving()->cancelButton()->text(), QStringLiteral("Click to cancel"));
        QVERIFY(w.frmRetrieving()->animation()->isRunning());
        QCOMPARE(w.btExit()->text(), QStringLiteral("Cancel"));
        QCOMPARE(w.Exit1()->text(), QStringLiteral("Cancel"));
        QVERIFY(!w.btList()->isEnabled());
        QVERIFY(!w.btOptions()->isEnabled());
        QVERIFY(rig.listButtonsHidden());
        QCOMPARE(w.statusPanel(1), QStringLiteral("Getting message 1 of 3 total waiting messages"));
    });

    w.btListClick();
    QVERIFY(seen);
    QCOMPARE(w.ListView1()->model()->rowCount(), 3);
    QVERIFY(!w.frmRetrieving()->isVisible());
    QVERIFY(!w.frmRetrieving()->animation()->isRunning());
}

void TestFrmMain::cancelDuringTheHeaderPassReturnsToIdle()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(6));
    rig.server.stallAt(QStringLiteral("TOP 4 1"));
    rig.start();
    TfrmMain &w = *rig.window;
    rig.whenRows(3, [&] { QTest::mouseClick(w.btExit(), Qt::LeftButton); });

    w.btListClick();
    QCOMPARE(w.ListView1()->model()->rowCount(), 0);
    QCOMPARE(w.statusPanel(1), QStringLiteral("Operation has been canceled"));
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error),
             QStringList{QStringLiteral("Operation has been canceled")});
    QCOMPARE(w.btExit()->text(), QStringLiteral("Goodbye"));
    QCOMPARE(w.Exit1()->text(), QStringLiteral("Exit"));
    QVERIFY(w.btList()->isEnabled());
    QVERIFY(w.btOptions()->isEnabled());
    QVERIFY(!w.frmRetrieving()->isVisible());
    QVERIFY(w.isVisible());
    QVERIFY(!w.cycle().checking);
    QVERIFY(rig.listButtonsHidden());
}

void TestFrmMain::progressCancelEmptiesTheList()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(4));
    rig.server.stallAt(QStringLiteral("TOP 3 1"));
    rig.start();
    TfrmMain &w = *rig.window;
    rig.whenRows(2, [&] { QTest::mouseClick(w.frmRetrieving()->cancelButton(), Qt::LeftButton); });

    w.btListClick();
    QCOMPARE(w.ListView1()->model()->rowCount(), 0);
    QVERIFY(!w.frmRetrieving()->isVisible());
    QVERIFY(w.btList()->isEnabled());
    QCOMPARE(w.btExit()->text(), QStringLiteral("Goodbye"));

    // The window is usable again: the next check lists the mailbox.
    rig.server.clearScript();
    w.btListClick();
    QCOMPARE(w.ListView1()->model()->rowCount(), 4);
}

void TestFrmMain::refusedPasswordShowsTheServerLineAndStaysBusy()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(2));
    rig.server.failAt(QStringLiteral("PASS"), "-ERR [AUTH] Authentication failed.");
    rig.start();
    TfrmMain &w = *rig.window;

    w.btListClick();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error),
             QStringList{QStringLiteral("The server refused the password for user at %1: "
                                        "-ERR [AUTH] Authentication failed.")
                             .arg(rig.server.address())});
    QCOMPARE(w.ListView1()->model()->rowCount(), 0);
    QVERIFY(!w.btList()->isEnabled());
    QVERIFY(!w.btOptions()->isEnabled());
    QCOMPARE(w.btExit()->text(), QStringLiteral("Cancel"));
    QCOMPARE(w.Exit1()->text(), QStringLiteral("Cancel"));
    QVERIFY(w.frmRetrieving()->isVisible());
    QVERIFY(w.cycle().checking);

    QTest::mouseClick(w.btExit(), Qt::LeftButton);
    QVERIFY(w.isVisible());
    QVERIFY(w.btList()->isEnabled());
    QVERIFY(w.btOptions()->isEnabled());
    QCOMPARE(w.btExit()->text(), QStringLiteral("Goodbye"));
    QCOMPARE(w.Exit1()->text(), QStringLiteral("Exit"));
    QVERIFY(!w.frmRetrieving()->isVisible());
    QVERIFY(!w.cycle().checking);
}

void TestFrmMain::emptyMailboxWithExitOptionClosesTheProgram()
{
    WindowRig rig;
    rig.start([](GeneralSettings &s) { s.exitWhenEmpty = true; });
    TfrmMain &w = *rig.window;

    w.btListClick();
    // Closed, not hidden: with the last window closed the event loop ends.
    QVERIFY(!w.isVisible());
    QVERIFY(w.testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QCOMPARE(w.statusPanel(1), QStringLiteral("Message Total: 0 Number Marked: 0"));
    QVERIFY(rig.prompts.asked.isEmpty());
}

void TestFrmMain::chooserIsNotOfferedForOneMailbox()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(1));
    rig.start();
    TfrmMain &w = *rig.window;
    int offered = 0;
    w.cycle().hooks().chooseMailbox = [&](int current) {
        ++offered;
        return std::optional<int>(current);
    };
    w.btListClick();
    QCOMPARE(offered, 0);
    QCOMPARE(w.ListView1()->model()->rowCount(), 1);
}

void TestFrmMain::goodbyeClosesAndHideHides()
{
    {
        WindowRig rig;
        rig.start();
        QTest::mouseClick(rig.window->btExit(), Qt::LeftButton);
        QVERIFY(!rig.window->isVisible());
    }
    {
        WindowRig rig;
        rig.start([](GeneralSettings &s) { s.startInTray = true; });
        TfrmMain &w = *rig.window;
        QVERIFY(!w.isVisible());
        QCOMPARE(w.btExit()->text(), QStringLiteral("Hide"));
        w.show();
        QTest::mouseClick(w.btExit(), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }
}

// A mailbox served over implicit TLS with a certificate no authority signed.
static void serveUntrustedTls(WindowRig &rig, const TestCertificate &identity)
{
    rig.server.setTlsIdentity(identity);
    rig.server.setImplicitTls(true);
    rig.server.setMessages(mailbox(2));
}

static void useTls(GeneralSettings &s)
{
    s.mailboxes[0].security = MailSecurity::SslTls;
}

void TestFrmMain::untrustedCertificateIsAskedAboutAndKept()
{
    const TestCertificate identity = TestCertificate::generate(QStringLiteral("mailsieve-test"));
    if (identity.isNull())
        QSKIP("openssl cannot make a test certificate");
    WindowRig rig;
    serveUntrustedTls(rig, identity);
    rig.start(useTls);
    TfrmMain &w = *rig.window;
    rig.prompts.yesNoAnswers << true;

    w.btListClick();
    const QStringList asked = rig.prompts.textsOf(ScriptedPrompts::Kind::YesNo);
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].contains(QStringLiteral("Trust this certificate for mailbox 1?")));
    QVERIFY(asked[0].contains(certificateFingerprint(identity.certificate())));
    QCOMPARE(w.ListView1()->model()->rowCount(), 2);
    QCOMPARE(SettingsStore().value(SettingsStore::Server, QStringLiteral("Fingerprint1")),
             certificateFingerprint(identity.certificate()));

    // The stored fingerprint is trusted from now on: no second question.
    w.btListClick();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::YesNo).size(), 1);
    QCOMPARE(w.ListView1()->model()->rowCount(), 2);
}

void TestFrmMain::unattendedCheckAsksNoCertificateQuestion()
{
    const TestCertificate identity = TestCertificate::generate(QStringLiteral("mailsieve-test"));
    if (identity.isNull())
        QSKIP("openssl cannot make a test certificate");
    WindowRig rig;
    serveUntrustedTls(rig, identity);
    rig.start([](GeneralSettings &s) {
        useTls(s);
        s.automatic = true;
    });
    rig.window->cycle().startInTray = true;
    rig.prompts.yesNoAnswers << true;

    rig.window->btListClick();
    QVERIFY(rig.prompts.asked.isEmpty());
    QCOMPARE(rig.window->ListView1()->model()->rowCount(), 0);
    QVERIFY(SettingsStore().value(SettingsStore::Server, QStringLiteral("Fingerprint1")).isEmpty());
}

void TestFrmMain::captionsAreSetOnTwoLines_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shown");
    QTest::newRow("three words") << QStringLiteral("Delete marked messages")
                                 << QStringLiteral("Delete marked\nmessages");
    QTest::newRow("two words") << QStringLiteral("Check e-mail") << QStringLiteral("Check\ne-mail");
    QTest::newRow("nearest the middle") << QStringLiteral("Settings and more") << QStringLiteral("Settings\nand more");
    QTest::newRow("one word") << QStringLiteral("Goodbye") << QStringLiteral("Goodbye");
}

void TestFrmMain::captionsAreSetOnTwoLines()
{
    QFETCH(QString, caption);
    QFETCH(QString, shown);
    QCOMPARE(CommandButton::twoLineCaption(caption), shown);

    // The button keeps its caption whole (screen readers read it) and is
    // no wider than its longer line needs.
    CommandButton button;
    button.setText(caption);
    button.setIconSize(QSize(32, 32));
    QCOMPARE(button.text(), caption);
    QToolButton oneLine;
    oneLine.setText(caption);
    oneLine.setIconSize(QSize(32, 32));
    oneLine.setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    if (shown.contains(QLatin1Char('\n'))) {
        QVERIFY(button.sizeHint().width() < oneLine.sizeHint().width());
        QVERIFY(button.sizeHint().height() > oneLine.sizeHint().height());
    }
    const QSize longerLine = button.fontMetrics().size(Qt::TextShowMnemonic, shown);
    QVERIFY(button.sizeHint().width() >= longerLine.width());
}

void TestFrmMain::windowKeepsItsSizeWhenTheListButtonsAppear()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(3));
    rig.start();
    TfrmMain &w = *rig.window;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize before = w.size();

    w.btListClick();
    QVERIFY(rig.listButtonsShown());
    QCoreApplication::processEvents();
    QCOMPARE(w.size(), before);
    // The buttons fit the window they appeared in.
    for (QToolButton *button : {w.btMark(), w.btDelete(), w.btRemark(), w.btResetAll(), w.btLaunch(), w.btExit()}) {
        const QRect box(button->mapTo(&w, QPoint(0, 0)), button->size());
        QVERIFY2(w.rect().contains(box), qPrintable(button->text()));
    }
}

void TestFrmMain::startsShowingAboutTwentyFiveRows()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(60));
    rig.start();
    TfrmMain &w = *rig.window;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.btListClick();
    QCOMPARE(w.ListView1()->model()->rowCount(), 60);

    // Rows with a mark picture, the taller kind.
    rig.core->list.setAllMarks(MarkState::Question);
    QTreeView *list = w.ListView1();
    list->doItemsLayout();
    int whole = 0;
    for (int row = 0; row < 60; ++row) {
        if (list->viewport()->rect().contains(list->visualRect(list->model()->index(row, 0))))
            ++whole;
    }
    QVERIFY2(whole >= 22 && whole <= 28, qPrintable(QString::number(whole)));
}

void TestFrmMain::sizeAndPlaceComeBackAtTheNextStart()
{
    WindowRig rig;
    rig.start();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    // The first start is in the middle of the screen.
    const QPoint middle = rig.window->screen()->availableGeometry().center();
    // (The window frame may shift the inside by a few pixels.)
    QVERIFY((rig.window->geometry().center() - middle).manhattanLength() <= 8);
    const QSize chosen = rig.window->size() + QSize(57, 43);
    rig.window->resize(chosen);
    rig.window->move(31, 29);
    const QRect place = rig.window->geometry();
    rig.window.reset();
    QVERIFY(QFileInfo::exists(rig.home.filePath(QStringLiteral("window.conf"))));

    TfrmMain again(*rig.core, rig.prompts);
    QVERIFY(again.size() != chosen);
    again.FormCreate(readStartupSettings(rig.core->store));
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.geometry(), place);
}

void TestFrmMain::screenReadersHearTheMarksAndTheStatus()
{
    WindowRig rig;
    rig.server.setMessages(mailbox(2));
    rig.start();
    TfrmMain &w = *rig.window;
    w.btListClick();
    rig.core->list.setMark(0, MarkState::KnownSpammer);
    rig.core->list.setMark(1, MarkState::None);

    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(w.ListView1());
    QVERIFY(list && list->tableInterface());
    // Row 0 of the table interface is the header row's cells' row below.
    QAccessibleInterface *marked = list->tableInterface()->cellAt(0, 0);
    QVERIFY(marked);
    QCOMPARE(marked->text(QAccessible::Name), QStringLiteral("Known spammer: ") + rig.core->list.entry(0).Subject);
    QVERIFY(marked->text(QAccessible::Description).contains(QStringLiteral("known spammer list")));
    QAccessibleInterface *plain = list->tableInterface()->cellAt(1, 0);
    QVERIFY(plain);
    QCOMPARE(plain->text(QAccessible::Name), rig.core->list.entry(1).Subject);
    QCOMPARE(plain->text(QAccessible::Description), QString());

    // The status line: its name says what it is, its description what it says.
    QWidget *status = nullptr;
    for (QWidget *child : w.statusBar()->findChildren<QWidget *>()) {
        if (child->accessibleName() == QStringLiteral("Status"))
            status = child;
    }
    QVERIFY(status);
    QAccessibleInterface *line = QAccessible::queryAccessibleInterface(status);
    QVERIFY(line);
    QCOMPARE(line->text(QAccessible::Description), w.statusPanel(1));
    w.setStatusText(QStringLiteral("Connection closed"));
    QCOMPARE(line->text(QAccessible::Description), QStringLiteral("Connection closed"));
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
