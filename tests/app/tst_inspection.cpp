// "View selected message(s) headers" and "View body of one message" on the
// main window against a scripted mailbox and a Dovecot one: the framed
// header blocks, the size question, the download of exactly one message,
// what a failed download leaves, and the list's popup menu.

#include "app/frmretrieving.h"
#include "app/inspectionrig.h"
#include "mail/messagebody.h"
#include "support/dovecotserver.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

using namespace appfixture;
using namespace inspectionrig;

namespace {

const QString Stars = QString(38, QLatin1Char('*'));

// The header lines of a raw message as the client keeps them.
QStringList headerLinesOf(const QByteArray &raw)
{
    QStringList lines;
    const QByteArray head = raw.left(raw.indexOf("\r\n\r\n"));
    for (const QByteArray &line : head.split('\n'))
        lines << QString::fromUtf8(line.endsWith('\r') ? line.chopped(1) : line);
    return lines;
}

// A plain message whose size on the wire (what LIST reports) is exactly size.
QByteArray messageOfSize(qint64 size)
{
    const QList<QByteArray> header = {"From: big@example.org", "To: user@example.org", "Subject: Large report",
                                      "Message-ID: <big@example.org>"};
    QList<QByteArray> body;
    qint64 remaining = size - ScriptedPop3Server::wireSize(MessageBuilder::assemble(header, {}));
    while (remaining > 80) {
        body << QByteArray(76, 'x');
        remaining -= 78;
    }
    body << QByteArray(remaining - 2, 'y');
    return MessageBuilder::assemble(header, body);
}

QByteArray alternativeMessage()
{
    return MessageBuilder::assemble(
        {"From: cafe@example.org", "To: user@example.org", "Subject: Menu", "MIME-Version: 1.0",
         "Content-Type: multipart/alternative; boundary=\"b1\""},
        {"This is a multi-part message in MIME format.", "--b1", "Content-Type: text/plain; charset=utf-8",
         "Content-Transfer-Encoding: quoted-printable", "", "Caf=C3=A9 au lait for two, the long line goes =",
         "on here.", "Total =3D 7 euros", "--b1", "Content-Type: text/html; charset=utf-8", "",
         "<html><body><img src=\"http://tracker.example/p.gif\">Caf&eacute;</body></html>", "--b1--"});
}

void checkAlternativeBody(const QStringList &lines)
{
    const QString text = lines.join(QLatin1Char('\n'));
    QVERIFY2(text.contains(QStringLiteral("Café au lait for two, the long line goes on here.")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Total = 7 euros")));
    QVERIFY(!text.contains(QStringLiteral("<html")));
    QVERIFY(!text.contains(QStringLiteral("=C3")));
}

// Records what the main window asks of the tray.
struct RecordingTray : TrayControl
{
    QList<bool> menuStates;
    void setMenuEnabled(bool enabled) override { menuStates << enabled; }
    void showCanceledIcon() override {}
    void hideToTray() override {}
};

} // namespace

class TestInspection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void headersOfThreeRowsAreThreeFramedBlocksInListOrder();
    void timerIsPausedAndBackOnlyInAutomaticMode();
    void commandsWithoutSelectionExplainWhy();
    void bodyOfExactly50000BytesNeedsNoQuestion();
    void bodyOf50001BytesAsksFirst();
    void alternativeMessageShowsTheDecodedTextPart();
    void bodyShowsTheMessageAsItsSenderWroteIt();
    void twoSelectedRowsShowTheUpperRowsBody();
    void leftoverDeleteFlagsAreNotActedOn();
    void failedDownloadShowsNoStaleBodyAndCancelReturnsToIdle();
    void downloadDuringACheckIsRefused();
    void trayMenuIsOffWhileDownloading();
    void closingDuringADownloadCancelsIt();
    void retrievalEventsWriteTheStatus();
    void popupMenuOffersTheCommandsInOrder();
    void dovecotHeadersAndBody();
};

void TestInspection::headersOfThreeRowsAreThreeFramedBlocksInListOrder()
{
    InspectionRig rig;
    rig.start(mailbox(5));
    rig.check();
    rig.select({3, 0, 1});
    rig.commands->ViewHeader1()->trigger();

    QCOMPARE(rig.viewers.size(), 1);
    QCOMPARE(rig.viewers[0].mode, TfrmViewHeader::Mode::Headers);
    QCOMPARE(rig.viewers[0].title, QStringLiteral("Contents of selected e-mail headers"));
    QStringList expected;
    for (int i : {1, 2, 4}) {
        expected << Stars << QStringLiteral("Subject : %1 Sender : %2").arg(subjectOf(i), senderOf(i)) << Stars
                 << headerLinesOf(messageText(i));
    }
    QCOMPARE(rig.viewers[0].lines, expected);
    QVERIFY(rig.prompts.asked.isEmpty());
    // Headers come from the check: no new connection.
    QCOMPARE(rig.server.connectionCount(), 1);
}

void TestInspection::timerIsPausedAndBackOnlyInAutomaticMode()
{
    for (const bool automatic : {false, true}) {
        InspectionRig rig;
        rig.start(mailbox(2), [&](GeneralSettings &s) { s.automatic = automatic; });
        rig.check();
        rig.timerChanges.clear();
        rig.alarmStops = 0;
        rig.select({0});
        rig.commands->inspection().ViewHeader1Click();
        QCOMPARE(rig.alarmStops, 1);
        QCOMPARE(rig.timerChanges, automatic ? QList<bool>({false, true}) : QList<bool>({false}));
    }
}

void TestInspection::commandsWithoutSelectionExplainWhy()
{
    InspectionRig rig;
    rig.start(mailbox(3));
    const QString none = QStringLiteral("Either there are no e-mail messages waiting on the mail server or you "
                                        "have not yet clicked on the \"Check E-Mail\" button.");
    const QString unselected = QStringLiteral(
        "No messages were selected.  To select one message click on a subject.  To select multiple messages "
        "drag the mouse over the list of desired subjects.");
    InspectionCommands &c = *rig.commands;
    const QList<QAction *> actions = {c.Why1(), c.AddtoExceptions1(), c.AddtoSPAMlist1(), c.ViewHeader1(),
                                      c.ViewMessages1()};
    for (QAction *action : actions)
        action->trigger();
    rig.window->btMark()->click();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information), QStringList(6, none));

    rig.check();
    rig.prompts.clear();
    for (QAction *action : actions)
        action->trigger();
    rig.window->btMark()->click();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information), QStringList(6, unselected));
    QVERIFY(rig.viewers.isEmpty());
    QCOMPARE(rig.server.connectionCount(), 1);
}

