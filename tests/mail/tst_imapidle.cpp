// The IMAP client watching a folder with IDLE against the scripted server:
// the session it sets up, the new mail it reports while the event loop
// runs, how it renews and leaves IDLE, and how a server's end of the
// session reaches it.

#include "mail/imapclient.h"
#include "mail/mailerrors.h"
#include "support/scriptedimapserver.h"

#include <QTest>

namespace {

QByteArray mail(int n)
{
    return "From: Jane Roe <jane@example.org>\r\nSubject: Message " + QByteArray::number(n) + "\r\n\r\nHello.\r\n";
}

// A client pointed at the server, with what it reports counted.
struct Watcher
{
    ImapClient client;
    int newMail = 0;
    QStringList ended;

    explicit Watcher(const ScriptedImapServer &server)
    {
        client.setServer(server.address());
        client.setUserName(server.user());
        client.setPassword(server.password());
        client.setTimeOut(5);
        client.OnNewMail = [this] { ++newMail; };
        client.OnIdleEnded = [this](const QString &reason) { ended << reason; };
    }
};

// The server's commands without their tags.
QStringList verbs(const ScriptedImapServer &server)
{
    QStringList result;
    for (const QString &command : server.commands())
        result << (command.startsWith(QLatin1Char('a')) ? command.section(QLatin1Char(' '), 1) : command);
    return result;
}

} // namespace

class TestImapIdle : public QObject
{
    Q_OBJECT

private slots:
    void startIdleExaminesTheFolderAndWaitsInIdle()
    {
        ScriptedImapServer server;
        server.setMessages({mail(1), mail(2)});
        QVERIFY(server.listen());
        Watcher watcher(server);

        QVERIFY(watcher.client.startIdle());
        QVERIFY(watcher.client.isIdling());
        QCOMPARE(verbs(server).mid(3), (QStringList{"EXAMINE \"INBOX\"", "IDLE"}));
        QCOMPARE(server.idlingSessions(), 1);
        QCOMPARE(watcher.newMail, 0);
    }

    void deliveredMessageIsReportedWhileTheEventLoopRuns()
    {
        ScriptedImapServer server;
        server.setMessages({mail(1)});
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());

        server.addMessage(mail(2));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.newMail, 1, 5000);
        server.addMessage(mail(3));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.newMail, 2, 5000);
        QVERIFY(watcher.client.isIdling());
        QVERIFY(watcher.ended.isEmpty());
    }

    void messagesRemovedMeanwhileDoNotHideNewOnes()
    {
        // Three messages, one removed and one delivered: the folder holds
        // three again, but the third is new.
        ScriptedImapServer server;
        server.setMessages({mail(1), mail(2), mail(3)});
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());

        server.removeMessage(server.uids().first());
        server.addMessage(mail(4));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.newMail, 1, 5000);
    }

    void newsArrivingWithTheContinuationIsReported()
    {
        // No further bytes come to raise a signal for the EXISTS line.
        ScriptedImapServer server;
        server.setMessages({mail(1)});
        server.replyAt("IDLE", "+ idling\r\n* 2 EXISTS\r\n");
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());
        QTRY_COMPARE_WITH_TIMEOUT(watcher.newMail, 1, 5000);
    }

    void flagChangesAndKeepAlivesAreNotNewMail()
    {
        ScriptedImapServer server;
        server.setMessages({mail(1), mail(2)});
        server.replyAt("IDLE", "+ idling\r\n* OK Still here\r\n* 1 FETCH (FLAGS (\\Seen))\r\n* 2 EXISTS\r\n");
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());
        QTest::qWait(200);
        QCOMPARE(watcher.newMail, 0);
        QVERIFY(watcher.ended.isEmpty());
    }

    void serverWithoutIdleIsLeftAtOnce()
    {
        ScriptedImapServer server;
        server.setCapabilities({"IMAP4rev1", "AUTH=PLAIN", "UIDPLUS"});
        QVERIFY(server.listen());
        Watcher watcher(server);

        QVERIFY(!watcher.client.startIdle());
        QVERIFY(!watcher.client.isIdling());
        QVERIFY(!watcher.client.Connected());
        QVERIFY(!verbs(server).contains("IDLE"));
        QCOMPARE(verbs(server).last(), QStringLiteral("LOGOUT"));
    }

    void refusedIdleFails()
    {
        ScriptedImapServer server;
        server.failAt("IDLE", "NO [UNAVAILABLE] not now");
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY_THROWS_EXCEPTION(EServerError, watcher.client.startIdle());
        QVERIFY(!watcher.client.isIdling());
        QVERIFY(!watcher.client.Connected());
    }

    void renewSendsDoneAndIdleAgain()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());

        watcher.client.renewIdle();
        QCOMPARE(verbs(server).mid(4), (QStringList{"IDLE", "DONE", "IDLE"}));
        QCOMPARE(server.idlingSessions(), 1);
        QCOMPARE(server.connectionCount(), 1);
        server.addMessage(mail(1));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.newMail, 1, 5000);
    }

    void stopSendsDoneAndLogout()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());

        watcher.client.stopIdle();
        QCOMPARE(verbs(server).mid(5), (QStringList{"DONE", "LOGOUT"}));
        QVERIFY(!watcher.client.isIdling());
        QVERIFY(!watcher.client.Connected());
        QTRY_COMPARE(server.openSessions(), 0);
        QVERIFY(watcher.ended.isEmpty()); // leaving is not the server's doing
    }

    void serverByeEndsTheWatch()
    {
        ScriptedImapServer server;
        server.replyAt("IDLE", "+ idling\r\n* BYE Shutting down\r\n");
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());
        QTRY_COMPARE_WITH_TIMEOUT(watcher.ended.size(), 1, 5000);
        QVERIFY(watcher.ended.first().contains(QStringLiteral("BYE Shutting down")));
        QVERIFY(!watcher.client.isIdling());
        QVERIFY(!watcher.client.Connected());
    }

    void aLineLongerThanAnyReplyEndsTheWatch()
    {
        // Longer than the socket reads ahead, so it never becomes a whole line.
        ScriptedImapServer server;
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());

        server.sendLongLineToIdlers(TagSocket::ReadBufferSize * 4);
        QTRY_COMPARE_WITH_TIMEOUT(watcher.ended.size(), 1, 5000);
        QVERIFY2(watcher.ended.first().startsWith("Reply line too long"), qPrintable(watcher.ended.first()));
        QVERIFY(!watcher.client.isIdling());
        QVERIFY(!watcher.client.Connected());
    }

    void closedConnectionEndsTheWatch()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        Watcher watcher(server);
        QVERIFY(watcher.client.startIdle());

        server.stopListening();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.ended.size(), 1, 5000);
        QVERIFY(!watcher.client.Connected());
        QCOMPARE(watcher.newMail, 0);
    }
};

QTEST_GUILESS_MAIN(TestImapIdle)
#include "tst_imapidle.moc"
