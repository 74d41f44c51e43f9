// The delete pass against a scripted mailbox and a private Dovecot: what is
// deleted on the server, what the log records, the spam counter, the
// question, the mail program launched afterwards, and the failures that
// must delete nothing and claim nothing.

#include "app/appfixture.h"
#include "app/consolecheck.h"
#include "app/deletion.h"
#include "app/deletionlog.h"
#include "app/deletionshell.h"
#include "app/programcore.h"
#include "mail/mailerrors.h"
#include "mail/packedheaders.h"
#include "store/messagestore.h"
#include "support/dovecotserver.h"
#include "support/handtimers.h"
#include "support/recordingcheckview.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace appfixture;

// What the server does to the sessions after a check: each STAT starts one,
// the delete pass's is the first and the listing's the second.
using ListingScript = std::function<void(ScriptedPop3Server &)>;
Q_DECLARE_METATYPE(ListingScript)

namespace {

const QDateTime kWhen(QDate(2024, 3, 5), QTime(14, 7, 30));
// What a server that removes deleted files only after QUIT answers a
// listing that starts at once.
const QByteArray kGone = "-ERR Can't open the message file - it's gone!";

// Runs out every pause a pass waits for, at once, from the event loop the
// pass keeps running while it waits; meanwhile runs first.
struct PauseRunner
{
    QTimer poll;
    std::function<void()> meanwhile;
    explicit PauseRunner(HandTimers &timers)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, &timers] {
            if (timers.activeCount() == 0)
                return;
            if (meanwhile)
                meanwhile();
            timers.advance(DeletionPass::RelistingPause);
        });
        poll.start(5);
    }
};
const QString kStamp = QStringLiteral("Tue 3/5/24 2:07 PM");

// The delete pass runs with the main window hidden.
struct QuietView : RecordingCheckView
{
    QuietView() { visible = false; }
};

struct Rig
{
    QTemporaryDir home;
    ScriptedPop3Server server;
    std::unique_ptr<ProgramCore> core;
    QuietView view;
    ScriptedPrompts prompts;
    std::unique_ptr<DeletionLog> log;
    std::unique_ptr<CheckCycle> cycle;
    std::unique_ptr<DeletionPass> deletion;
    HandTimers timers;
    QStringList logErrors;
    QStringList launched; // mail programs started

    Rig()
    {
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        server.listen();
    }

    QString logPath() const { return home.filePath(QStringLiteral("logfile.txt")); }

    // Mailbox 1 is the scripted server unless edit says otherwise; manual
    // mode with the question answered Yes and no mail program launched.
    void start(const std::function<void(GeneralSettings &)> &edit = {})
    {
        storeSettings([&](GeneralSettings &s) {
            storeMailbox(s, 1, server.address(), server.user(), server.password());
            s.logFile = logPath();
            s.launchAfterDelete = false;
            if (edit)
                edit(s);
        });
        storeRules(home.path());
        core = std::make_unique<ProgramCore>(home.path());
        QCOMPARE(core->load(), QStringList());
        log = std::make_unique<DeletionLog>(core->settings);
        log->now = [] { return kWhen; };
        log->onError = [this](const QString &message) { logErrors << message; };
        CheckHooks hooks = core->checkHooks();
        hooks.journal = log.get();
        cycle = std::make_unique<CheckCycle>(core->clients, core->list, core->settings, view, hooks);
        DeletionHooks deletionHooks;
        deletionHooks.saveGeneralSettings = [this] { return core->settings.SaveSettings(core->store); };
        deletionHooks.startProgram = [this](const QString &program) {
            launched << program;
            return startMailProgram(program);
        };
        deletionHooks.timers = &timers;
        deletion = std::make_unique<DeletionPass>(*cycle, core->clients, core->list, core->settings, view, *log,
                                                  &prompts, deletionHooks);
        prompts.yesNoAnswers << true;
    }

    QString logText() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
    QStringList logLines(const QString &start) const
    {
        QStringList lines;
        for (const QString &line : logText().split(QStringLiteral("\r\n")))
            if (line.startsWith(start))
                lines << line;
        return lines;
    }
    QList<MarkState> marks() const
    {
        QList<MarkState> result;
        for (int row = 0; row < core->list.count(); ++row)
            result << core->list.mark(row);
        return result;
    }
    QString storedCount()
    {
        GeneralSettings stored;
        stored.ReadSettings(core->store);
        return stored.spamCount;
    }
};