void TestInspection::bodyOfExactly50000BytesNeedsNoQuestion()
{
    InspectionRig rig;
    const QByteArray big = messageOfSize(50000);
    QCOMPARE(ScriptedPop3Server::wireSize(big), 50000);
    rig.start({messageText(1), big});
    rig.check();
    QCOMPARE(rig.core->list.entry(1).Size, QStringLiteral("50000"));
    rig.select({1});
    rig.commands->ViewMessages1()->trigger();

    QVERIFY(rig.prompts.asked.isEmpty());
    QCOMPARE(rig.viewers.size(), 1);
    QCOMPARE(rig.viewers[0].mode, TfrmViewHeader::Mode::Body);
    QCOMPARE(rig.viewers[0].title, QStringLiteral("Contents of e-mail"));
    QCOMPARE(rig.viewers[0].lines.first(), QString(76, QLatin1Char('x')));
    QVERIFY(QFile::exists(rig.home.path() + QStringLiteral("/msg_1.eml")));
    // Only message 2 was fetched, and nothing was deleted.
    const QStringList commands = rig.server.commands();
    QCOMPARE(commands.filter(QStringLiteral("RETR")), QStringList{QStringLiteral("RETR 2")});
    QVERIFY(commands.filter(QStringLiteral("DELE")).isEmpty());
    QCOMPARE(rig.server.messages().size(), 2);
    // The window is idle again.
    QVERIFY(rig.window->btList()->isEnabled());
    QVERIFY(!rig.window->frmRetrieving()->isVisible());
}

void TestInspection::bodyOf50001BytesAsksFirst()
{
    InspectionRig rig;
    rig.start({messageOfSize(50001)});
    rig.check();
    rig.select({0});
    const QString question = QStringLiteral(
        "The message you have selected to view is quite large - 50001 bytes. Are you sure you wish to download "
        "and view it?");

    rig.prompts.yesNoAnswers.enqueue(false);
    rig.commands->inspection().ViewMessages1Click();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::YesNo), QStringList{question});
    QVERIFY(rig.viewers.isEmpty());
    QCOMPARE(rig.server.connectionCount(), 1);

    rig.prompts.yesNoAnswers.enqueue(true);
    rig.commands->inspection().ViewMessages1Click();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::YesNo), QStringList(2, question));
    QCOMPARE(rig.viewers.size(), 1);
    QCOMPARE(rig.server.commands().filter(QStringLiteral("RETR")), QStringList{QStringLiteral("RETR 1")});
}

