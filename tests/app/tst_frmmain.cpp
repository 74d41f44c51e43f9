// The main window offscreen against a scripted mailbox: what a check shows
// in the list, the status bar, the buttons and the progress window, and how
// errors, Cancel and the "Exit" option leave it.

#include "app/appfixture.h"
#include "app/frmmain.h"
#include "app/frmretrieving.h"
#include "app/programcore.h"
#include "mail/tlssecurity.h"
#include "settings/settingsstore.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QApplication>
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
               && window->btRemark()->isVisibleTo(window.get())
               && window->btResetAll()->isVisibleTo(window.get())
               && window->btLaunch()->isVisibleTo(window.get())
               && !window->lblAd()->isVisibleTo(window.get());
    }
    bool listButtonsHidden() const
    {
        return !window->btMark()->isVisibleTo(window.get()) && !window->btDelete()->isVisibleTo(window.get())
               && !window->btRemark()->isVisibleTo(window.get())
               && !window->btResetAll()->isVisibleTo(window.get())
               && !window->btLaunch()->isVisibleTo(window.get())
               && window->lblAd()->isVisibleTo(window.get());
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
        QCOMPARE(model->index(row, 2).data().toString(),
                 QString::number(ScriptedPop3Server::wireSize(messageText(i))));
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
        QCOMPARE(w.frmRetrieving()->title(), QStringLiteral("Retrieving messages for mailbox user on server ")
                                                 + rig.server.address());
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
             QStringList{QStringLiteral("-ERR [AUTH] Authentication failed.")});
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

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