// The five-line record of message i of the fixture mailbox.
QString recordOf(int i, const QString &server, const QString &user)
{
    return QStringList{QStringLiteral("DELETE SPAM on ") + kStamp,
                       QStringLiteral("   Server:  ") + server + QStringLiteral(" Mailbox: ") + user,
                       QStringLiteral("   Subject: ") + subjectOf(i), QStringLiteral("   Sender:  ") + senderOf(i),
                       QStringLiteral("   Size:    ") + QString::number(ScriptedPop3Server::wireSize(messageText(i)))
                           + QStringLiteral("  Date: ") + dateColumnOf(i)}
        .join(QStringLiteral("\r\n"));
}

// Every record in the log, in order.
QStringList records(const QString &log)
{
    QStringList result;
    const QStringList lines = log.split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(QStringLiteral("DELETE SPAM")))
            result << lines.mid(i, 5).join(QStringLiteral("\r\n"));
    }
    return result;
}

QList<int> spamNumbers()
{
    QList<int> numbers;
    for (int i = 1; i <= 20; ++i)
        if (isMarkedForDeletion(markOf(i)))
            numbers << i;
    return numbers; // 4, 6, 8, 12, 16, 20
}

// What the message store in home says became of the messages: "<fate>
// [to <folder>]: <count>", by fate.
QStringList storedFates(const QTemporaryDir &home)
{
    MessageStore look(home.filePath(MessageStore::FileName));
    QSqlQuery query(look.open() ? QSqlDatabase::database(look.connectionName()) : QSqlDatabase());
    QStringList fates;
    if (!query.exec(QStringLiteral("SELECT fate || coalesce(' to ' || moved_to, ''), count(*) FROM messages"
                                   " GROUP BY 1 ORDER BY 1")))
        return {query.lastError().text()};
    while (query.next())
        fates << query.value(0).toString() + QStringLiteral(": ") + query.value(1).toString();
    return fates;
}

QList<int> allBut(const QList<int> &deleted, int count = 20)
{
    QList<int> left;
    for (int i = 1; i <= count; ++i)
        if (!deleted.contains(i))
            left << i;
    return left;
}

} // namespace

class TestDeletion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void deletesTheMarkedRowsAndRecordsEach();
    void spamCounterAddsUpAndIsStored();
    void nothingMarkedOrAnswerNoSendsNothing();
    void launchesTheMailProgramWhenMailIsLeft();
    void allMarkedListsAgainInsteadOfLaunching();
    void automaticModeAsksNothing();
    void connectionLostBeforeQuitClaimsNothing();
    void refusedDeleIsNeitherLoggedNorCounted();
    void changedMailboxDeletesNothing();
    void changedNumbersStillDeleteByUidl();
    void clearedMarkAfterAFailedPassIsNotDeleted();
    void refusedDeleWithLaunchSetListsAgain();
    void logThatCannotBeOpenedSendsNothing();
    void blankLogNameStillDeletes();
    void fullDiskAfterTheCommitListsEveryDeletedMessage();
    void secondPassDuringAPassIsRefused();
    void launchWithoutMailProgramSaysSo();
    void deletesFromADovecotMailbox();
    void threeDeletionsTeachTheLearnerTheFourth();
    void deletedMessagesKeepTheirFateInTheStore();
    // A listing refused right after a committed pass (the server had not
    // removed the files yet) is tried once more; the deletions are
    // reported whatever the listing does.
    void committedPassIsReportedBeforeTheListing_data();
    void committedPassIsReportedBeforeTheListing();
    void commandLinePrintsTheDeletionsBeforeTheListing_data();
    void commandLinePrintsTheDeletionsBeforeTheListing();
    void commandLineDeletesFromDovecot();
    void commandLineMovesImapSpamToJunk();
};

