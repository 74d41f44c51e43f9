// The scripted IMAP server the client's fault tests stand on: what it serves
// must be what a real server would say, and each fault must come out on the
// wire as described, else a client test proves nothing.

#include "support/rawimapsession.h"
#include "support/scriptedimapserver.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

const QByteArray First = "From: a@example.org\r\nSubject: one\r\n\r\nbody one\r\n";
const QByteArray Second = "From: b@example.org\nSubject: two\n\nbody two"; // LF only, no final line end
const QByteArray Third = "From: c@example.org\r\nSubject: three\r\n\r\nbody three\r\n";

struct Fixture
{
    Fixture()
    {
        server.setMessages({First, Second, Third});
        listening = server.listen();
    }
    ScriptedImapServer server;
    bool listening = false;
};

} // namespace

class TestScriptedImapServer : public QObject
{
    Q_OBJECT

private slots:
    void listsAndFetchesWithoutSettingSeen()
    {
        Fixture f;
        QVERIFY(f.listening);
        RawImapSession imap(f.server.port());
        QVERIFY(imap.greeting().startsWith("* OK"));
        QVERIFY(imap.run("CAPABILITY").contains("* CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR UIDPLUS MOVE"));
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        const QByteArray folders = imap.run("LIST \"\" \"*\" RETURN (SPECIAL-USE)");
        QCOMPARE(folders, "* LIST (\\HasNoChildren) \"/\" \"INBOX\"\r\n"
                          "* LIST (\\HasNoChildren \\Junk) \"/\" \"Junk\"\r\n"
                          "t3 OK LIST completed\r\n");
        QCOMPARE(imap.run("LIST (SPECIAL-USE) \"\" \"*\"").count("* LIST"), 1);
        const QByteArray examined = imap.run("EXAMINE INBOX");
        QVERIFY(examined.contains("* 3 EXISTS\r\n"));
        QVERIFY(examined.contains("[UIDVALIDITY 1700000000]"));
        QVERIFY(examined.contains("t5 OK [READ-ONLY]"));

        const QByteArray normalizedSecond = "From: b@example.org\r\nSubject: two\r\n\r\nbody two\r\n";
        QCOMPARE(ScriptedImapServer::wireSize(Second), normalizedSecond.size());
        const QByteArray fetched = imap.run("UID FETCH 2:* (UID RFC822.SIZE BODY.PEEK[HEADER])");
        QCOMPARE(fetched, "* 2 FETCH (UID 2 RFC822.SIZE " + QByteArray::number(normalizedSecond.size())
                              + " BODY[HEADER] {37}\r\nFrom: b@example.org\r\nSubject: two\r\n\r\n)\r\n"
                                "* 3 FETCH (UID 3 RFC822.SIZE 51 BODY[HEADER] {39}\r\n"
                                "From: c@example.org\r\nSubject: three\r\n\r\n)\r\n"
                                "t6 OK UID FETCH completed\r\n");
        QVERIFY(imap.run("UID FETCH 1 (BODY[])").contains("{47}\r\n" + First + ')'));
        QCOMPARE(f.server.seenSettings(), 0); // read-only: not even BODY[] sets it
        QCOMPARE(imap.run("UID STORE 1 +FLAGS (\\Deleted)"), "t8 NO Mailbox is read-only\r\n");
        QCOMPARE(f.server.flags(1), QStringList{});
        QCOMPARE(f.server.dialogue().first(), QStringLiteral("S: * OK IMAP4rev1 server ready"));
        QVERIFY(f.server.dialogue().contains(QStringLiteral("S: * 3 FETCH (UID 3 RFC822.SIZE 51 BODY[HEADER] {39}")));
    }

    void movesCopiesAndExpungesByUid()
    {
        Fixture f;
        QVERIFY(f.listening);
        RawImapSession imap(f.server.port());
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        QVERIFY(imap.run("SELECT INBOX").contains("OK [READ-WRITE]"));
        QCOMPARE(imap.run("UID MOVE 2 Junk"), "* OK [COPYUID 1700000002 2 1] Moved UIDs.\r\n* 2 EXPUNGE\r\n"
                                              "t3 OK Move completed\r\n");
        QCOMPARE(f.server.messages(QStringLiteral("Junk")),
                 QList<QByteArray>{"From: b@example.org\r\nSubject: two\r\n\r\nbody two\r\n"});
        QVERIFY(imap.run("UID COPY 3 Junk").contains("t4 OK [COPYUID 1700000002 3 2] Copy completed"));
        QVERIFY(imap.run("UID COPY 3 Nowhere").contains("t5 NO [TRYCREATE]"));
        // \Deleted on two, UID EXPUNGE names one: the other stays.
        QVERIFY(imap.run("UID STORE 1,3 +FLAGS.SILENT (\\Deleted)").endsWith("t6 OK Store completed\r\n"));
        QCOMPARE(imap.run("UID EXPUNGE 3"), "* 2 EXPUNGE\r\nt7 OK Expunge completed\r\n");
        QCOMPARE(f.server.uids(), QList<quint32>{1});
        QCOMPARE(f.server.flags(1), QStringList{QStringLiteral("\\Deleted")});
        // A plain EXPUNGE takes every \Deleted message.
        QCOMPARE(imap.run("EXPUNGE"), "* 1 EXPUNGE\r\nt8 OK Expunge completed\r\n");
        QCOMPARE(f.server.messages(), QList<QByteArray>{});
        QCOMPARE(f.server.messages(QStringLiteral("Junk")).size(), 2);
        QVERIFY(imap.run("UID FETCH 1 (BODY[])").endsWith("t9 OK UID FETCH completed\r\n"));
        QCOMPARE(f.server.seenSettings(), 0);
    }

