// Pipelined passes against the scripted server: with PIPELINING the client
// sends commands ahead of the replies, and every outcome (rows, events,
// marks, deletions, the error and where it struck, Cancel) is the same as
// when it sends one command at a time.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/failuretext.h"
#include "support/memoryheadercache.h"
#include "support/memoryserver.h"
#include "support/scriptedpop3server.h"

#include <QTest>
#include <QTimer>
#include <typeinfo>

namespace {

QList<QByteArray> mailbox(int count)
{
    QList<QByteArray> messages;
    for (int i = 1; i <= count; ++i) {
        QByteArray body;
        for (int line = 0; line < i % 7; ++line)
            body += "Body line " + QByteArray::number(line) + "\r\n.starts with a dot\r\n";
        messages << "From: Sender " + QByteArray::number(i) + " <s" + QByteArray::number(i)
                        + "@example.org>\r\n"
                          "Subject: Message number "
                        + QByteArray::number(i)
                        + "\r\n"
                          "X-Filler: "
                        + QByteArray(i % 300, 'x')
                        + "\r\n"
                          "\r\n"
                        + body;
    }
    return messages;
}

// Everything a pass leaves behind that the rest of the program can see.
struct Outcome
{
    QStringList events;
    QString error;
    QList<qint64> sizes;
    QList<TmsHeaders> headers;
    QList<bool> deleted;
    QList<QByteArray> saved;
    bool committed = false;
    QList<QByteArray> serverMailbox;
    QStringList commands;
    int commandsAhead = 0;

    bool operator==(const Outcome &other) const
    {
        return events == other.events && error == other.error && sizes == other.sizes && headers == other.headers
               && deleted == other.deleted && saved == other.saved && committed == other.committed
               && serverMailbox == other.serverMailbox;
    }
};

char *toString(const Outcome &outcome)
{
    return QTest::toString(QStringLiteral("events %1; error '%2'; %3 rows; committed %4; %5 left on the server")
                               .arg(outcome.events.join(','), outcome.error)
                               .arg(outcome.sizes.size())
                               .arg(outcome.committed)
                               .arg(outcome.serverMailbox.size()));
}

// One client and server pair; prepare() arranges the scene (marks, scripted
// failures), then the pass runs with or without pipelining.
class Rig
{
public:
    explicit Rig(bool pipelined, int messages)
    {
        server.setMessages(mailbox(messages));
        server.setCapabilities({"TOP", "USER", "UIDL", "PIPELINING"});
        server.listen();
        server.logIn(pop);
        pop.setTimeOut(10);
        pop.setPipeliningAllowed(pipelined);
        pop.OnUpdatingInfo = [this] { outcome.events << "UpdatingInfo"; };
        pop.OnNextInfoUpdated = [this](int num) { outcome.events << QStringLiteral("Next %1").arg(num); };
        pop.OnInfoUpdated = [this] { outcome.events << "InfoUpdated"; };
        pop.OnTransferringData = [this] { outcome.events << "TransferringData"; };
        pop.OnRetrieving = [this](int num) { outcome.events << QStringLiteral("Retrieving %1").arg(num); };
        pop.OnRetrieved = [this](int num) { outcome.events << QStringLiteral("Retrieved %1").arg(num); };
        pop.OnDeleting = [this](int num) { outcome.events << QStringLiteral("Deleting %1").arg(num); };
        pop.OnDataTransfered = [this] { outcome.events << "DataTransfered"; };
        pop.OnCancel = [this] { outcome.events << "Cancel"; };
        pop.OnUserMessageSave = [this](int, const QByteArray &contents) { outcome.saved << contents; };
    }

    Outcome run(const std::function<void()> &pass)
    {
        try {
            pass();
        } catch (const EMailsieveError &error) {
            // Each rig has a server of its own; its port tells nothing.
            outcome.error = QString::fromLatin1(typeid(error).name()) + ": "
                            + error.message().replace(server.address(), QStringLiteral("<server>"));
        }
        for (int i = 0; i < pop.Info().Count(); ++i) {
            outcome.sizes << pop.Info().Items(i).Size;
            outcome.headers << pop.Info().Items(i).Headers.lines();
            outcome.deleted << pop.Info().Items(i).Deleted;
        }
        outcome.committed = pop.committed();
        outcome.serverMailbox = server.messages();
        outcome.commands = server.commands();
        outcome.commandsAhead = server.maxCommandsAhead();
        return outcome;
    }