void TestDeletion::deletesTheMarkedRowsAndRecordsEach()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    // An exception row and the question-mark rows stay on the server.
    rig.core->list.setMark(0, MarkState::Exception);

    QVERIFY(rig.deletion->btDeleteClick());

    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::YesNo), QStringList{DeletionPass::ConfirmText});
    QCOMPARE(numbersIn(rig.server.messages()), allBut(spamNumbers()));
    QStringList expected;
    for (int i : spamNumbers())
        expected << recordOf(i, rig.server.address(), rig.server.user());
    QCOMPARE(records(rig.logText()), expected);
    QCOMPARE(rig.core->settings.spamCount, QStringLiteral("6"));
    QCOMPARE(rig.storedCount(), QStringLiteral("6"));
    QVERIFY(rig.view.statusTexts.contains(QStringLiteral("Deleting 4")));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("There were 6 messages deleted"));
    // The mailbox is listed again, marked by the rules as in a check.
    QCOMPARE(rig.core->list.count(), 14);
    QCOMPARE(rig.core->list.entry(3).Subject, subjectOf(5));
    QCOMPARE(rig.core->list.mark(3), MarkState::Question);
    QVERIFY(!rig.view.busy);
    QVERIFY(!rig.deletion->deleting());
    QVERIFY(rig.view.errors.isEmpty());
}

void TestDeletion::spamCounterAddsUpAndIsStored()
{
    Rig rig;
    QList<QByteArray> first = {messageText(1), messageText(4), messageText(8), messageText(12)};
    rig.server.setMessages(first);
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.prompts.yesNoAnswers << true;
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.storedCount(), QStringLiteral("3"));

    rig.server.addMessage(messageText(16));
    rig.server.addMessage(messageText(6));
    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.core->settings.spamCount, QStringLiteral("5"));
    QCOMPARE(rig.storedCount(), QStringLiteral("5"));
    QCOMPARE(numbersIn(rig.server.messages()), QList<int>{1});
    QCOMPARE(records(rig.logText()).size(), 5);
}

void TestDeletion::nothingMarkedOrAnswerNoSendsNothing()
{
    Rig rig;
    rig.server.setMessages({messageText(1), messageText(4)});
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    const int connections = rig.server.connectionCount();

    rig.prompts.yesNoAnswers.clear();
    rig.prompts.yesNoAnswers << false;
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.server.connectionCount(), connections);
    QCOMPARE(rig.core->list.mark(1), MarkState::Check);

    rig.core->list.setAllMarks(MarkState::None);
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information), QStringList{DeletionPass::NothingMarkedText});
    QCOMPARE(rig.server.connectionCount(), connections);
    QCOMPARE(rig.server.messages().size(), 2);
    QCOMPARE(rig.storedCount(), QStringLiteral("0"));
}

void TestDeletion::launchesTheMailProgramWhenMailIsLeft()
{
    Rig rig;
    const QString marker = rig.home.filePath(QStringLiteral("launched"));
    const QString program = rig.home.filePath(QStringLiteral("mailer.sh"));
    QFile script(program);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho started > '" + marker.toUtf8() + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    rig.server.setMessages(mailbox(5));
    rig.start([&](GeneralSettings &s) {
        s.launchAfterDelete = true;
        s.mailProgram = program;
    });
    QVERIFY(rig.cycle->checkMailbox(1));
    const int connections = rig.server.connectionCount();
    QVERIFY(rig.deletion->btDeleteClick());

    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5}));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
    QCOMPARE(rig.core->list.count(), 0);
    // No listing after the pass: the mail program fetches what is left.
    QCOMPARE(rig.server.connectionCount(), connections + 1);
    QVERIFY(rig.view.errors.isEmpty());
}

void TestDeletion::allMarkedListsAgainInsteadOfLaunching()
{
    Rig rig;
    rig.server.setMessages({messageText(4), messageText(8)});
    rig.start([&](GeneralSettings &s) {
        s.launchAfterDelete = true;
        s.mailProgram = QStringLiteral("/nonexistent/mailer");
    });
    QVERIFY(rig.cycle->checkMailbox(1));
    const int connections = rig.server.connectionCount();
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.server.messages().size(), 0);
    QCOMPARE(rig.server.connectionCount(), connections + 2);
    QVERIFY(rig.view.errors.isEmpty()); // the missing mail program was never tried
}

void TestDeletion::automaticModeAsksNothing()
{
    Rig rig;
    rig.server.setMessages(mailbox(8));
    rig.start([](GeneralSettings &s) {
        s.automatic = true;
        s.launchAfterDelete = true;
    });
    rig.prompts.yesNoAnswers.clear();
    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.deletion->btDeleteClick());
    QVERIFY(rig.prompts.asked.isEmpty());
    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5, 7}));
    QCOMPARE(rig.core->list.count(), 5); // listed again, never launched
}