    void bodyWithoutPeekSetsSeen()
    {
        Fixture f;
        QVERIFY(f.listening);
        RawImapSession imap(f.server.port());
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        imap.run("SELECT INBOX");
        QVERIFY(imap.run("UID FETCH 3 (BODY.PEEK[])").contains(" OK "));
        QCOMPARE(f.server.seenSettings(), 0);
        QVERIFY(imap.run("UID FETCH 3 (BODY[] FLAGS)").contains("FLAGS (\\Seen)"));
        QCOMPARE(f.server.seenSettings(), 1);
        QCOMPARE(f.server.flags(3), QStringList{QStringLiteral("\\Seen")});
    }

    void signInsAreChecked()
    {
        Fixture f;
        QVERIFY(f.listening);
        f.server.setAccessToken(QStringLiteral("tok"));
        {
            RawImapSession imap(f.server.port());
            QVERIFY(imap.run("LOGIN user wrong").contains("t1 NO [AUTHENTICATIONFAILED]"));
            QVERIFY(imap.run("SELECT INBOX").contains("t2 BAD"));
            QVERIFY(imap.run("AUTHENTICATE PLAIN " + QByteArray("\0user\0secret", 12).toBase64()).contains("t3 OK"));
        }
        {
            RawImapSession imap(f.server.port());
            imap.send("a1 AUTHENTICATE XOAUTH2");
            QCOMPARE(imap.readUntil("+"), "+ \r\n");
            imap.send(QByteArray("user=user\x01"
                                 "auth=Bearer bad\x01\x01")
                          .toBase64());
            QVERIFY(imap.readUntil("+").startsWith("+ eyJ")); // the JSON error challenge
            imap.send("");
            QVERIFY(imap.readUntil("a1 ").startsWith("a1 NO [AUTHENTICATIONFAILED]"));
            imap.send("a2 AUTHENTICATE XOAUTH2 "
                      + QByteArray("user=user\x01"
                                   "auth=Bearer tok\x01\x01")
                            .toBase64());
            QVERIFY(imap.readUntil("a2 ").startsWith("a2 OK"));
        }
        f.server.setCapabilities({QStringLiteral("IMAP4rev1"), QStringLiteral("LOGINDISABLED")});
        RawImapSession imap(f.server.port());
        QVERIFY(imap.run("LOGIN user secret").contains("t1 NO [PRIVACYREQUIRED]"));
        QVERIFY(imap.run("AUTHENTICATE PLAIN " + QByteArray("\0user\0secret", 12).toBase64())
                    .contains("t2 BAD Initial response without SASL-IR"));
    }

    void acceptsLiteralsFromTheClientAndRecordsThem()
    {
        Fixture f;
        QVERIFY(f.listening);
        f.server.setCredentials(QStringLiteral("user"), QStringLiteral("pa\"ss"));
        RawImapSession imap(f.server.port());
        imap.send("t1 LOGIN user {5}");
        QCOMPARE(imap.readUntil("+"), "+ Ready for literal data\r\n");
        imap.send("pa\"ss");
        QVERIFY(imap.readUntil("t1 ").startsWith("t1 OK"));
        QCOMPARE(f.server.commands(), QStringList{QStringLiteral("t1 LOGIN user {5}\r\npa\"ss")});
    }

    void faultsComeOutAsScripted()
    {
        Fixture f;
        QVERIFY(f.listening);
        f.server.failAt({}, "NO [UNAVAILABLE] third", 3);
        f.server.failAt(QStringLiteral("UID STORE"), "BAD no");
        f.server.noiseAt(QStringLiteral("UID FETCH"), {"* OK noise", "* 3 EXPUNGE"});
        RawImapSession imap(f.server.port());
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        QVERIFY(imap.run("SELECT INBOX").contains("t2 OK"));
        QCOMPARE(imap.run("NOOP"), "t3 NO [UNAVAILABLE] third\r\n");
        QCOMPARE(imap.run("UID STORE 1 +FLAGS (\\Deleted)"), "t4 BAD no\r\n");
        QCOMPARE(f.server.flags(1), QStringList{});
        const QByteArray noisy = imap.run("UID FETCH 1 (UID)");
        QCOMPARE(noisy, "* OK noise\r\n* 3 EXPUNGE\r\n* 1 FETCH (UID 1)\r\n"
                        "* OK noise\r\n* 3 EXPUNGE\r\nt5 OK UID FETCH completed\r\n");
        f.server.clearScript();
        f.server.closeMidLiteralAt(QStringLiteral("UID FETCH"));
        const QByteArray cut = imap.run("UID FETCH 1 (BODY.PEEK[])");
        QVERIFY2(cut.endsWith("BODY[] {47}\r\nFrom: a@example.org\r\nSu"), cut);
        QTRY_COMPARE(f.server.openSessions(), 0);
    }

