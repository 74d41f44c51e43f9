// The check of one mailbox, headless: the rows it lists, the marks, the
// status texts, the log lines, and how failures, Cancel and the mailbox
// chooser end it.

#include "app/appfixture.h"
#include "app/checkcycle.h"
#include "app/programcore.h"
#include "mail/mailerrors.h"
#include "store/storecheck.h"
#include "support/dovecotserver.h"
#include "support/recordingcheckview.h"
#include "support/scriptedpop3server.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace appfixture;

namespace {

class RecordingJournal : public CheckJournal
{
public:
    QStringList lines;
    void mailCheck(int count, const QString &user, const QString &server) override
    {
        lines << QStringLiteral("MAIL CHECK %1 %2 %3").arg(count).arg(user, server);
    }
    void error(const QString &text, const QString &user, const QString &server) override
    {
        lines << QStringLiteral("ERROR %1 %2 %3").arg(text, user, server);
    }
    void canceled(const QString &user, const QString &server) override
    {
        lines << QStringLiteral("CANCELED %1 %2").arg(user, server);
    }
};

// One program folder, server, core and cycle per test function.
struct Rig
{
    QTemporaryDir home;
    ScriptedPop3Server server;
    std::unique_ptr<ProgramCore> core;
    RecordingCheckView view;
    RecordingJournal journal;
    std::unique_ptr<CheckCycle> cycle;
    int generalSettingsOpened = 0;
    int rulesSaved = 0;
    bool timer = true;
    QList<bool> timerDuringCheck;

    Rig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        server.listen();
    }

    // Mailbox 1 is the scripted server unless edit says otherwise.
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
        CheckHooks hooks = core->checkHooks();
        hooks.journal = &journal;
        hooks.openGeneralSettings = [this] { ++generalSettingsOpened; };
        hooks.saveRules = [this] {
            ++rulesSaved;
            QCOMPARE(core->saveRules(), QStringList());
        };
        hooks.isTimerEnabled = [this] { return timer; };
        hooks.setTimerEnabled = [this](bool on) { timer = on; };
        cycle = std::make_unique<CheckCycle>(core->clients, core->list, core->settings, view, hooks);
        QObject::connect(&core->list, &QAbstractItemModel::rowsInserted, [this] { timerDuringCheck << timer; });
    }

    QString address() const { return server.address(); }
};

} // namespace

class TestCheckCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void listsEveryMessageWithItsRowTexts();
    void marksEachRowAndStoresTheHitCounters();
    void reportsEachStepInTheStatusPanel();
    void restoresTheTimerAfterTheCheck();
    void asksForMissingUserNameOrServer_data();
    void asksForMissingUserNameOrServer();
    void offersTheChooserOnlyForSeveralMailboxesInManualMode();
    void chooserCancelLeavesTheListAlone();
    void chooserAnswerBecomesTheCurrentMailbox();
    void refusedPasswordLeavesTheWindowBusyUntilCancel();
    void trayAutomaticModeSwallowsTheFailure();
    void lostGrantOffersTheSignInOnlyToAUser();
    void cancelDuringTheHeaderPassEmptiesTheList();
    void emptyMailboxWithExitOptionLeaves_data();
    void emptyMailboxWithExitOptionLeaves();
    void stoppedServerIsReported();
    void listsADovecotMailbox();
    void laterCheckListsFromTheStoreAndForgetsWhatIsGone();
    void whatBecomesOfMessagesTeachesTheLearner();
    void storeProblemLetsTheCheckGoOn_data();
    void storeProblemLetsTheCheckGoOn();
};

void TestCheckCycle::listsEveryMessageWithItsRowTexts()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));

    const MessageListModel &list = rig.core->list;
    QCOMPARE(list.count(), 20);
    for (int row = 0; row < 20; ++row) {
        const int i = row + 1;
        QCOMPARE(list.entry(row).Subject, subjectOf(i));
        QCOMPARE(list.entry(row).Sender, senderOf(i));
        QCOMPARE(list.entry(row).Size, QString::number(ScriptedPop3Server::wireSize(messageText(i))));
        QCOMPARE(list.entry(row).Date, dateColumnOf(i));
    }
    QVERIFY(rig.view.errors.isEmpty());
    QCOMPARE(rig.journal.lines, QStringList{QStringLiteral("MAIL CHECK 20 user ") + rig.address()});
    QVERIFY(!rig.cycle->checking);
    QVERIFY(!rig.view.busy);
    QCOMPARE(rig.view.exitCaption, QStringLiteral("Goodbye"));
    QVERIFY(rig.view.buttonsEnabled);
    QVERIFY(!rig.view.progressShown);
    QVERIFY(rig.server.committedSessions() == 1);
}