void TestDeletion::connectionLostBeforeQuitClaimsNothing()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    const QList<MarkState> before = rig.marks();
    rig.server.closeAt(QStringLiteral("QUIT"));

    QVERIFY(!rig.deletion->btDeleteClick());

    QCOMPARE(rig.server.messages().size(), 20);
    QVERIFY(records(rig.logText()).isEmpty());
    QCOMPARE(rig.logLines(QStringLiteral("ERROR ")).size(), 1);
    QCOMPARE(rig.view.errors.size(), 1);
    QCOMPARE(rig.marks(), before);
    QCOMPARE(rig.storedCount(), QStringLiteral("0"));
    QVERIFY(!rig.deletion->deleting());

    // The rows are still marked: a second pass deletes them.
    rig.prompts.yesNoAnswers << true;
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(numbersIn(rig.server.messages()), allBut(spamNumbers()));
    QCOMPARE(records(rig.logText()).size(), 6);
}

void TestDeletion::refusedDeleIsNeitherLoggedNorCounted()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.server.failAt(QStringLiteral("DELE 8"), "-ERR message is locked");

    QVERIFY(rig.deletion->btDeleteClick());

    QList<int> deleted = spamNumbers();
    deleted.removeOne(8);
    QCOMPARE(numbersIn(rig.server.messages()), allBut(deleted));
    QStringList expected;
    for (int i : deleted)
        expected << recordOf(i, rig.server.address(), rig.server.user());
    QCOMPARE(records(rig.logText()), expected);
    QCOMPARE(rig.storedCount(), QStringLiteral("5"));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("There were 5 messages deleted"));
}

void TestDeletion::changedMailboxDeletesNothing()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    // Without UIDL the pass can only compare each message with its row.
    rig.server.setCapabilities({QStringLiteral("TOP"), QStringLiteral("USER")});
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    const QList<MarkState> before = rig.marks();
    // Another mail program fetched message 1: every number now names the
    // next message.
    rig.server.removeMessage(1);

    QVERIFY(!rig.deletion->btDeleteClick());

    const QString changed = EMailboxChangedError().message();
    QCOMPARE(rig.view.errors, QStringList{changed});
    QCOMPARE(rig.server.messages().size(), 19);
    QVERIFY(records(rig.logText()).isEmpty());
    QCOMPARE(rig.logLines(QStringLiteral("ERROR ")),
             QStringList{QStringLiteral("ERROR %1 FOR user ON %2 AT %3").arg(changed, rig.server.address(), kStamp)});
    QCOMPARE(rig.marks(), before);
    QCOMPARE(rig.storedCount(), QStringLiteral("0"));
}

void TestDeletion::changedNumbersStillDeleteByUidl()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.server.removeMessage(1);

    QVERIFY(rig.deletion->btDeleteClick());

    QCOMPARE(numbersIn(rig.server.messages()), allBut(spamNumbers() << 1));
    QCOMPARE(rig.storedCount(), QStringLiteral("6"));
    QCOMPARE(rig.core->list.count(), 13);
}

void TestDeletion::clearedMarkAfterAFailedPassIsNotDeleted()
{
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.server.closeAt(QStringLiteral("QUIT"));
    QVERIFY(!rig.deletion->btDeleteClick());
    QCOMPARE(rig.server.messages().size(), 20);
    rig.cycle->cancel(true);

    // The user takes the check mark off message 4, which the failed pass
    // had flagged on the client, and deletes again.
    QCOMPARE(rig.core->list.entry(3).Subject, subjectOf(4));
    rig.core->list.setMark(3, MarkState::None);
    rig.server.clearDialogue();
    rig.prompts.yesNoAnswers << true;
    QVERIFY(rig.deletion->btDeleteClick());

    QList<int> deleted = spamNumbers();
    deleted.removeOne(4);
    QCOMPARE(numbersIn(rig.server.messages()), allBut(deleted));
    QVERIFY(!rig.server.commands().contains(QStringLiteral("DELE 4")));
    QCOMPARE(records(rig.logText()).size(), 5);
    QCOMPARE(rig.storedCount(), QStringLiteral("5"));
}

