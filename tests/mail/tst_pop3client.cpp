// The POP3 client against the scripted server: the exact wire exchange and
// event order of a check and of a delete pass, and how every failure ends a
// session without committing anything.

#include "mail/headers.h"
#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/failuretext.h"
#include "support/memoryheadercache.h"
#include "support/memoryserver.h"
#include "support/scriptedpop3server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &body = "Hello there.\r\n")
{
    return "From: Jane Roe <jane@example.org>\r\n"
           "Subject: "
           + subject
           + "\r\n"
             "Date: Sat, 05 Jun 1999 10:22:05 -0400\r\n"
             "\r\n"
           + body;
}

QStringList login(const ScriptedPop3Server &server, int count)
{
    qint64 octets = 0;
    for (const QByteArray &message : server.messages())
        octets += message.size();
    return {"S: +OK POP3 server ready",
            "C: CAPA",
            "S: +OK Capability list follows",
            "C: USER user",
            "S: +OK send your password",
            "C: PASS secret",
            "S: +OK logged in",
            "C: STAT",
            QStringLiteral("S: +OK %1 %2").arg(count).arg(octets)};
}

QStringList topExchange(const ScriptedPop3Server &server, int number)
{
    const qint64 size = server.messages().at(number - 1).size();
    return {QStringLiteral("C: LIST %1").arg(number), QStringLiteral("S: +OK %1 %2").arg(number).arg(size),
            QStringLiteral("C: TOP %1 1").arg(number), "S: +OK"};
}

const QStringList quit = {"C: QUIT", "S: +OK bye"};

// Records every event of the client, except progress, as text.
struct EventLog
{
    QStringList events;
    QStringList errors;

    void attach(TmsRemotePOP &pop)
    {
        pop.OnOpen = [this] { events << "Open"; };
        pop.OnClosing = [this] { events << "Closing"; };
        pop.OnClosed = [this] { events << "Closed"; };
        pop.OnCancel = [this] { events << "Cancel"; };
        pop.OnError = [this](QString &msg) {
            events << "Error";
            errors << msg;
        };
        pop.OnUpdatingInfo = [this] { events << "UpdatingInfo"; };
        pop.OnNextInfoUpdated = [this](int num) { events << QStringLiteral("NextInfoUpdated %1").arg(num); };
        pop.OnInfoUpdated = [this] { events << "InfoUpdated"; };
        pop.OnTransferringData = [this] { events << "TransferringData"; };
        pop.OnRetrieving = [this](int num) { events << QStringLiteral("Retrieving %1").arg(num); };
        pop.OnRetrieved = [this](int num) { events << QStringLiteral("Retrieved %1").arg(num); };
        pop.OnDeleting = [this](int num) { events << QStringLiteral("Deleting %1").arg(num); };
        pop.OnDataTransfered = [this] { events << "DataTransfered"; };
    }
};

} // namespace

class TestPop3Client : public QObject
{
    Q_OBJECT

private:
    ScriptedPop3Server *server = nullptr;
    TmsRemotePOP *pop = nullptr;
    EventLog log;

    void listThree()
    {
        server->setMessages({mail("one"), mail("two"), mail("three")});
        pop->UpdateInfo();
        server->clearDialogue();
        log.events.clear();
    }

private slots:
    void init()
    {
        server = new ScriptedPop3Server(this);
        QVERIFY(server->listen());
        pop = new TmsRemotePOP(this);
        server->logIn(*pop);
        pop->setTimeOut(5);
        log = EventLog();
        log.attach(*pop);
    }

    void cleanup()
    {
        delete pop;
        delete server;
    }

    // --- A check ------------------------------------------------------