    void endlessLiteralAndSplitWrites()
    {
        Fixture f;
        QVERIFY(f.listening);
        f.server.setWriteSplit(3, 0);
        f.server.endlessLiteralAt(QStringLiteral("UID FETCH"), 150);
        RawImapSession imap(f.server.port());
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        imap.run("EXAMINE INBOX");
        const QByteArray answer = imap.run("UID FETCH 1:* (UID BODY.PEEK[HEADER])");
        const QByteArray opening = "* 1 FETCH (UID 1 BODY[HEADER] {150}\r\n";
        QVERIFY2(answer.startsWith(opening), answer);
        QCOMPARE(answer.size(), opening.size() + 150 + QByteArray(")\r\nt3 OK UID FETCH completed\r\n").size());
        QVERIFY(answer.endsWith("\r\nX-Fill)\r\nt3 OK UID FETCH completed\r\n"));

        f.server.setWriteSplit(0);
        f.server.endlessLiteralAt(QStringLiteral("UID FETCH"), -1);
        imap.send("t9 UID FETCH 1:* (UID BODY.PEEK[HEADER])");
        const QByteArray endless = imap.readUntil("t9 ", 300);
        QVERIFY2(endless.startsWith("* 1 FETCH (UID 1 BODY[HEADER] {1099511627776}\r\nX-Filler: "), endless.left(80));
    }

    void hostileNamesSlowAnswersAndLongLines()
    {
        Fixture f;
        QVERIFY(f.listening);
        const QByteArray breaking = "Junk\"\r\nX1 EXPUNGE";
        f.server.addFolder(QString::fromUtf8(breaking), QStringLiteral("\\Junk"));
        f.server.addFolder(QStringLiteral("Courrier ind\u00e9sirable"));
        f.server.setFlags(2, {QStringLiteral("\\Deleted")});
        QCOMPARE(f.server.flags(2), QStringList{QStringLiteral("\\Deleted")});
        RawImapSession imap(f.server.port());
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        const QByteArray folders = imap.run("LIST \"\" \"*\"");
        QVERIFY2(folders.contains("(\\HasNoChildren) \"/\" \"Courrier ind\xc3\xa9sirable\"\r\n"), folders);
        QVERIFY2(folders.contains("(\\HasNoChildren \\Junk) \"/\" {17}\r\n" + breaking + "\r\n"), folders);

        f.server.delayAt(QStringLiteral("NOOP"), 300);
        QElapsedTimer slow;
        slow.start();
        QCOMPARE(imap.run("NOOP"), "t3 OK NOOP completed\r\n");
        QVERIFY(slow.elapsed() >= 250);

        imap.run("SELECT INBOX");
        imap.send("t5 IDLE");
        QCOMPARE(imap.readUntil("+"), "+ idling\r\n");
        f.server.sendLongLineToIdlers(100000);
        QByteArray line;
        for (int reads = 0; reads < 1000 && !line.endsWith("\r\n"); ++reads)
            line += imap.readUntil("*", 100);
        QCOMPARE(line, "* OK " + QByteArray(100000, 'x') + "\r\n");
    }

    void idleReportsDeliveriesAndOtherClientsChangeTheFolder()
    {
        Fixture f;
        QVERIFY(f.listening);
        RawImapSession imap(f.server.port());
        QVERIFY(imap.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        imap.run("SELECT INBOX");
        imap.send("t8 IDLE");
        QCOMPARE(imap.readUntil("+"), "+ idling\r\n");
        QCOMPARE(f.server.idlingSessions(), 1);
        QCOMPARE(f.server.addMessage(First), 4u);
        QCOMPARE(imap.readUntil("*"), "* 4 EXISTS\r\n");
        imap.send("DONE");
        QCOMPARE(imap.readUntil("t8 "), "t8 OK IDLE terminated\r\n");

        f.server.removeMessage(2);
        f.server.setUidValidity(99);
        QCOMPARE(imap.run("NOOP"), "* 2 EXPUNGE\r\nt3 OK NOOP completed\r\n");
        RawImapSession next(f.server.port());
        QVERIFY(next.logIn(QStringLiteral("user"), QStringLiteral("secret")));
        const QByteArray examined = next.run("EXAMINE INBOX");
        QVERIFY(examined.contains("* 3 EXISTS") && examined.contains("[UIDVALIDITY 99]"));
        QCOMPARE(f.server.uids(), (QList<quint32>{1, 3, 4}));
    }
};

QTEST_GUILESS_MAIN(TestScriptedImapServer)
#include "tst_scriptedimapserver.moc"