void TestDeletion::refusedDeleWithLaunchSetListsAgain()
{
    Rig rig;
    rig.server.setMessages(mailbox(8));
    rig.start([&](GeneralSettings &s) {
        s.launchAfterDelete = true;
        s.mailProgram = QStringLiteral("/nonexistent/mailer");
    });
    QVERIFY(rig.cycle->checkMailbox(1));
    const int connections = rig.server.connectionCount();
    rig.server.failAt(QStringLiteral("DELE 8"), "-ERR message is locked");

    QVERIFY(rig.deletion->btDeleteClick());

    // Message 8 is still there: the user sees the mailbox again instead of
    // the mail program fetching it.
    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5, 7, 8}));
    QVERIFY(rig.launched.isEmpty());
    QCOMPARE(rig.server.connectionCount(), connections + 2);
    QCOMPARE(rig.core->list.count(), 6);
    QCOMPARE(rig.core->list.entry(5).Subject, subjectOf(8));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("There were 2 messages deleted"));
    QVERIFY(rig.view.errors.isEmpty());
}

void TestDeletion::logThatCannotBeOpenedSendsNothing()
{
    Rig rig;
    rig.server.setMessages(mailbox(8));
    const QString unopenable = rig.home.filePath(QStringLiteral("no/such/folder/log.txt"));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    const QList<MarkState> before = rig.marks();
    const int connections = rig.server.connectionCount();
    rig.core->settings.logFile = unopenable;

    QVERIFY(!rig.deletion->btDeleteClick());

    const QString openFailure = QStringLiteral("The log file %1 could not be written: No such file or directory");
    QCOMPARE(rig.view.errors, QStringList{openFailure.arg(QDir::toNativeSeparators(unopenable))});
    QVERIFY(rig.logErrors.isEmpty());
    QCOMPARE(rig.server.connectionCount(), connections);
    QCOMPARE(rig.server.messages().size(), 8);
    QCOMPARE(rig.marks(), before);
    QCOMPARE(rig.storedCount(), QStringLiteral("0"));
    // The window never went busy, and a later pass can run.
    QVERIFY(!rig.view.busy);
    QVERIFY(rig.view.buttonsEnabled);
    QVERIFY(!rig.deletion->deleting());
    rig.core->settings.logFile = rig.logPath();
    rig.prompts.yesNoAnswers << true;
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5, 7}));
}

void TestDeletion::blankLogNameStillDeletes()
{
    Rig rig;
    rig.server.setMessages(mailbox(8));
    rig.start([](GeneralSettings &s) { s.logFile = QStringLiteral("  "); });
    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5, 7}));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("There were 3 messages deleted"));
    QVERIFY(rig.view.errors.isEmpty());
    QVERIFY(rig.logErrors.isEmpty());
    QVERIFY(!QFile::exists(rig.logPath()));
}

void TestDeletion::fullDiskAfterTheCommitListsEveryDeletedMessage()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("needs /dev/full");
    Rig rig;
    rig.server.setMessages(mailbox(8));
    // The log opens, and then the disk is full.
    rig.start([](GeneralSettings &s) { s.logFile = QStringLiteral("/dev/full"); });
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.logErrors.clear();

    QVERIFY(rig.deletion->btDeleteClick());

    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5, 7}));
    QStringList deleted;
    for (int i : {4, 6, 8})
        deleted << QStringLiteral("Sender: %1  Subject: %2  Date: %3").arg(senderOf(i), subjectOf(i), dateColumnOf(i));
    QCOMPARE(rig.logErrors, QStringList{QStringLiteral("The log file /dev/full could not be written: No space left "
                                                       "on device\n\nThese messages were deleted from the server:\n")
                                        + deleted.join(QLatin1Char('\n'))});
    // What the server did still counts, and the mailbox is listed again.
    QCOMPARE(rig.storedCount(), QStringLiteral("3"));
    QCOMPARE(rig.core->list.count(), 5);
    QVERIFY(rig.view.errors.isEmpty());
}

void TestDeletion::secondPassDuringAPassIsRefused()
{
    Rig rig;
    rig.server.setMessages(mailbox(8));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    int nested = 0;
    rig.core->client().OnDeleting = [&](int num) {
        rig.deletion->msRemotePOP1Deleting(num);
        ++nested;
        QVERIFY(rig.deletion->DeleteMessages()); // returns at once
    };
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(nested, 3);
    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::YesNo).size(), 1);
    QCOMPARE(rig.server.messages().size(), 5);
}

void TestDeletion::launchWithoutMailProgramSaysSo()
{
    Rig rig;
    rig.server.setMessages(mailbox(2));
    rig.start([](GeneralSettings &s) { s.mailProgram = QStringLiteral("  "); });
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.deletion->btLaunchClick();
    rig.core->settings.mailProgram = QStringLiteral("/nonexistent/mailer");
    rig.deletion->btLaunchClick();
    QCOMPARE(rig.view.errors, (QStringList{DeletionPass::NoMailProgramText, DeletionPass::LaunchFailedText}));
    QCOMPARE(rig.core->list.count(), 2);
}