    void updateInfoListsEveryMessageInOneSession()
    {
        server->setMessages({mail("first"), mail("second")});
        pop->UpdateInfo();

        QCOMPARE(server->dialogue(), login(*server, 2) + topExchange(*server, 1) + topExchange(*server, 2) + quit);
        QCOMPARE(log.events, (QStringList{"Open", "UpdatingInfo", "NextInfoUpdated 0", "NextInfoUpdated 1", "Closing",
                                          "Closed", "InfoUpdated"}));
        QCOMPARE(pop->MessageCount(), 2);
        QCOMPARE(pop->Info().Count(), 2);
        QCOMPARE(pop->Info().Items(1).Size, server->messages().at(1).size());
        QCOMPARE(pop->Info().Items(1).Headers.lines(),
                 (QStringList{"From: Jane Roe <jane@example.org>", "Subject: second",
                              "Date: Sat, 05 Jun 1999 10:22:05 -0400"}));
        QVERIFY(!pop->Connected());
    }

    void updateInfoOfEmptyMailboxOnlyQuits()
    {
        pop->UpdateInfo();
        QCOMPARE(server->dialogue(), login(*server, 0) + quit);
        QCOMPARE(log.events, (QStringList{"Open", "UpdatingInfo", "Closing", "Closed", "InfoUpdated"}));
        QCOMPARE(pop->Info().Count(), 0);
    }