void TestCheckCycle::marksEachRowAndStoresTheHitCounters()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));

    for (int row = 0; row < 20; ++row)
        QCOMPARE(rig.core->list.mark(row), markOf(row + 1));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Message Total: 20 Number Marked: 6"));
    QCOMPARE(rig.rulesSaved, 1);

    // Each row is judged as it arrives and once more at the end, so the
    // three offers count six hits; a check-marked row keeps its mark without
    // a second look, so the five viagra messages count five.
    RuleSet stored;
    QVERIFY(readSettings(stored, rig.home.path()).ok());
    QCOMPARE(stored.SubjectRules.cell(SubjectCol::Hits, 1), QStringLiteral("5"));
    QCOMPARE(stored.SubjectRules.cell(SubjectCol::Hits, 2), QStringLiteral("6"));
}

void TestCheckCycle::reportsEachStepInTheStatusPanel()
{
    Rig rig;
    rig.server.setMessages(mailbox(2));
    rig.start();
    rig.view.visible = true;
    QVERIFY(rig.cycle->checkMailbox(1));

    const QString where = rig.address();
    QCOMPARE(rig.view.statusTexts,
             (QStringList{QStringLiteral("Opening connection for user on ") + where, QStringLiteral("Updating headers"),
                          QStringLiteral("Getting message 1 of 2 total waiting messages"),
                          QStringLiteral("Getting message 2 of 2 total waiting messages"),
                          QStringLiteral("Closing connection"), QStringLiteral("Connection closed"),
                          QStringLiteral("2 msg(s) for user on ") + where,
                          QStringLiteral("Message Total: 2 Number Marked: 0")}));
    QCOMPARE(rig.view.progressTitles, QStringList{QStringLiteral("user@") + where});
    QCOMPARE(rig.view.progressMessages,
             (QStringList{QStringLiteral("Message 1 of 2"), QStringLiteral("Message 2 of 2")}));
}

void TestCheckCycle::restoresTheTimerAfterTheCheck()
{
    Rig rig;
    rig.server.setMessages(mailbox(3));
    rig.start();
    rig.timer = true;
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(rig.timerDuringCheck, (QList<bool>{false, false, false}));
    QVERIFY(rig.timer);

    rig.timer = false;
    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(!rig.timer);
}

void TestCheckCycle::asksForMissingUserNameOrServer_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("message");
    QTest::newRow("no user") << QStringLiteral("pop.example.org") << QStringLiteral("  ")
                             << QStringLiteral("You need to enter your e-mail username in the settings.");
    QTest::newRow("no server") << QStringLiteral(" \t") << QStringLiteral("someone")
                               << QStringLiteral("You need to enter the name of your mail server in the settings.");
}

void TestCheckCycle::asksForMissingUserNameOrServer()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, message);
    Rig rig;
    rig.server.setMessages(mailbox(2));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.cycle->hooks().loadMailbox = [&](int) {
        MailboxLogin login;
        login.server = server;
        login.user = user;
        login.password = QStringLiteral("pw");
        return login;
    };
    const int connections = rig.server.connectionCount();

    QVERIFY(!rig.cycle->checkMailbox(1));
    QCOMPARE(rig.view.errors, QStringList{message});
    QCOMPARE(rig.generalSettingsOpened, 1);
    QCOMPARE(rig.server.connectionCount(), connections);
    QCOMPARE(rig.core->list.count(), 2);
}

void TestCheckCycle::offersTheChooserOnlyForSeveralMailboxesInManualMode()
{
    Rig rig;
    rig.server.setMessages(mailbox(1));
    rig.start();
    int offered = 0;
    rig.cycle->hooks().chooseMailbox = [&](int current) {
        ++offered;
        return std::optional<int>(current);
    };
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(offered, 0);

    // A second mailbox in manual mode: offered.
    storeSettings([&](GeneralSettings &s) {
        storeMailbox(s, 5, QStringLiteral("other.example"), QStringLiteral("u"), QStringLiteral("p"));
    });
    QVERIFY(rig.core->settings.readServerSettings(rig.core->store));
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(offered, 1);

    // The same in automatic mode: not offered.
    rig.core->settings.automatic = true;
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(offered, 1);
}

