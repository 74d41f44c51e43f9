// Pipelining against a private Dovecot (which offers PIPELINING): the
// header pass and the delete pass give the same rows, events and
// deletions as the exchange of one command at a time.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/dovecotserver.h"
#include "support/messagebuilder.h"

#include <QTest>
#include <QTimer>

namespace {

struct Pass
{
    QStringList events;
    QList<qint64> sizes;
    QList<TmsHeaders> headers;
    QList<bool> deleted;
    QList<QByteArray> saved;
};

void attach(TmsRemotePOP &pop, Pass &pass)
{
    pop.OnNextInfoUpdated = [&pass](int num) { pass.events << QStringLiteral("Next %1").arg(num); };
    pop.OnInfoUpdated = [&pass] { pass.events << "InfoUpdated"; };
    pop.OnRetrieving = [&pass](int num) { pass.events << QStringLiteral("Retrieving %1").arg(num); };
    pop.OnRetrieved = [&pass](int num) { pass.events << QStringLiteral("Retrieved %1").arg(num); };
    pop.OnDeleting = [&pass](int num) { pass.events << QStringLiteral("Deleting %1").arg(num); };
    pop.OnDataTransfered = [&pass] { pass.events << "DataTransfered"; };
    pop.OnUserMessageSave = [&pass](int, const QByteArray &contents) { pass.saved << contents; };
}

void collect(const TmsRemotePOP &pop, Pass &pass)
{
    for (int i = 0; i < pop.Info().Count(); ++i) {
        pass.sizes << pop.Info().Items(i).Size;
        pass.headers << pop.Info().Items(i).Headers.lines();
        pass.deleted << pop.Info().Items(i).Deleted;
    }
}

void logIn(TmsRemotePOP &pop, const DovecotServer &server)
{
    server.logIn(pop);
    pop.setTimeOut(20);
}

} // namespace

class TestPipeliningDovecot : public QObject
{
    Q_OBJECT

private slots:
    void passesAgreeWithAndWithoutPipelining()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(4242).messages(300);
        QList<Pass> passes;
        QList<QList<QByteArray>> left;
        for (const bool pipelined : {false, true}) {
            DovecotServer server;
            for (const GeneratedMessage &m : messages)
                server.addMessage(m.raw);
            MS_START_DOVECOT(server);
            TmsRemotePOP pop;
            logIn(pop, server);
            pop.setPipeliningAllowed(pipelined);
            Pass pass;
            attach(pop, pass);
            pop.UpdateInfo();
            QVERIFY(pop.hasCapability("PIPELINING"));
            for (int i = 0; i < pop.Info().Count(); i += 4)
                pop.MarkForDelete(i);
            for (int i = 2; i < pop.Info().Count(); i += 50)
                pop.MarkForRetrieve(i);
            pop.ProcessMarks();
            QVERIFY(pop.committed());
            collect(pop, pass);
            passes << pass;
            left << server.storedMessages();
        }
        QCOMPARE(passes[1].events, passes[0].events);
        QCOMPARE(passes[1].sizes, passes[0].sizes);
        QCOMPARE(passes[1].headers, passes[0].headers);
        QCOMPARE(passes[1].deleted, passes[0].deleted);
        QCOMPARE(passes[1].saved, passes[0].saved);
        QCOMPARE(left[1], left[0]);
        QCOMPARE(passes[0].sizes.size(), 300);
        QCOMPARE(passes[0].deleted.count(true), 75);
        QCOMPARE(passes[0].saved.size(), 6);
        QCOMPARE(left[0].size(), 225);
    }

    void changedMailboxDeletesNothingWhenPipelined()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(7).messages(40);
        DovecotServer server;
        for (const GeneratedMessage &m : messages)
            server.addMessage(m.raw);
        MS_START_DOVECOT(server);
        TmsRemotePOP pop;
        logIn(pop, server);
        pop.UpdateInfo();
        for (int i = 0; i < 40; ++i)
            pop.MarkForDelete(i);
        QVERIFY(server.removeMessage(25)); // numbers from 26 on moved down
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, pop.ProcessMarks());
        QVERIFY(!pop.committed());
        QCOMPARE(server.storedMessageCount(), 39);
    }

    // Replies that stream in without a pause are taken from the socket
    // without a pass through the event loop each; the loop must still run
    // often enough for a timer (the Cancel button, a repaint) to fire
    // in the middle of the pass.
    void eventLoopRunsDuringAStreamingPass()
    {
        DovecotServer server;
        MessageBuilder builder(99);
        for (int i = 0; i < 3000; ++i)
            server.addMessage(builder.message(i).raw);
        MS_START_DOVECOT(server);
        TmsRemotePOP pop;
        logIn(pop, server);
        pop.UpdateInfo(); // Dovecot builds its index

        int listedAtCancel = -1;
        pop.OnUpdatingInfo = [&] {
            QTimer::singleShot(5, &pop, [&] {
                listedAtCancel = pop.Info().Count();
                pop.Cancel();
            });
        };
        QVERIFY_THROWS_EXCEPTION(ECanceledError, pop.UpdateInfo());
        QVERIFY(listedAtCancel >= 0);
        QVERIFY(listedAtCancel < 3000);
        QCOMPARE(pop.Info().Count(), listedAtCancel);
    }
};

QTEST_GUILESS_MAIN(TestPipeliningDovecot)
#include "tst_pipelining_dovecot.moc"