// A message from someone at domain (the learner's lessons and the mailbox).
QByteArray mailFrom(const QByteArray &name, const QByteArray &address, const QByteArray &subject, int i)
{
    const QByteArray domain = address.mid(address.indexOf('@') + 1);
    return MessageBuilder::assemble({"From: \"" + name + "\" <" + address + ">", "To: user@example.org",
                                     "Subject: " + subject, "Date: Mon, 07 Dec 2026 09:00:00 +0000",
                                     "Message-ID: <" + QByteArray::number(i) + "@" + domain + ">"},
                                    {"Hello"});
}

void TestDeletion::threeDeletionsTeachTheLearnerTheFourth()
{
    DovecotServer dovecot;
    QList<QByteArray> messages;
    for (int i = 1; i <= 4; ++i)
        messages << mailFrom("Watch Seller", "seller@bargains.example", "fine watches " + QByteArray::number(i), i);
    messages << mailFrom("Ann", "ann@work.example", "minutes", 5);
    dovecot.addMessages(messages);
    MS_START_DOVECOT(dovecot);
    Rig rig;
    rig.start(
        [&](GeneralSettings &s) { storeMailbox(s, 1, dovecot.server(), dovecot.userName(), dovecot.password()); });
    // What the learner knew before: 20 spam and 20 good messages of others.
    MessageLearner &learner = rig.core->learner;
    QVERIFY(learner.beginBatch());
    for (int i = 0; i < 20; ++i) {
        const QByteArray n = QByteArray::number(i);
        learner.teachMessage(
            headerBlockLines(mailFrom("Promo " + n, "deal" + n + "@promo" + n + ".example", "save big " + n, 100 + i)),
            Label::Spam);
        learner.teachMessage(
            headerBlockLines(mailFrom("Colleague " + n, "c" + n + "@work.example", "notes " + n, 200 + i)), Label::Ham);
    }
    QVERIFY(learner.commitBatch());

    QVERIFY(rig.cycle->checkMailbox(1));
    for (int row = 0; row < 5; ++row)
        QCOMPARE(rig.core->list.mark(row), MarkState::None);
    for (int row = 0; row < 3; ++row)
        rig.core->list.setMark(row, MarkState::Check);
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.core->list.count(), 2);
    QCOMPARE(rig.core->list.entry(0).Subject, QStringLiteral("fine watches 4"));
    QCOMPARE(rig.core->list.mark(0), MarkState::Question);
    QCOMPARE(rig.core->list.mark(1), MarkState::None);
}

void TestDeletion::deletesFromADovecotMailbox()
{
    DovecotServer dovecot;
    dovecot.addMessages(mailbox(20));
    MS_START_DOVECOT(dovecot);
    Rig rig;
    rig.start(
        [&](GeneralSettings &s) { storeMailbox(s, 1, dovecot.server(), dovecot.userName(), dovecot.password()); });
    QVERIFY(rig.cycle->checkMailbox(1));
    rig.core->list.setMark(0, MarkState::Exception);
    QVERIFY(rig.deletion->btDeleteClick());

    QVERIFY2(rig.view.errors.isEmpty(), qPrintable(rig.view.errors.join(QLatin1Char('\n'))));
    QCOMPARE(numbersIn(dovecot.storedMessages()), allBut(spamNumbers()));
    QStringList expected;
    for (int i : spamNumbers())
        expected << recordOf(i, dovecot.server(), dovecot.userName());
    QCOMPARE(records(rig.logText()), expected);
    QCOMPARE(rig.core->list.count(), 14);
    QCOMPARE(rig.storedCount(), QStringLiteral("6"));
}

void TestDeletion::deletedMessagesKeepTheirFateInTheStore()
{
    Rig rig;
    rig.server.setMessages(mailbox(8));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    QVERIFY(rig.deletion->btDeleteClick());
    QCOMPARE(rig.core->list.count(), 5);

    // The listing after the pass takes the deleted ones for removed by
    // Mailsieve, not for gone by other hands.
    QCOMPARE(storedFates(rig.home), QStringList({QStringLiteral("deleted: 3"), QStringLiteral("present: 5")}));
}