void TestCheckCycle::chooserCancelLeavesTheListAlone()
{
    Rig rig;
    rig.server.setMessages(mailbox(2));
    rig.start([](GeneralSettings &s) {
        storeMailbox(s, 2, QStringLiteral("other.example"), QStringLiteral("u"), QStringLiteral("p"));
    });
    rig.cycle->hooks().chooseMailbox = [](int current) { return std::optional<int>(current); };
    QVERIFY(rig.cycle->checkMailbox(1));
    const int connections = rig.server.connectionCount();

    rig.cycle->hooks().chooseMailbox = [](int) { return std::optional<int>(); };
    QVERIFY(!rig.cycle->checkMailbox(1));
    QCOMPARE(rig.server.connectionCount(), connections);
    QCOMPARE(rig.core->list.count(), 2);
    QCOMPARE(rig.cycle->currentMailbox, 1);
    QVERIFY(rig.view.buttonsEnabled);
}

void TestCheckCycle::chooserAnswerBecomesTheCurrentMailbox()
{
    Rig rig;
    ScriptedPop3Server second;
    second.setCredentials(QStringLiteral("other"), QStringLiteral("pw2"));
    second.setMessages(mailbox(3));
    QVERIFY(second.listen());
    rig.server.setMessages(mailbox(1));
    rig.start([&](GeneralSettings &s) {
        storeMailbox(s, 4, second.address(), QStringLiteral("other"), QStringLiteral("pw2"));
    });
    QList<int> presets;
    rig.cycle->hooks().chooseMailbox = [&](int current) {
        presets << current;
        return std::optional<int>(4);
    };

    rig.cycle->btListClick();
    QCOMPARE(rig.cycle->currentMailbox, 4);
    QCOMPARE(rig.core->list.count(), 3);
    QCOMPARE(rig.server.connectionCount(), 0);
    rig.cycle->btListClick();
    QCOMPARE(presets, (QList<int>{1, 4}));
}

void TestCheckCycle::refusedPasswordLeavesTheWindowBusyUntilCancel()
{
    Rig rig;
    rig.server.setMessages(mailbox(2));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.server.failAt(QStringLiteral("PASS"), "-ERR invalid password");
    rig.journal.lines.clear();
    rig.rulesSaved = 0;

    QVERIFY(!rig.cycle->checkMailbox(1));
    QCOMPARE(rig.view.errors, QStringList{"The server refused the password for user at " + rig.server.address()
                                          + ": -ERR invalid password"});
    QCOMPARE(rig.core->list.count(), 0);
    QVERIFY(rig.cycle->checking);
    QVERIFY(rig.cycle->isBusy());
    QCOMPARE(rig.view.exitCaption, QStringLiteral("Cancel"));
    QVERIFY(!rig.view.buttonsEnabled);
    QVERIFY(rig.view.progressShown);
    QVERIFY(!rig.timer);
    QVERIFY(rig.view.trayMenuEnabled);
    QCOMPARE(rig.rulesSaved, 0);
    QVERIFY(!rig.journal.lines.join(QLatin1Char('\n')).contains(QStringLiteral("MAIL CHECK")));

    rig.cycle->cancel(true);
    QVERIFY(!rig.cycle->checking);
    QVERIFY(!rig.cycle->isBusy());
    QCOMPARE(rig.view.exitCaption, QStringLiteral("Goodbye"));
    QVERIFY(rig.view.buttonsEnabled);
    QVERIFY(!rig.view.progressShown);

    // The next check logs in afresh and lists the mailbox.
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(rig.core->list.count(), 2);
}