void TestInspection::alternativeMessageShowsTheDecodedTextPart()
{
    InspectionRig rig;
    rig.start({alternativeMessage()});
    rig.check();
    rig.select({0});
    rig.commands->inspection().ViewMessages1Click();
    QCOMPARE(rig.viewers.size(), 1);
    checkAlternativeBody(rig.viewers[0].lines);
}

void TestInspection::bodyShowsTheMessageAsItsSenderWroteIt()
{
    InspectionRig rig;
    rig.start({MessageBuilder::assemble({"From: a@example.org", "Subject: dots"}, {".hidden", ".", "end"})});
    rig.check();
    rig.select({0});
    rig.commands->inspection().ViewMessages1Click();

    QCOMPARE(rig.viewers.size(), 1);
    QCOMPARE(rig.viewers[0].lines,
             (QStringList{QStringLiteral(".hidden"), QStringLiteral("."), QStringLiteral("end")}));
    // The saved file is the data block as it came over the wire.
    QFile saved(rig.commands->inspection().messagePath(0));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray received = saved.readAll();
    QVERIFY(received.contains("\r\n..hidden\r\n..\r\nend\r\n"));
    QVERIFY(received.endsWith("end\r\n.\r\n"));
}

void TestInspection::twoSelectedRowsShowTheUpperRowsBody()
{
    InspectionRig rig;
    rig.start(mailbox(4));
    rig.check();
    rig.select({2, 1});
    rig.commands->inspection().ViewMessages1Click();

    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information),
             QStringList{QStringLiteral("You have selected more than one message to view.  Only one message can "
                                        "be viewed at one time.  The first one selected will be displayed.")});
    QCOMPARE(rig.viewers.size(), 1);
    QVERIFY(rig.viewers[0].lines.contains(QStringLiteral("body line of message 2")));
    QCOMPARE(rig.server.commands().filter(QStringLiteral("RETR")), QStringList{QStringLiteral("RETR 2")});
    for (int i = 0; i < rig.core->client().Info().Count(); ++i)
        QVERIFY(!rig.core->client().Info().Items(i).RetrieveMark);
}

void TestInspection::leftoverDeleteFlagsAreNotActedOn()
{
    InspectionRig rig;
    rig.start(mailbox(3));
    rig.check();
    // As a delete pass cut short leaves them.
    rig.core->client().MarkForDelete(0);
    rig.core->client().MarkForDelete(2);
    rig.select({1});
    rig.commands->inspection().ViewMessages1Click();

    QCOMPARE(rig.viewers.size(), 1);
    QVERIFY(rig.server.commands().filter(QStringLiteral("DELE")).isEmpty());
    QCOMPARE(rig.server.messages().size(), 3);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(!rig.core->client().Info().Items(i).DeleteMark);
        QVERIFY(!rig.core->client().Info().Items(i).RetrieveMark);
    }
}

void TestInspection::failedDownloadShowsNoStaleBodyAndCancelReturnsToIdle()
{
    InspectionRig rig;
    rig.start(mailbox(3), [](GeneralSettings &s) { s.automatic = true; });
    rig.check();
    const QString stale = rig.home.path() + QStringLiteral("/msg_1.eml");
    {
        QFile file(stale);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Subject: old\r\n\r\nstale body of an earlier run\r\n");
    }
    rig.server.closeMidBlockAt(QStringLiteral("RETR 2"));
    rig.select({1});
    rig.timerChanges.clear();
    rig.commands->inspection().ViewMessages1Click();

    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error).size(), 1);
    QVERIFY(rig.viewers.isEmpty());
    QVERIFY(!QFile::exists(stale));
    // The window waits for "Click to cancel"; the timer stays off.
    QVERIFY(rig.window->frmRetrieving()->isVisible());
    QVERIFY(!rig.window->btList()->isEnabled());
    QCOMPARE(rig.timerChanges, QList<bool>{false});
    QCOMPARE(rig.window->btExit()->text(), QStringLiteral("Goodbye"));

    rig.window->frmRetrieving()->cancelButton()->click();
    QVERIFY(!rig.window->frmRetrieving()->isVisible());
    QVERIFY(rig.window->btList()->isEnabled());
    QVERIFY(rig.window->btMark()->isVisibleTo(rig.window.get()));
    QCOMPARE(rig.core->list.count(), 3);

    // The same message downloads on the next try.
    rig.prompts.clear();
    rig.commands->inspection().ViewMessages1Click();
    QVERIFY(rig.prompts.textsOf(ScriptedPrompts::Kind::Error).isEmpty());
    QCOMPARE(rig.viewers.size(), 1);
    QVERIFY(rig.viewers[0].lines.contains(QStringLiteral("body line of message 2")));
}