void TestDeletion::committedPassIsReportedBeforeTheListing_data()
{
    QTest::addColumn<ListingScript>("script");
    QTest::addColumn<bool>("cancel"); // during the pause
    QTest::addColumn<int>("pauses");
    QTest::addColumn<QString>("listingError"); // empty: listed again
    const ListingScript refusedOnce = [](ScriptedPop3Server &server) {
        server.failAt(QStringLiteral("STAT"), kGone, 2);
    };
    QTest::newRow("refused once") << refusedOnce << false << 1 << QString();
    QTest::newRow("refused twice") << ListingScript([](ScriptedPop3Server &server) {
        server.failAt(QStringLiteral("STAT"), kGone, 2);
        server.failAt(QStringLiteral("STAT"), kGone, 3);
    }) << false << 1 << QString::fromLatin1(kGone);
    // Only a refusal means the server may not be done yet.
    QTest::newRow("connection lost") << ListingScript([](ScriptedPop3Server &server) {
        server.closeAt(QStringLiteral("STAT"), 2);
    }) << false << 0 << QStringLiteral("closed");
    QTest::newRow("canceled while waiting") << refusedOnce << true << 1 << QStringLiteral("canceled");
}

void TestDeletion::committedPassIsReportedBeforeTheListing()
{
    QFETCH(ListingScript, script);
    QFETCH(bool, cancel);
    QFETCH(int, pauses);
    QFETCH(QString, listingError);
    Rig rig;
    rig.server.setMessages(mailbox(20));
    rig.start();
    QVERIFY(rig.cycle->checkMailbox(1));
    script(rig.server);
    PauseRunner runner(rig.timers);
    if (cancel)
        runner.meanwhile = [&rig] { rig.cycle->cancel(false); };

    QCOMPARE(rig.deletion->btDeleteClick(), listingError.isEmpty());

    QCOMPARE(rig.timers.now(), pauses * DeletionPass::RelistingPause);
    QCOMPARE(numbersIn(rig.server.messages()), allBut(spamNumbers()));
    QCOMPARE(records(rig.logText()).size(), 6);
    QCOMPARE(rig.storedCount(), QStringLiteral("6"));
    QCOMPARE(rig.deletion->lastDeleted(), 6);
    const QString deleted = DeletionPass::deletedText(6);
    const qsizetype reported = rig.view.statusTexts.indexOf(deleted);
    QVERIFY(reported >= 0);
    QVERIFY(reported < rig.view.statusTexts.lastIndexOf(QStringLiteral("Opening connection for user on ")
                                                        + rig.server.address()));
    QCOMPARE(rig.view.statusTexts.last(), deleted);
    QVERIFY(!rig.view.busy);
    if (listingError.isEmpty()) {
        QVERIFY(rig.view.errors.isEmpty());
        QCOMPARE(rig.core->list.count(), 14);
        QVERIFY(rig.logLines(QStringLiteral("ERROR ")).isEmpty());
        return;
    }
    QCOMPARE(rig.view.errors.size(), 1);
    QVERIFY2(rig.view.errors[0].startsWith(DeletionPass::listingFailedText(6, QString())),
             qPrintable(rig.view.errors[0]));
    QVERIFY2(rig.view.errors[0].contains(listingError, Qt::CaseInsensitive), qPrintable(rig.view.errors[0]));
    QCOMPARE(rig.logLines(QStringLiteral("ERROR ")).size(), 1);
    QCOMPARE(rig.core->list.count(), 0);
    QCOMPARE(rig.server.commands().count(QStringLiteral("STAT")), 3 + pauses - int(cancel));
}

void TestDeletion::commandLinePrintsTheDeletionsBeforeTheListing_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<int>("status");
    QTest::newRow("refused once") << 1 << 0;
    QTest::newRow("refused twice") << 2 << 3;
}