void TestCheckCycle::trayAutomaticModeSwallowsTheFailure()
{
    Rig rig;
    rig.server.setMessages(mailbox(2));
    rig.server.failAt(QStringLiteral("PASS"), "-ERR invalid password");
    rig.start([](GeneralSettings &s) { s.automatic = true; });
    rig.cycle->startInTray = true;

    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.view.errors.isEmpty());
    QVERIFY(!rig.cycle->checking);
    QCOMPARE(rig.view.exitCaption, QStringLiteral("Hide"));
    QCOMPARE(rig.journal.lines.last(), QStringLiteral("MAIL CHECK 0 user ") + rig.address());
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Message Total: 0 Number Marked: 0"));
}

void TestCheckCycle::lostGrantOffersTheSignInOnlyToAUser()
{
    for (const bool unattended : {false, true}) {
        Rig rig;
        rig.server.setMessages(mailbox(2));
        rig.start([&](GeneralSettings &s) {
            s.automatic = unattended;
            s.mailboxes[0].password.clear();
            s.mailboxes[0].signIn = SignInMethod::OAuthOther;
            s.mailboxes[0].oauth = {QStringLiteral("https://id.example/auth"),
                                    QStringLiteral("https://id.example/token"), QStringLiteral("pop"),
                                    QStringLiteral("client"), QString()};
        });
        rig.cycle->startInTray = unattended;
        QList<MailboxLogin> asked;
        rig.cycle->hooks().accessToken = [&asked](const MailboxLogin &login) -> QString {
            asked << login;
            throw ESignInNeededError(login.user + QStringLiteral(" at ") + login.server);
        };
        QStringList offers;
        rig.cycle->hooks().offerSignIn = [&offers](int n, const QString &message) {
            offers << QString::number(n) + QLatin1Char(' ') + message;
        };

        const bool finished = rig.cycle->checkMailbox(1);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].oauth.tokenUrl, QStringLiteral("https://id.example/token"));
        QCOMPARE(rig.server.connectionCount(), 0);
        const QString text = QStringLiteral("Sign in again to user at ") + rig.address();
        QVERIFY(rig.journal.lines.contains(QStringLiteral("ERROR %1 user %2").arg(text, rig.address())));
        QVERIFY(rig.view.errors.isEmpty());
        QCOMPARE(finished, unattended);
        QCOMPARE(offers, unattended ? QStringList() : QStringList{QStringLiteral("1 ") + text});
    }
}

void TestCheckCycle::cancelDuringTheHeaderPassEmptiesTheList()
{
    Rig rig;
    rig.server.setMessages(mailbox(5));
    rig.server.stallAt(QStringLiteral("TOP 3 1"));
    rig.start();
    QObject::connect(&rig.core->list, &QAbstractItemModel::rowsInserted, [&] {
        if (rig.core->list.count() == 2)
            QTimer::singleShot(50, [&] { rig.cycle->cancel(true); });
    });

    QVERIFY(!rig.cycle->checkMailbox(1));
    QCOMPARE(rig.core->list.count(), 0);
    QVERIFY(rig.view.statusTexts.contains(QStringLiteral("Operation has been canceled")));
    QCOMPARE(rig.view.errors, QStringList{QStringLiteral("Operation has been canceled")});
    QCOMPARE(rig.journal.lines,
             (QStringList{QStringLiteral("CANCELED user ") + rig.address(),
                          QStringLiteral("ERROR Operation has been canceled user ") + rig.address()}));
    QCOMPARE(rig.view.canceledIcons, 1);
    QVERIFY(!rig.cycle->checking);
    QVERIFY(!rig.cycle->isBusy());
    QVERIFY(rig.view.buttonsEnabled);
    QVERIFY(!rig.view.progressShown);
    QCOMPARE(rig.server.committedSessions(), 0);
}

void TestCheckCycle::emptyMailboxWithExitOptionLeaves_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("exitWhenEmpty");
    QTest::addColumn<bool>("inTray");
    QTest::addColumn<int>("closed");
    QTest::addColumn<int>("hidden");
    QTest::newRow("manual, exit") << false << true << false << 1 << 0;
    QTest::newRow("manual, exit, tray") << false << true << true << 0 << 1;
    QTest::newRow("manual, stay") << false << false << false << 0 << 0;
    QTest::newRow("automatic, exit") << true << true << false << 0 << 0;
}