    void updateInfoReplacesTheEarlierList()
    {
        server->setMessages({mail("a"), mail("b")});
        pop->UpdateInfo();
        server->removeMessage(1);
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 1);
        QCOMPARE(pop->Info().Items(0).Headers.lines().at(1), QStringLiteral("Subject: b"));
    }

    void headerBlockKeepsDotStuffingAndEightBitText()
    {
        server->setMessages({"Subject: Caf\xc3\xa9\r\nX-Odd: \xe9t\xe9\r\n.Dotted: yes\r\n\r\nbody\r\n"});
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Items(0).Headers.lines(),
                 (QStringList{QStringLiteral("Subject: Caf\u00e9"), QStringLiteral("X-Odd: \u00e9t\u00e9"),
                              "..Dotted: yes"}));
    }

    void headerBlockWithoutBodySeparatorKeepsFinalDot()
    {
        server->setMessages({"Subject: no body"});
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Items(0).Headers.lines(), (QStringList{"Subject: no body", "."}));
    }

    void topDataIsSplitAtEveryKindOfLineBreak()
    {
        server->setMessages({mail("x")});
        server->replyAt("TOP 1 1", "+OK\r\nA: 1\rB: 2\nC: 3\r\n\r\nbody\r\n.\r\n");
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Items(0).Headers.lines(), (QStringList{"A: 1", "B: 2", "C: 3"}));
    }

    void progressOfTopDataIsUnknown()
    {
        server->setMessages({mail("x")});
        QList<int> percentages;
        pop->OnProgress = [&](int perc, qint64) { percentages << perc; };
        pop->UpdateInfo();
        QVERIFY(!percentages.isEmpty());
        QVERIFY(std::all_of(percentages.begin(), percentages.end(), [](int p) { return p == -1; }));
    }

    // --- Server refusals ------------------------------------------------

    void wrongPasswordEndsBeforeTheListAndDropsTheSession()
    {
        server->failAt("PASS", "-ERR invalid password");
        QCOMPARE(failure<ELoginRefusedError>([this] { pop->UpdateInfo(); }),
                 "The server refused the password for user at " + server->address() + ": -ERR invalid password");
        QCOMPARE(log.events, (QStringList{"Open", "Closing", "Closed"}));
        QVERIFY(!pop->Connected());
        QVERIFY(!server->commands().contains("QUIT"));

        // The next check starts a fresh session and logs in again.
        server->clearDialogue();
        pop->UpdateInfo();
        QCOMPARE(server->commands().mid(0, 2), (QStringList{"CAPA", "USER user"}));
    }

    void refusedGreetingIsAServerError()
    {
        server->failAt(ScriptedPop3Server::Greeting, "-ERR too busy");
        QCOMPARE(failure<EServerError>([this] { pop->UpdateInfo(); }), QStringLiteral("-ERR too busy"));
        QVERIFY(log.errors.isEmpty());
    }

    void messageGoneBeforeItsListKeepsTheItemsFetched()
    {
        server->setMessages({mail("a"), mail("b"), mail("c")});
        server->failAt("LIST 2", "-ERR no such message");
        QCOMPARE(failure<EServerError>([this] { pop->UpdateInfo(); }), QStringLiteral("-ERR no such message"));
        QCOMPARE(pop->Info().Count(), 1);
        QVERIFY(!log.events.contains("InfoUpdated"));
        QVERIFY(!server->commands().contains("QUIT"));
    }

    void missingUserNameOrPasswordFailsBeforeConnecting_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("text");
        QTest::newRow("user") << ""
                              << "secret"
                              << "UserName property is required";
        QTest::newRow("password") << "user"
                                  << ""
                                  << "Password property is required";
    }

    void missingUserNameOrPasswordFailsBeforeConnecting()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, text);
        pop->setUserName(user);
        pop->setPassword(password);
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }), text);
        QCOMPARE(log.errors, QStringList{text});
        QVERIFY(!log.events.contains("Open"));
        QCOMPARE(server->connectionCount(), 0);
    }

    // --- The delete pass ------------------------------------------------

    void processMarksRechecksAndDeletesInIndexOrder()
    {
        listThree();
        pop->MarkForDelete(2);
        pop->MarkForDelete(0);
        const QList<QByteArray> before = server->messages();
        const QStringList expectedLogin = login(*server, 3);
        const QStringList expectedFirst = topExchange(*server, 1);
        pop->ProcessMarks();

        QCOMPARE(server->dialogue().mid(0, 13), expectedLogin + expectedFirst);
        QCOMPARE(server->commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 1", "TOP 1 1",
                                                  "DELE 1", "LIST 3", "TOP 3 1", "DELE 3", "QUIT"}));
        QCOMPARE(log.events, (QStringList{"Open", "TransferringData", "Deleting 0", "Deleting 2", "DataTransfered",
                                          "Closing", "Closed"}));
        QCOMPARE(server->messages(), QList<QByteArray>{before[1]});
        QVERIFY(pop->committed());
        QVERIFY(pop->Info().Items(0).Deleted);
        QVERIFY(!pop->Info().Items(1).Deleted);
        QVERIFY(pop->Info().Items(2).Deleted);
        QVERIFY(pop->Info().Items(0).DeleteMark); // marks stay
    }

    // --- One operation at a time ----------------------------------------

    void operationsStartedDuringACheckAreRefusedAndSendNothing()
    {
        server->setMessages({mail("one"), mail("two"), mail("three")});
        QStringList refusals;
        pop->OnNextInfoUpdated = [&](int num) {
            if (num != 0)
                return;
            refusals << failure<ESocketError>([this] { pop->UpdateInfo(); });
            pop->MarkForDelete(0);
            refusals << failure<ESocketError>([this] { pop->ProcessMarks(); });
            pop->ClearMarks(0);
        };
        const QStringList expectedLogin = login(*server, 3);
        QStringList expected = expectedLogin;
        for (int number = 1; number <= 3; ++number)
            expected += topExchange(*server, number);
        pop->UpdateInfo();

        QCOMPARE(refusals, QStringList(2, TmsRemotePOP::OperationRunningText));
        // The running check went on in its one session and ended with QUIT.
        QCOMPARE(server->dialogue(), expected + quit);
        QCOMPARE(server->connectionCount(), 1);
        QCOMPARE(pop->Info().Count(), 3);
        QCOMPARE(server->messages().size(), 3);
    }

    void checkStartedDuringADeletePassIsRefusedAndThePassCommits()
    {
        listThree();
        pop->MarkForDelete(1);
        QString refusal;
        pop->OnDeleting = [&](int) { refusal = failure<ESocketError>([this] { pop->UpdateInfo(); }); };
        const QList<QByteArray> before = server->messages();
        pop->ProcessMarks();

        QCOMPARE(refusal, TmsRemotePOP::OperationRunningText);
        QCOMPARE(server->commands(),
                 (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 2", "TOP 2 1", "DELE 2", "QUIT"}));
        // Info was not cleared under the pass: its outcome is still there.
        QCOMPARE(pop->Info().Count(), 3);
        QVERIFY(pop->committed());
        QVERIFY(pop->Info().Items(1).Deleted);
        QCOMPARE(server->messages(), (QList<QByteArray>{before[0], before[2]}));

        // Once the pass is over, the client takes the next operation.
        pop->OnDeleting = nullptr;
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
    }

    void failedOperationReleasesTheClient()
    {
        server->failAt("PASS", "-ERR invalid password");
        QCOMPARE(failure<ELoginRefusedError>([this] { pop->UpdateInfo(); }),
                 "The server refused the password for user at " + server->address() + ": -ERR invalid password");
        server->setMessages({mail("one")});
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 1);
    }

    void processMarksWithoutMarksStillLogsInAndQuits()
    {
        listThree();
        pop->ProcessMarks();
        QCOMPARE(server->commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "QUIT"}));
        QVERIFY(pop->committed());
    }

    void processMarksWithEmptyListDoesNotConnect()
    {
        pop->ProcessMarks();
        QCOMPARE(server->connectionCount(), 0);
        QVERIFY(!pop->committed());
    }

    void refusedDeleteIsSkippedAndThePassGoesOn()
    {
        listThree();
        pop->MarkForDelete(0);
        pop->MarkForDelete(1);
        server->failAt("DELE 1", "-ERR message locked");
        const QList<QByteArray> before = server->messages();
        pop->ProcessMarks();
        QVERIFY(server->commands().contains("DELE 2"));
        QVERIFY(pop->committed());
        QVERIFY(!pop->Info().Items(0).Deleted);
        QVERIFY(pop->Info().Items(1).Deleted);
        QCOMPARE(server->messages(), (QList<QByteArray>{before[0], before[2]}));
    }

    void changedMailboxDeletesNothingAndSendsNoQuit()
    {
        listThree();
        // Another mail program fetched message 1: every number moved down.
        server->removeMessage(1);
        pop->MarkForDelete(1);
        const QList<QByteArray> before = server->messages();
        QCOMPARE(failure<EMailboxChangedError>([this] { pop->ProcessMarks(); }),
                 QStringLiteral("The mailbox has changed since it was listed. Please check it again."));
        QCOMPARE(server->commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 2", "TOP 2 1"}));
        QCOMPARE(server->messages(), before);
        QVERIFY(!pop->committed());
        QVERIFY(!pop->Connected());
        QVERIFY(log.errors.isEmpty());
    }

    void changeFoundAfterADeleteRollsThatDeleteBack()
    {
        listThree();
        // Message 3 was replaced by one of the same size but other headers.
        server->removeMessage(3);
        server->addMessage(mail("tree"));
        pop->MarkForDelete(0);
        pop->MarkForDelete(2);
        const QList<QByteArray> before = server->messages();
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, pop->ProcessMarks());
        QCOMPARE(server->commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 1", "TOP 1 1",
                                                  "DELE 1", "LIST 3", "TOP 3 1"}));
        QCOMPARE(server->messages(), before); // DELE 1 was never committed
        QCOMPARE(server->committedSessions(), 1); // only the listing session quit
        QVERIFY(!pop->Info().Items(0).Deleted);
        QVERIFY(!pop->committed());
    }

    void sizeChangeAloneIsAChangedMailbox()
    {
        listThree();
        server->failAt("LIST 2", "+OK 2 99999");
        pop->MarkForDelete(1);
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, pop->ProcessMarks());
        QVERIFY(!server->commands().contains("DELE 2"));
    }

    void failureAfterADeleteSendsNoQuit()
    {
        listThree();
        pop->setTimeOut(1);
        server->stallAt("TOP 2 1");
        pop->MarkForDelete(0);
        pop->MarkForDelete(1);
        const QList<QByteArray> before = server->messages();
        QCOMPARE(failure<ETimedOutError>([this] { pop->ProcessMarks(); }),
                 QStringLiteral("Operation timed out (%1)").arg(server->address()));
        QVERIFY(server->commands().contains("DELE 1"));
        QVERIFY(!server->commands().contains("QUIT"));
        QCOMPARE(server->messages(), before);
        QVERIFY(!pop->committed());
    }

    void refusedQuitCommitsNothingAndCloses()
    {
        listThree();
        pop->MarkForDelete(0);
        server->failAt("QUIT", "-ERR some deleted messages not removed");
        QCOMPARE(failure<EServerError>([this] { pop->ProcessMarks(); }),
                 QStringLiteral("-ERR some deleted messages not removed"));
        QVERIFY(!pop->committed());
        QVERIFY(!pop->Connected());
    }

    void retrieveThenDeleteOfOneMessage()
    {
        listThree();
        QTemporaryDir dir;
        pop->setMessageDirectory(dir.path());
        QCOMPARE(pop->messageDirectory(), dir.path() + "/");
        pop->MarkForRetrieve(0);
        pop->MarkForDelete(0);
        pop->ProcessMarks();
        QCOMPARE(server->commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 1", "TOP 1 1",
                                                  "LIST 1", "RETR 1", "LIST 1", "TOP 1 1", "DELE 1", "QUIT"}));
        QCOMPARE(log.events, (QStringList{"Open", "TransferringData", "Retrieving 0", "Retrieved 0", "Deleting 0",
                                          "DataTransfered", "Closing", "Closed"}));
        QFile file(dir.filePath("msg_0.eml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), mail("one") + ".\r\n");
    }

    void retrievedMessageKeepsDotStuffingAsReceived()
    {
        server->setMessages({mail("dots", ".leading dot\r\n..two dots\r\n")});
        pop->UpdateInfo();
        QByteArray saved;
        int savedNum = -1;
        pop->OnUserMessageSave = [&](int num, const QByteArray &contents) {
            savedNum = num;
            saved = contents;
        };
        pop->MarkForRetrieve(0);
        pop->ProcessMarks();
        QCOMPARE(savedNum, 0);
        QCOMPARE(saved, mail("dots", "..leading dot\r\n...two dots\r\n") + ".\r\n");
    }

    void onlyAMessageBodyMayOutlastTenTimeOuts_data()
    {
        // Each piece comes 59 seconds after the last, within the time-out of
        // 60, and the block takes half an hour in all.
        QList<QByteArray> lines;
        for (int i = 0; i < 30; ++i)
            lines << "X-Line: " + QByteArray::number(i) + "\r\n";
        const QByteArray login = "+OK ready\r\n-ERR unknown command\r\n+OK\r\n+OK\r\n+OK 1 2000\r\n";
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<bool>("retrieve");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("header block") << QList<QByteArray>{login + "+OK 1 2000\r\n+OK\r\n"} + lines
                                             + QList<QByteArray>{"\r\n.\r\n+OK bye\r\n"}
                                      << false
                                      << QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 1", "TOP 1 1"}
                                      << "The server took more than 600 seconds to send one reply (127.0.0.1:110)"
                                      << QByteArray();
        QTest::newRow("message body") << QList<QByteArray>{login
                                                           + "+OK 1 2000\r\n+OK\r\nSubject: big\r\n\r\n.\r\n"
                                                             "+OK 1 2000\r\n+OK\r\n"}
                                             + lines + QList<QByteArray>{".\r\n+OK bye\r\n"}
                                      << true << QStringList{"CAPA",    "USER user", "PASS secret", "STAT", "LIST 1",
                                                             "TOP 1 1", "LIST 1",    "RETR 1",      "QUIT"}
                                      << "<no error>" << lines.join() + ".\r\n";
    }

    void onlyAMessageBodyMayOutlastTenTimeOuts()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(bool, retrieve);
        QFETCH(QStringList, commands);
        QFETCH(QString, error);
        QFETCH(QByteArray, saved);
        MemoryServer memory;
        memory.addSession(pieces);
        TmsRemotePOP slow;
        memory.attach(slow);
        qint64 now = 0;
        slow.setClock([&now] { return now; });
        memory.onPiece = [&now] { now += 59'000; };
        slow.setServer("127.0.0.1:110");
        slow.setUserName("user");
        slow.setPassword("secret");
        QByteArray received;
        slow.OnUserMessageSave = [&received](int, const QByteArray &contents) { received = contents; };
        if (retrieve) {
            TmsRemoteInfoItem big;
            big.RetrieveMark = true;
            big.Size = 2000;
            big.Headers = PackedHeaders("Subject: big\r\n\r\n");
            slow.Info().Add(big);
            QCOMPARE(failure<EMailsieveError>([&slow] { slow.ProcessMarks(); }), error);
        } else {
            QCOMPARE(failure<EMailsieveError>([&slow] { slow.UpdateInfo(); }), error);
        }
        QCOMPARE(received, saved);
        QCOMPARE(memory.commands(), commands);
    }

    void unwritableMessageDirectoryFailsTheRetrieval()
    {
        listThree();
        pop->setMessageDirectory("/nonexistent-dir/for/mail");
        pop->MarkForRetrieve(1);
        QVERIFY_THROWS_EXCEPTION(EFileError, pop->ProcessMarks());
        QVERIFY(!log.events.contains("Retrieved 1"));
        QVERIFY(!server->commands().contains("QUIT"));
    }

    void retrievalReportsPercentages()
    {
        QByteArray body;
        for (int i = 0; i < 20000; ++i)
            body += "Line " + QByteArray::number(i) + " of a long message body.\r\n";
        server->setMessages({mail("big", body)});
        pop->UpdateInfo();
        QList<int> percentages;
        QList<qint64> transferred;
        pop->OnProgress = [&](int perc, qint64 done) {
            percentages << perc;
            transferred << done;
        };
        pop->OnUserMessageSave = [](int, const QByteArray &) {};
        pop->MarkForRetrieve(0);
        pop->ProcessMarks();

        const int retrStart = percentages.lastIndexOf(-1) + 1;
        const QList<int> retr = percentages.mid(retrStart);
        QVERIFY(retr.size() > 2);
        QCOMPARE(retr.first(), 0);
        QVERIFY(std::is_sorted(retr.begin(), retr.end()));
        QVERIFY(retr.last() > 80 && retr.last() <= 100);
        const qint64 size = pop->Info().Items(0).Size;
        QCOMPARE(retr.last(), TagSocket::percentOf(transferred.last(), size));
    }

    // --- Cancel -----------------------------------------------------------

    void cancelDuringAStalledReply()
    {
        server->setMessages({mail("x")});
        server->stallAt("LIST 1");
        QTimer::singleShot(200, pop, [this] { pop->Cancel(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failure<ECanceledError>([this] { pop->UpdateInfo(); }), QStringLiteral("Operation has been canceled"));
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(log.events.mid(log.events.indexOf("Cancel")), (QStringList{"Cancel", "Closing", "Closed", "Error"}));
        QCOMPARE(log.errors, QStringList{"Operation has been canceled"});
        QVERIFY(!pop->Connected());
        QVERIFY(!server->commands().contains("QUIT"));
    }

    void cancelDuringADataBlock()
    {
        server->setMessages({mail("x")});
        server->replyAt("TOP 1 1", "+OK\r\nSubject: x\r\n"); // the rest never comes
        QTimer::singleShot(200, pop, [this] { pop->Cancel(); });
        QVERIFY_THROWS_EXCEPTION(ECanceledError, pop->UpdateInfo());
        QVERIFY(!pop->Connected());
        QCOMPARE(pop->Info().Count(), 0);
    }

    void cancelFromAnEventHandlerEndsTheCheck()
    {
        server->setMessages({mail("a"), mail("b")});
        pop->OnNextInfoUpdated = [this](int) { pop->Cancel(); };
        QVERIFY_THROWS_EXCEPTION(ECanceledError, pop->UpdateInfo());
        QCOMPARE(pop->Info().Count(), 1);
        QCOMPARE(server->commands().last(), QStringLiteral("TOP 1 1"));
    }

    // A cancel from the last event of an operation comes after its last
    // command: the session is gone without QUIT, and the operation must not
    // end as if it had succeeded.
    void cancelAfterTheLastMessageFailsTheCheck()
    {
        server->setMessages({mail("a"), mail("b")});
        bool infoUpdated = false;
        pop->OnNextInfoUpdated = [this](int num) {
            if (num == 1)
                pop->Cancel();
        };
        pop->OnInfoUpdated = [&] { infoUpdated = true; };
        QVERIFY_THROWS_EXCEPTION(ECanceledError, pop->UpdateInfo());
        QVERIFY(!infoUpdated);
        QVERIFY(!server->commands().contains("QUIT"));
    }

    // --- With a header cache ------------------------------------------

    void checkWithCacheFetchesOnlyWhatItDoesNotHold_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("commands"); // of the second check, after STAT
        QTest::addColumn<QStringList>("subjects");
        QTest::addColumn<QByteArrayList>("identities");
        const QStringList three = {"one", "two", "three"};
        QTest::newRow("nothing new") << "" << QStringList{"UIDL", "LIST", "QUIT"} << three
                                     << QByteArrayList{"uid1", "uid2", "uid3"};
        QTest::newRow("one new") << "add" << QStringList{"UIDL", "LIST", "LIST 4", "TOP 4 1", "QUIT"}
                                 << three + QStringList{"four"} << QByteArrayList{"uid1", "uid2", "uid3", "uid4"};
        QTest::newRow("one removed") << "remove" << QStringList{"UIDL", "LIST", "QUIT"} << QStringList{"one", "three"}
                                     << QByteArrayList{"uid1", "uid3"};
        QTest::newRow("UIDL reused by a new message")
            << "reuse" << QStringList{"UIDL", "LIST", "LIST 3", "TOP 3 1", "QUIT"}
            << QStringList{"one", "two", "a longer three"} << QByteArrayList{"uid1", "uid2", "uid3"};
        QTest::newRow("UIDL listed twice")
            << "twice" << QStringList{"UIDL", "LIST", "LIST 1", "TOP 1 1", "LIST 2", "TOP 2 1", "QUIT"} << three
            << QByteArrayList{"", "", "uid3"};
        QTest::newRow("UIDL refused, no CAPA")
            << "refused" << QStringList{"UIDL", "LIST 1", "TOP 1 1", "LIST 2", "TOP 2 1", "LIST 3", "TOP 3 1", "QUIT"}
            << three << QByteArrayList{"", "", ""};
    }

    void checkWithCacheFetchesOnlyWhatItDoesNotHold()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, commands);
        QFETCH(QStringList, subjects);
        QFETCH(QByteArrayList, identities);
        MemoryHeaderCache cache;
        pop->setHeaderCache(&cache);
        listThree();
        QCOMPARE(cache.remembered, (QByteArrayList{"uid1", "uid2", "uid3"}));
        if (change == "add") {
            server->addMessage(mail("four"));
        } else if (change == "remove") {
            server->removeMessage(2);
        } else if (change == "reuse") {
            server->removeMessage(3);
            server->addMessage(mail("a longer three"));
            server->replyAt("UIDL", "+OK\r\n1 uid1\r\n2 uid2\r\n3 uid3\r\n.\r\n");
        } else if (change == "twice") {
            server->replyAt("UIDL", "+OK\r\n1 uid1\r\n2 uid1\r\n3 uid3\r\n.\r\n");
        } else if (change == "refused") {
            server->setCapaKnown(false);
            server->failAt("UIDL", "-ERR unknown command");
        }
        pop->UpdateInfo();

        QCOMPARE(server->commands().mid(server->commands().indexOf("STAT") + 1), commands);
        QStringList listed;
        QByteArrayList listedIdentities;
        for (int i = 0; i < pop->Info().Count(); ++i) {
            const TmsRemoteInfoItem &item = pop->Info().Items(i);
            listed << GetHeaderValue(item.Headers.lines(), QStringLiteral("Subject"));
            listedIdentities << item.Identity;
            QCOMPARE(item.Size, ScriptedPop3Server::wireSize(mail(listed.last().toLatin1())));
        }
        QCOMPARE(listed, subjects);
        QCOMPARE(listedIdentities, identities);
    }

    void deletePassWithUidlsFindsEachMarkedMessageByIt_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("commands"); // after STAT
        QTest::addColumn<QList<QByteArray>>("left"); // subjects on the server afterwards; empty: the pass failed
        QTest::newRow("numbers moved") << "remove 1" << QStringList{"UIDL", "LIST 2", "RETR 2", "DELE 2", "QUIT"}
                                       << QList<QByteArray>{"two"};
        QTest::newRow("removed by another client") << "remove 3" << QStringList{"UIDL"} << QList<QByteArray>{};
        QTest::newRow("UIDL listed twice now")
            << "twice"
            << QStringList{"UIDL", "LIST 3", "TOP 3 1", "LIST 3", "RETR 3", "LIST 3", "TOP 3 1", "DELE 3", "QUIT"}
            << QList<QByteArray>{"one", "two"};
    }

    void deletePassWithUidlsFindsEachMarkedMessageByIt()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, commands);
        QFETCH(QList<QByteArray>, left);
        MemoryHeaderCache cache;
        pop->setHeaderCache(&cache);
        listThree();
        if (change == "twice")
            server->replyAt("UIDL", "+OK\r\n1 uid3\r\n2 uid2\r\n3 uid3\r\n.\r\n");
        else
            server->removeMessage(change.back().digitValue());
        const QList<QByteArray> before = server->messages();
        pop->OnUserMessageSave = [](int, const QByteArray &) {};
        pop->MarkForRetrieve(2);
        pop->MarkForDelete(2);
        if (left.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, pop->ProcessMarks());
            QCOMPARE(server->messages(), before);
        } else {
            pop->ProcessMarks();
            QList<QByteArray> expected;
            for (const QByteArray &subject : left)
                expected << mail(subject);
            QCOMPARE(server->messages(), expected);
            QVERIFY(pop->Info().Items(2).Deleted);
        }
        QCOMPARE(server->commands().mid(server->commands().indexOf("STAT") + 1), commands);
    }

    void cancelBeforeQuitOfADeletePassCommitsNothing()
    {
        listThree();
        pop->MarkForDelete(0);
        const QList<QByteArray> before = server->messages();
        pop->OnDataTransfered = [this] { pop->Cancel(); };
        QVERIFY_THROWS_EXCEPTION(ECanceledError, pop->ProcessMarks());
        QVERIFY(!pop->committed());
        QVERIFY(!pop->Info().Items(0).Deleted);
        QVERIFY(!server->commands().contains("QUIT"));
        QCOMPARE(server->messages(), before);
    }
};

QTEST_GUILESS_MAIN(TestPop3Client)
#include "tst_pop3client.moc"