    // Lists the mailbox, then forgets what the listing looked like.
    void listFirst()
    {
        pop.UpdateInfo();
        server.clearDialogue();
        outcome = Outcome();
    }

    ScriptedPop3Server server;
    TmsRemotePOP pop;
    MemoryHeaderCache cache;
    Outcome outcome;
};

using Scene = std::function<void(Rig &)>;

// Runs the header pass both ways after the same preparation.
std::pair<Outcome, Outcome> headerPassBothWays(
    int messages, const Scene &prepare = [](Rig &) {})
{
    Rig plain(false, messages);
    prepare(plain);
    const Outcome one = plain.run([&] { plain.pop.UpdateInfo(); });
    Rig piped(true, messages);
    prepare(piped);
    const Outcome many = piped.run([&] { piped.pop.UpdateInfo(); });
    return {one, many};
}

// Lists, prepares (marks and failures) and runs the delete pass both ways.
std::pair<Outcome, Outcome> deletePassBothWays(int messages, const Scene &prepare)
{
    std::pair<Outcome, Outcome> outcomes;
    for (const bool pipelined : {false, true}) {
        Rig rig(pipelined, messages);
        rig.listFirst();
        prepare(rig);
        (pipelined ? outcomes.second : outcomes.first) = rig.run([&] { rig.pop.ProcessMarks(); });
    }
    return outcomes;
}

// Every DELE n in commands comes after the TOP n 1 that rechecked it.
bool everyDeleteAfterItsRecheck(const QStringList &commands)
{
    for (qsizetype at = 0; at < commands.size(); ++at) {
        if (!commands[at].startsWith("DELE "))
            continue;
        const QString top = "TOP " + commands[at].mid(5) + " 1";
        if (commands.indexOf(top) < 0 || commands.indexOf(top) > at)
            return false;
    }
    return true;
}

} // namespace

class TestPipelining : public QObject
{
    Q_OBJECT

private slots:
    // --- The header pass ----------------------------------------------------

    void headerPassGivesTheSameRowsAndEvents()
    {
        const auto [one, many] = headerPassBothWays(400);
        QCOMPARE(many, one);
        QVERIFY(one.error.isEmpty());
        QCOMPARE(one.sizes.size(), 400);
        QCOMPARE(one.commandsAhead, 1);
        QVERIFY2(many.commandsAhead > 20, qPrintable(QString::number(many.commandsAhead)));
        QVERIFY(many.commandsAhead <= TmsCustomPOP::PipelineWindow);
        QCOMPARE(many.commands, one.commands); // same commands, only sent sooner
    }

    void cachedRowsKeepTheirPlaceAmongFetchedOnes()
    {
        const auto [one, many] = headerPassBothWays(200, [](Rig &rig) {
            rig.pop.setHeaderCache(&rig.cache);
            rig.listFirst();
            for (int n = 1; n <= 200; n += 3)
                rig.cache.entries.remove("uid" + QByteArray::number(n));
        });
        QCOMPARE(many, one);
        QCOMPARE(one, headerPassBothWays(200).first); // as if every row was fetched
        QCOMPARE(many.commands.filter(QStringLiteral("TOP ")).size(), 67);
        QVERIFY(many.commandsAhead > 20);
    }

    void serverWithoutPipeliningGetsOneCommandAtATime()
    {
        Rig rig(true, 30);
        rig.server.setCapabilities({"TOP", "USER"});
        const Outcome outcome = rig.run([&] { rig.pop.UpdateInfo(); });
        QCOMPARE(outcome.commandsAhead, 1);
        QStringList expected{"CAPA", "USER user", "PASS secret", "STAT"};
        for (int n = 1; n <= 30; ++n)
            expected << QStringLiteral("LIST %1").arg(n) << QStringLiteral("TOP %1 1").arg(n);
        QCOMPARE(outcome.commands, expected << "QUIT");
        QCOMPARE(outcome.sizes.size(), 30);
    }