void TestCheckCycle::emptyMailboxWithExitOptionLeaves()
{
    QFETCH(bool, automatic);
    QFETCH(bool, exitWhenEmpty);
    QFETCH(bool, inTray);
    QFETCH(int, closed);
    QFETCH(int, hidden);
    Rig rig;
    rig.start([&](GeneralSettings &s) {
        s.automatic = automatic;
        s.exitWhenEmpty = exitWhenEmpty;
    });
    rig.cycle->startInTray = inTray;

    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(rig.view.closed, closed);
    QCOMPARE(rig.view.hiddenToTray, hidden);
    QVERIFY(rig.view.statusTexts.contains(QStringLiteral("0 msg(s) for user on ") + rig.address()));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Message Total: 0 Number Marked: 0"));
    QCOMPARE(rig.journal.lines, QStringList{QStringLiteral("MAIL CHECK 0 user ") + rig.address()});
}

void TestCheckCycle::stoppedServerIsReported()
{
    Rig rig;
    rig.start();
    rig.server.stopListening();

    QVERIFY(!rig.cycle->checkMailbox(1));
    QCOMPARE(rig.view.errors.size(), 1);
    QCOMPARE(rig.view.errors.first(), QStringLiteral("Connection refused (%1)").arg(rig.address()));
    QVERIFY(rig.view.statusTexts.contains(rig.view.errors.first()));
    QCOMPARE(rig.journal.lines,
             QStringList{QStringLiteral("ERROR %1 user %2").arg(rig.view.errors.first(), rig.address())});
}

void TestCheckCycle::listsADovecotMailbox()
{
    DovecotServer dovecot;
    dovecot.addMessages(mailbox(20));
    MS_START_DOVECOT(dovecot);
    Rig rig;
    rig.start(
        [&](GeneralSettings &s) { storeMailbox(s, 1, dovecot.server(), dovecot.userName(), dovecot.password()); });

    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.view.errors.isEmpty());
    QCOMPARE(rig.core->list.count(), 20);
    for (int row = 0; row < 20; ++row) {
        const int i = row + 1;
        QCOMPARE(rig.core->list.entry(row).Subject, subjectOf(i));
        QCOMPARE(rig.core->list.entry(row).Sender, senderOf(i));
        QCOMPARE(rig.core->list.entry(row).Size, QString::number(ScriptedPop3Server::wireSize(messageText(i))));
        QCOMPARE(rig.core->list.entry(row).Date, dateColumnOf(i));
        QCOMPARE(rig.core->list.mark(row), markOf(i));
    }
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Message Total: 20 Number Marked: 6"));
    QCOMPARE(dovecot.storedMessageCount(), 20);
}

void TestCheckCycle::laterCheckListsFromTheStoreAndForgetsWhatIsGone()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QDateTime now(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
    rig.core->memory.now = [&] { return now; };
    QVERIFY(rig.cycle->checkMailbox(1));
    QList<MessageEntry> first;
    QList<PackedHeaders> blocks;
    for (int row = 0; row < 20; ++row) {
        first << rig.core->list.entry(row);
        blocks << rig.core->client().headersOf(row);
        // The row let go of its block; it is read back from the store.
        QVERIFY(rig.core->client().Info().Items(row).HeadersArchived && !blocks.last().isEmpty());
    }

    // The header blocks come from the store: the server sends far less.
    rig.server.removeMessage(2);
    now = now.addDays(1);
    const qint64 sentBefore = rig.server.bytesSent();
    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.server.bytesSent() - sentBefore < sentBefore / 4);
    first.removeAt(1);
    blocks.removeAt(1);
    QCOMPARE(rig.core->list.count(), 19);
    for (int row = 0; row < 19; ++row) {
        const MessageEntry &entry = rig.core->list.entry(row);
        QCOMPARE(QStringList({entry.Subject, entry.Sender, entry.Size, entry.Date}),
                 QStringList({first[row].Subject, first[row].Sender, first[row].Size, first[row].Date}));
        QCOMPARE(entry.Mark, first[row].Mark);
        QCOMPARE(rig.core->client().headersOf(row), blocks[row]);
    }

    // Gone from the server, kept for 30 days; a mailbox removed from the
    // settings takes all it had along.
    const StoreAccount account = storeAccount(GetRemotePOPSettings(rig.core->store, 1));
    MessageStore look(rig.home.filePath(MessageStore::FileName));
    QCOMPARE(look.messageCount(account), 20);
    now = now.addDays(31);
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(look.messageCount(account), 19);
    rig.core->settings.mailboxes[0].server.clear();
    QCOMPARE(rig.core->forgetRemovedMailboxes(), QString());
    QCOMPARE(look.messageCount(account), 0);
}