void TestDeletion::commandLinePrintsTheDeletionsBeforeTheListing()
{
    QFETCH(int, refusals);
    QFETCH(int, status);
    Rig rig;
    rig.server.setMessages(mailbox(10));
    rig.start();
    // The check's STAT, the pass's, then the listing's.
    for (int i = 0; i < refusals; ++i)
        rig.server.failAt(QStringLiteral("STAT"), kGone, 3 + i);
    PauseRunner runner(rig.timers);
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    const int code = runConsoleCheck(
        {QStringLiteral("mailsieve"), QStringLiteral("--check"), QStringLiteral("--delete")}, out, err, &rig.timers);
    out.flush();
    err.flush();
    QCOMPARE(code, status);
    QCOMPARE(rig.timers.now(), DeletionPass::RelistingPause);
    QCOMPARE(numbersIn(rig.server.messages()), (QList<int>{1, 2, 3, 5, 7, 9, 10}));
    QCOMPARE(records(rig.logText()).size(), 3);
    const QStringList lines = outText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(11), QStringLiteral("There were 3 messages deleted"));
    if (status == 0) {
        QCOMPARE(errText, QString());
        QCOMPARE(lines.mid(12), QStringList{QStringLiteral("Message Total: 7 Number Marked: 0")});
    } else {
        QCOMPARE(lines.size(), 12);
        QCOMPARE(errText, QStringLiteral("mailsieve: ") + DeletionPass::listingFailedText(3, QString::fromLatin1(kGone))
                              + u'\n');
    }
}

void TestDeletion::commandLineDeletesFromDovecot()
{
    DovecotServer dovecot;
    dovecot.addMessages(mailbox(10));
    MS_START_DOVECOT(dovecot);
    Rig rig;
    rig.start(
        [&](GeneralSettings &s) { storeMailbox(s, 1, dovecot.server(), dovecot.userName(), dovecot.password()); });
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    const int code =
        runConsoleCheck({QStringLiteral("mailsieve"), QStringLiteral("--check"), QStringLiteral("--delete")}, out, err);
    out.flush();
    QCOMPARE(code, 0);
    const QStringList lines = outText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 10 + 3);
    QCOMPARE(lines[10], QStringLiteral("Message Total: 10 Number Marked: 3"));
    QCOMPARE(lines[11], QStringLiteral("There were 3 messages deleted"));
    QCOMPARE(lines[12], QStringLiteral("Message Total: 7 Number Marked: 0"));
    QCOMPARE(numbersIn(dovecot.storedMessages()), (QList<int>{1, 2, 3, 5, 7, 9, 10}));
    QCOMPARE(records(rig.logText()).size(), 3);
    QCOMPARE(rig.logLines(QStringLiteral("MAIL CHECK 10 msg(s)")).size(), 1);
    QCOMPARE(rig.storedCount(), QStringLiteral("3"));
}

void TestDeletion::commandLineMovesImapSpamToJunk()
{
    if (!DovecotServer::imapAvailable() && !DovecotServer::required())
        QSKIP("Dovecot's IMAP server is not installed");
    DovecotServer dovecot;
    dovecot.addMessages(mailbox(10));
    MS_START_DOVECOT(dovecot);
    Rig rig;
    rig.start();
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    qputenv("MAILSIEVE_PASSWORD", dovecot.password().toUtf8());
    const int code = runConsoleCheck({QStringLiteral("mailsieve"), QStringLiteral("--check"),
                                      QStringLiteral("--server"), dovecot.imapServer(), QStringLiteral("--user"),
                                      dovecot.userName(), QStringLiteral("--security"), QStringLiteral("None"),
                                      QStringLiteral("--protocol"), QStringLiteral("imap"), QStringLiteral("--delete")},
                                     out, err);
    qunsetenv("MAILSIEVE_PASSWORD");
    out.flush();
    err.flush();
    QVERIFY2(code == 0, qPrintable(errText));
    const QStringList lines = outText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 10 + 3);
    QCOMPARE(lines[11], QStringLiteral("There were 3 messages deleted"));
    QCOMPARE(lines[12], QStringLiteral("Message Total: 7 Number Marked: 0"));
    QCOMPARE(numbersIn(dovecot.storedMessages()), (QList<int>{1, 2, 3, 5, 7, 9, 10}));
    QCOMPARE(numbersIn(dovecot.storedMessages(QStringLiteral("Junk"))), (QList<int>{4, 6, 8}));
    QCOMPARE(storedFates(rig.home), QStringList({QStringLiteral("moved to Junk: 3"), QStringLiteral("present: 7")}));
    // Each record names the folder its message went to.
    const QStringList logLines = rig.logText().split(QStringLiteral("\r\n"));
    QCOMPARE(logLines.filter(QStringLiteral("DELETE SPAM")).size(), 3);
    QCOMPARE(logLines.filter(QStringLiteral("   Moved to: Junk")).size(), 3);
}

QTEST_MAIN(TestDeletion)
#include "tst_deletion.moc"