    void headerBlockEndCutAnywhereWithTheNextReplyBehindIt_data()
    {
        QTest::addColumn<bool>("pipelined");
        QTest::addColumn<int>("cut"); // bytes of "CR LF . CR LF" in the first piece
        for (int cut = 0; cut <= 5; ++cut) {
            QTest::addRow("pipelined, cut after %d", cut) << true << cut;
            QTest::addRow("one at a time, cut after %d", cut) << false << cut;
        }
    }

    void headerBlockEndCutAnywhereWithTheNextReplyBehindIt()
    {
        // The replies to LIST 2 and TOP 2 1 arrive in the same read as the
        // end of the first header block, exactly as a pipelining server may
        // send them, whatever the client sent so far.
        QFETCH(bool, pipelined);
        QFETCH(int, cut);
        const QByteArray end = "\r\n.\r\n";
        MemoryServer memory;
        memory.addSession({"+OK ready\r\n+OK\r\nTOP\r\nUSER\r\nPIPELINING\r\n.\r\n+OK\r\n+OK\r\n+OK 2 100\r\n"
                           "+OK 1 50\r\n+OK\r\nSubject: one\r\n"
                               + end.left(cut),
                           end.mid(cut) + "+OK 2 50\r\n+OK\r\nSubject: two\r\n\r\n.\r\n+OK bye\r\n"});
        TmsRemotePOP pop;
        memory.attach(pop);
        pop.setServer("127.0.0.1:110");
        pop.setUserName("user");
        pop.setPassword("secret");
        pop.setPipeliningAllowed(pipelined);
        QCOMPARE(failure<EMailsieveError>([&pop] { pop.UpdateInfo(); }), QStringLiteral("<no error>"));
        QCOMPARE(pop.Info().Count(), 2);
        QCOMPARE(pop.Info().Items(0).Headers.lines(), QStringList{"Subject: one"});
        QCOMPARE(pop.Info().Items(1).Headers.lines(), QStringList{"Subject: two"});
        QCOMPARE(memory.commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 1", "TOP 1 1",
                                                 "LIST 2", "TOP 2 1", "QUIT"}));
    }

    void refusalInTheMiddleOfAWindow_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("LIST") << "LIST 57";
        QTest::newRow("TOP") << "TOP 57 1";
    }

    void refusalInTheMiddleOfAWindow()
    {
        QFETCH(QString, command);
        const auto [one, many] =
            headerPassBothWays(200, [&](Rig &rig) { rig.server.failAt(command, "-ERR no such message"); });
        QCOMPARE(many, one);
        QCOMPARE(one.error, QString::fromLatin1(typeid(EServerError).name()) + ": -ERR no such message");
        QCOMPARE(one.sizes.size(), 56);
        QVERIFY(!many.commands.contains("QUIT"));
        QVERIFY(many.commandsAhead > 1);
    }

    void cancelFromAnEventInsideAWindow()
    {
        const auto [one, many] = headerPassBothWays(200, [](Rig &rig) {
            rig.pop.OnNextInfoUpdated = [&rig](int num) {
                rig.outcome.events << QStringLiteral("Next %1").arg(num);
                if (num == 40)
                    rig.pop.Cancel();
            };
        });
        QCOMPARE(many, one);
        QCOMPARE(one.sizes.size(), 41);
        QVERIFY(one.error.endsWith("Operation has been canceled"));
        QVERIFY(!many.commands.contains("QUIT"));
    }

    void cancelWhileAReplyInTheWindowIsLate()
    {
        const auto [one, many] = headerPassBothWays(150, [](Rig &rig) {
            rig.server.delayAt("TOP 90 1", 3000);
            rig.pop.OnNextInfoUpdated = [&rig](int num) {
                rig.outcome.events << QStringLiteral("Next %1").arg(num);
                if (num == 88) // the next row waits for the late reply
                    QTimer::singleShot(200, &rig.pop, [&rig] { rig.pop.Cancel(); });
            };
        });
        QCOMPARE(many, one);
        QCOMPARE(one.sizes.size(), 89);
        QVERIFY(one.error.endsWith("Operation has been canceled"));
    }

    void timeOutInsideAWindowEndsLikeWithoutPipelining()
    {
        const auto [one, many] = headerPassBothWays(80, [](Rig &rig) {
            rig.pop.setTimeOut(1);
            rig.server.stallAt("LIST 33");
        });
        QCOMPARE(many, one);
        QCOMPARE(one.sizes.size(), 32);
        QVERIFY(one.error.endsWith("Operation timed out (<server>)"));
    }

    // --- The delete and retrieve pass ------------------------------------

    void deletePassGivesTheSameEventsAndDeletions()
    {
        const auto [one, many] = deletePassBothWays(120, [](Rig &rig) {
            for (int i = 0; i < 120; i += 3)
                rig.pop.MarkForDelete(i);
            for (int i = 1; i < 120; i += 25)
                rig.pop.MarkForRetrieve(i);
            rig.pop.MarkForRetrieve(0); // both marks on one message
        });
        QCOMPARE(many, one);
        QVERIFY(one.committed);
        QCOMPARE(one.serverMailbox.size(), 80);
        QCOMPARE(one.saved.size(), 6);
        QCOMPARE(one.deleted.count(true), 40);
        QVERIFY(many.commandsAhead > 20);
        QVERIFY(everyDeleteAfterItsRecheck(many.commands));
        QCOMPARE(many.commands.last(), QStringLiteral("QUIT"));
    }

    void changedMailboxStopsAPipelinedDeletePassBeforeItsDelete()
    {
        const auto [one, many] = deletePassBothWays(60, [](Rig &rig) {
            for (int i = 0; i < 60; i += 2)
                rig.pop.MarkForDelete(i);
            // Another program fetched message 31: numbers from there on moved.
            rig.server.removeMessage(31);
        });
        QCOMPARE(many, one);
        QCOMPARE(one.error, QString::fromLatin1(typeid(EMailboxChangedError).name())
                                + ": The mailbox has changed since it was listed. Please check it again.");
        QCOMPARE(one.serverMailbox.size(), 59); // nothing deleted
        QVERIFY(!one.committed);
        QCOMPARE(one.deleted.count(true), 0);
        for (const QStringList &commands : {one.commands, many.commands}) {
            QVERIFY(!commands.contains("QUIT"));
            QVERIFY(!commands.contains("DELE 31")); // the changed message is never deleted
            QVERIFY(!commands.contains("DELE 33"));
            QVERIFY(everyDeleteAfterItsRecheck(commands));
        }
    }

    void refusalAndRefusedDeleteInsideAPipelinedPass()
    {
        const auto [one, many] = deletePassBothWays(50, [](Rig &rig) {
            for (int i = 0; i < 50; ++i)
                rig.pop.MarkForDelete(i);
            rig.server.failAt("DELE 7", "-ERR message locked");
        });
        QCOMPARE(many, one);
        QVERIFY(one.committed);
        QCOMPARE(one.serverMailbox.size(), 1);
        QVERIFY(!one.deleted.at(6));

        const auto [two, more] = deletePassBothWays(50, [](Rig &rig) {
            for (int i = 0; i < 50; ++i)
                rig.pop.MarkForDelete(i);
            rig.server.failAt("TOP 20 1", "-ERR gone");
        });
        QCOMPARE(more, two);
        QVERIFY(!two.committed);
        QCOMPARE(two.serverMailbox.size(), 50);
        QVERIFY(!more.commands.contains("QUIT"));
    }

    void cancelDuringAPipelinedDeletePassCommitsNothing()
    {
        const auto [one, many] = deletePassBothWays(60, [](Rig &rig) {
            for (int i = 0; i < 60; ++i)
                rig.pop.MarkForDelete(i);
            rig.pop.OnDeleting = [&rig](int num) {
                rig.outcome.events << QStringLiteral("Deleting %1").arg(num);
                if (num == 44)
                    rig.pop.Cancel();
            };
        });
        QCOMPARE(many, one);
        QVERIFY(one.error.endsWith("Operation has been canceled"));
        QCOMPARE(one.serverMailbox.size(), 60);
        QVERIFY(!many.commands.contains("QUIT"));
    }
};

QTEST_GUILESS_MAIN(TestPipelining)
#include "tst_pipelining.moc"