void TestInspection::downloadDuringACheckIsRefused()
{
    InspectionRig rig;
    rig.start(mailbox(2));
    rig.check();
    rig.select({0});
    rig.window->cycle().checking = true;
    rig.commands->inspection().ViewMessages1Click();
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information), QStringList{MessageInspection::BusyText});
    QCOMPARE(rig.server.connectionCount(), 1);
    QVERIFY(rig.viewers.isEmpty());
}

void TestInspection::trayMenuIsOffWhileDownloading()
{
    InspectionRig rig;
    rig.start(mailbox(2));
    rig.check();
    RecordingTray tray;
    rig.window->setTray(&tray);
    rig.select({0});
    bool offDuringRetrieval = false;
    rig.core->client().OnRetrieving = [&](int num) {
        offDuringRetrieval = tray.menuStates == QList<bool>{false};
        rig.commands->inspection().msRemotePOP1Retrieving(num);
    };
    rig.commands->inspection().ViewMessages1Click();
    QVERIFY(offDuringRetrieval);
    QCOMPARE(tray.menuStates, QList<bool>({false, true}));

    tray.menuStates.clear();
    rig.server.closeAt(QStringLiteral("RETR 1"));
    rig.commands->inspection().ViewMessages1Click();
    QCOMPARE(tray.menuStates, QList<bool>({false, true}));
    rig.window->setTray(nullptr);
}

void TestInspection::closingDuringADownloadCancelsIt()
{
    InspectionRig rig;
    rig.start(mailbox(2));
    rig.check();
    rig.server.clearDialogue();
    rig.server.stallAt(QStringLiteral("RETR 1"));
    rig.select({0});
    QTimer::singleShot(300, rig.window.get(), [&rig] { rig.window->close(); });
    rig.commands->inspection().ViewMessages1Click();

    QVERIFY(!rig.window->isVisible());
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error),
             QStringList{QStringLiteral("Operation has been canceled")});
    QCOMPARE(rig.server.commands().last(), QStringLiteral("RETR 1"));
    QVERIFY(rig.viewers.isEmpty());
    QVERIFY(!rig.core->client().Connected());
}

void TestInspection::retrievalEventsWriteTheStatus()
{
    InspectionRig rig;
    rig.start(mailbox(2));
    rig.core->client().OnRetrieving(1);
    QCOMPARE(rig.window->statusPanel(1), QStringLiteral("Retrieving 2"));
    rig.core->client().OnRetrieved(1);
    QCOMPARE(rig.window->statusPanel(1), QStringLiteral("Message 2 retrieved"));
}

void TestInspection::popupMenuOffersTheCommandsInOrder()
{
    InspectionRig rig;
    rig.start(mailbox(1));
    QStringList items;
    for (const QAction *action : rig.commands->PopupMenu1()->actions())
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(items, QStringList({"Why was this e-mail marked?", "-", "Add selected sender(s) to exceptions list",
                                 "Add selected message(s) to spam list", "-", "View selected message(s) headers",
                                 "View body of one message"}));
    QCOMPARE(rig.window->ListView1()->contextMenuPolicy(), Qt::CustomContextMenu);
}

void TestInspection::dovecotHeadersAndBody()
{
    DovecotServer dovecot;
    dovecot.addMessages({messageText(1), alternativeMessage(), messageText(3)});
    MS_START_DOVECOT(dovecot);
    InspectionRig rig;
    rig.startOn(dovecot.server(), dovecot.userName(), dovecot.password());
    rig.check();
    QCOMPARE(rig.core->list.count(), 3);

    rig.select({0, 1, 2});
    rig.commands->inspection().ViewHeader1Click();
    QCOMPARE(rig.viewers.size(), 1);
    QCOMPARE(rig.viewers[0].lines.count(Stars), 6);
    QVERIFY(rig.viewers[0].lines.contains(QStringLiteral("Subject : Menu Sender : cafe@example.org")));
    QVERIFY(rig.viewers[0].lines.contains(QStringLiteral("Content-Type: multipart/alternative; boundary=\"b1\"")));

    rig.select({1});
    rig.commands->inspection().ViewMessages1Click();
    QVERIFY(rig.prompts.textsOf(ScriptedPrompts::Kind::Error).isEmpty());
    QCOMPARE(rig.viewers.size(), 2);
    checkAlternativeBody(rig.viewers[1].lines);
    QCOMPARE(dovecot.storedMessageCount(), 3);
}

QTEST_MAIN(TestInspection)
#include "tst_inspection.moc"