void TestCheckCycle::whatBecomesOfMessagesTeachesTheLearner()
{
    Rig rig;
    rig.server.setMessages(mailbox(5));
    rig.start();
    const auto learnt = [&rig] {
        const std::optional<LearntCounts> counts = rig.core->learner.counts();
        return counts ? QList<quint32>{counts->spamMessages, counts->hamMessages} : QList<quint32>();
    };
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(learnt(), (QList<quint32>{0, 0}));
    // A check mark set by hand is spam; taking it off makes it good mail.
    rig.core->memory.userMarked(rig.core->client(), 0, MarkState::Check);
    QCOMPARE(learnt(), (QList<quint32>{1, 0}));
    rig.core->memory.userMarked(rig.core->client(), 0, MarkState::None);
    QCOMPARE(learnt(), (QList<quint32>{0, 1}));
    // Unmarked, then taken by the mail program: good mail. A marked one
    // taken so teaches nothing.
    rig.server.removeMessage(4);
    rig.server.removeMessage(2);
    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(learnt(), (QList<quint32>{0, 2}));
    // Learning switched off: nothing more is learnt.
    rig.core->rules.learning.enabled = false;
    rig.core->memory.userMarked(rig.core->client(), 1, MarkState::Check);
    QCOMPARE(learnt(), (QList<quint32>{0, 2}));
}

void TestCheckCycle::storeProblemLetsTheCheckGoOn_data()
{
    QTest::addColumn<QString>("problem");
    QTest::newRow("a file that is not a database") << QStringLiteral("damaged");
    QTest::newRow("a store another program holds") << QStringLiteral("held");
    QTest::newRow("a write that fails midway") << QStringLiteral("full");
}

void TestCheckCycle::storeProblemLetsTheCheckGoOn()
{
    QFETCH(QString, problem);
    Rig rig;
    rig.server.setMessages(mailbox(5));
    const QString path = rig.home.filePath(MessageStore::FileName);
    MessageStore other(path);
    std::unique_ptr<StoreCheck> held;
    if (problem == QLatin1String("damaged")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a database\n");
    } else if (problem == QLatin1String("held")) {
        held = other.beginCheck({QStringLiteral("other"), QStringLiteral("u"), QStringLiteral("POP3"), QString()},
                                QDateTime::currentDateTimeUtc());
        QVERIFY(held);
    } else {
        // The disk fills up once the first header block is written.
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(QSqlDatabase::database(other.connectionName()))
                    .exec(QStringLiteral("CREATE TRIGGER full BEFORE INSERT ON header_blocks"
                                         " BEGIN SELECT RAISE(FAIL, 'database or disk is full'); END")));
    }
    rig.start();
    MailboxMemory memory(path, std::chrono::milliseconds(50));
    rig.cycle->hooks().memory = &memory;

    QVERIFY(rig.cycle->checkMailbox(1));
    QCOMPARE(rig.core->list.count(), 5);
    QVERIFY(rig.view.errors.isEmpty());
    // Without a store to read them back from, the rows keep their blocks.
    for (int row = 0; row < 5; ++row)
        QVERIFY(!rig.core->client().headersOf(row).isEmpty());
    const QString said = problem == QLatin1String("damaged") ? path + QStringLiteral(".bad")
                                                             : QStringLiteral("goes on without the message store");
    const QString status = rig.view.statusTexts.last();
    QVERIFY2(status.startsWith(CheckCycle::totalCountText(5, rig.core->list.markedCount())) && status.contains(said),
             qPrintable(status));
    QCOMPARE(rig.journal.lines.size(), 2);
    QVERIFY2(rig.journal.lines[0].startsWith(QStringLiteral("ERROR ")) && rig.journal.lines[0].contains(said),
             qPrintable(rig.journal.lines[0]));
    // Nothing of the failed check reached the file.
    if (problem == QLatin1String("full"))
        QCOMPARE(other.messageCount(storeAccount(GetRemotePOPSettings(rig.core->store, 1))), 0);
}

QTEST_GUILESS_MAIN(TestCheckCycle)
#include "tst_checkcycle.moc"
