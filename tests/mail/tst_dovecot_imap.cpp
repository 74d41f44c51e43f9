// The IMAP client against a real server: a private Dovecot that serves the
// same maildir over POP3 and IMAP, with a Junk folder. The IMAP rows must be
// the POP3 rows, a removal must touch exactly the marked messages and never
// \Seen, and a folder that changed since the listing must lose nothing.

#include "mail/imapclient.h"
#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/dovecotserver.h"
#include "support/memoryheadercache.h"
#include "support/messagebuilder.h"
#include "support/rawimapsession.h"
#include "support/scriptedserver.h" // TestCertificate

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Skips (or fails, when Dovecot is required) without Dovecot's IMAP server.
#define START_DOVECOT_IMAP(server)                                                                                     \
    do {                                                                                                               \
        if (!DovecotServer::imapAvailable()) {                                                                         \
            if (DovecotServer::required())                                                                             \
                QFAIL("Dovecot's IMAP server is not installed (Debian package dovecot-imapd)");                        \
            QSKIP("Dovecot's IMAP server is not installed (Debian package dovecot-imapd)");                            \
        }                                                                                                              \
        MS_START_DOVECOT(server);                                                                                      \
    } while (false)

QList<QByteArray> raws(const QList<GeneratedMessage> &messages)
{
    QList<QByteArray> texts;
    for (const GeneratedMessage &m : messages)
        texts << m.raw;
    return texts;
}

QByteArray headerBlock(const QByteArray &raw)
{
    return raw.left(raw.indexOf("\r\n\r\n") + 4);
}

void connectTo(ImapClient &client, const DovecotServer &server, ImapClient::Removal removal)
{
    server.logInImap(client);
    client.setTimeOut(20);
    client.setRemoval(removal);
}

// Adds flag to the message with this UID, as another mail program would.
bool addFlag(const DovecotServer &server, quint32 uid, const QByteArray &flag)
{
    RawImapSession other(server.imapPort());
    return other.logIn(server.userName(), server.password()) && other.run("SELECT INBOX").contains(" OK ")
           && other.run("UID STORE " + QByteArray::number(uid) + " +FLAGS.SILENT (" + flag + ')').contains(" OK ");
}

} // namespace

class TestDovecotImap : public QObject
{
    Q_OBJECT

private slots:
    // --- The fixture -----------------------------------------------------

    void servesTheMaildirOverImapWithAJunkFolder()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(7).messages(3);
        DovecotServer server;
        server.addMessages(raws(messages));
        START_DOVECOT_IMAP(server);
        QVERIFY(server.greeting().startsWith("+OK")); // POP3 still answers beside it
        QVERIFY(server.imapPort() != 0 && server.imapPort() != server.port());

        RawImapSession imap(server.imapPort());
        QVERIFY2(imap.greeting().startsWith("* OK"), imap.greeting());
        QVERIFY(imap.logIn(server.userName(), server.password()));
        const QByteArray folders = imap.run("LIST \"\" \"*\" RETURN (SPECIAL-USE)");
        QVERIFY2(folders.contains("\\Junk) \".\" Junk\r\n"), folders);
        const QByteArray examined = imap.run("EXAMINE INBOX");
        QVERIFY2(examined.contains("* 3 EXISTS"), examined);
        QVERIFY2(examined.contains("[UIDVALIDITY " + QByteArray::number(server.uidValidity()) + ']'), examined);
        const QByteArray fetched = imap.run("UID FETCH 2 (UID RFC822.SIZE BODY.PEEK[HEADER])");
        const QByteArray header = headerBlock(messages[1].raw);
        QVERIFY2(fetched.contains("RFC822.SIZE " + QByteArray::number(messages[1].raw.size())), fetched);
        QVERIFY2(fetched.contains("BODY[HEADER] {" + QByteArray::number(header.size()) + "}\r\n" + header), fetched);
        QCOMPARE(server.storedMessages(QStringLiteral("Junk")), QList<QByteArray>{});
        QCOMPARE(server.seenFlags(), (QList<bool>{false, false, false}));
    }

    void reportsSeenFlagsAndMovedMessages()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(8).messages(3));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);

        QVERIFY(addFlag(server, 2, "\\Seen"));
        QCOMPARE(server.seenFlags(), (QList<bool>{false, true, false}));
        RawImapSession imap(server.imapPort());
        QVERIFY(imap.logIn(server.userName(), server.password()));
        QVERIFY(imap.run("SELECT INBOX").contains(" OK "));
        QVERIFY(imap.run("UID MOVE 3 Junk").contains(" OK "));
        QCOMPARE(server.storedMessages(QStringLiteral("Junk")), QList<QByteArray>{texts[2]});
        QCOMPARE(server.storedMessages(), texts.mid(0, 2));
        QCOMPARE(server.seenFlags(QStringLiteral("Junk")), QList<bool>{false});
    }

    void changesTheUidValidity()
    {
        DovecotServer server;
        server.addMessage(MessageBuilder(9).message(0).raw);
        START_DOVECOT_IMAP(server);
        const quint32 before = server.uidValidity();
        QVERIFY(before != 0);
        QVERIFY(server.setUidValidity(before + 77));
        QCOMPARE(server.uidValidity(), before + 77);
        RawImapSession imap(server.imapPort());
        QVERIFY(imap.logIn(server.userName(), server.password()));
        QVERIFY(imap.run("EXAMINE INBOX").contains("[UIDVALIDITY " + QByteArray::number(before + 77) + ']'));
    }

    void idleHearsOfADeliveredMessage()
    {
        MessageBuilder builder(10);
        DovecotServer server;
        server.addMessage(builder.message(0).raw);
        START_DOVECOT_IMAP(server);

        RawImapSession imap(server.imapPort());
        QVERIFY(imap.logIn(server.userName(), server.password()));
        QVERIFY(imap.run("SELECT INBOX").contains("* 1 EXISTS"));
        imap.send("t9 IDLE");
        QVERIFY(imap.readUntil("+ ").startsWith("+ "));
        server.addMessage(builder.message(1).raw);
        const QByteArray news = imap.readUntil("* 2 EXISTS", 10000);
        QVERIFY2(news.contains("* 2 EXISTS"), news);
        imap.send("DONE");
        QVERIFY(imap.readUntil("t9 ").contains("t9 OK"));
    }

    void offersStartTlsAndImaps()
    {
        QString error;
        const TestCertificate identity =
            TestCertificate::generate(QStringLiteral("localhost"), {QStringLiteral("IP:127.0.0.1")}, nullptr, &error);
        if (identity.isNull())
            QSKIP(qPrintable(error));
        DovecotServer server;
        server.setTlsIdentity(identity.certificatePem, identity.keyPem);
        START_DOVECOT_IMAP(server);
        QVERIFY(server.imapsPort() != 0);
        QVERIFY(RawImapSession(server.imapPort()).run("CAPABILITY").contains(" STARTTLS"));
        RawImapSession secure(server.imapsPort(), true);
        QVERIFY2(secure.greeting().startsWith("* OK"), secure.greeting());
        QVERIFY(secure.encrypted());
        QVERIFY(secure.logIn(server.userName(), server.password()));
    }

    // --- The client --------------------------------------------------------

    void listsTheRowsPop3Lists()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(2024).messages(500);
        DovecotServer server;
        server.addMessages(raws(messages));
        START_DOVECOT_IMAP(server);

        TmsRemotePOP pop;
        server.logIn(pop);
        pop.setTimeOut(20);
        pop.UpdateInfo();
        ImapClient imap;
        connectTo(imap, server, ImapClient::Removal::MoveToFolder);
        QList<int> announced;
        imap.OnNextInfoUpdated = [&](int num) { announced << num; };
        imap.UpdateInfo();

        QVERIFY(!imap.Connected());
        QCOMPARE(imap.MessageCount(), messages.size());
        QCOMPARE(imap.Info().Count(), pop.Info().Count());
        QCOMPARE(announced.size(), messages.size());
        QCOMPARE(imap.uidValidity(), server.uidValidity());
        quint32 previousUid = 0;
        for (int i = 0; i < imap.Info().Count(); ++i) {
            const TmsRemoteInfoItem &row = imap.Info().Items(i);
            QCOMPARE(row.Size, pop.Info().Items(i).Size);
            QCOMPARE(row.Headers.lines(), pop.Info().Items(i).Headers.lines());
            QVERIFY(row.Uid > previousUid);
            previousUid = row.Uid;
        }
        QVERIFY(!server.seenFlags().contains(true));
    }

    void moveToJunkMovesExactlyTheMarked()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(31).messages(12));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);
        QVERIFY(addFlag(server, 2, "\\Seen")); // read by the user in another program: stays so

        ImapClient imap;
        connectTo(imap, server, ImapClient::Removal::MoveToFolder);
        imap.UpdateInfo();
        const QList<int> spam{0, 4, 5, 11};
        for (int i : spam)
            imap.MarkForDelete(i);
        imap.ProcessMarks();

        QVERIFY(imap.committed());
        QList<QByteArray> kept;
        QList<QByteArray> moved;
        QList<bool> keptSeen;
        for (int i = 0; i < texts.size(); ++i) {
            const TmsRemoteInfoItem &item = imap.Info().Items(i);
            QCOMPARE(item.MovedTo, spam.contains(i) ? QStringLiteral("Junk") : QString());
            (spam.contains(i) ? moved : kept) << texts[i];
            if (!spam.contains(i))
                keptSeen << (i == 1);
        }
        QCOMPARE(server.storedMessages(), kept);
        QCOMPARE(server.storedMessages(QStringLiteral("Junk")), moved);
        QCOMPARE(server.seenFlags(), keptSeen);
        QVERIFY(!server.seenFlags(QStringLiteral("Junk")).contains(true));
    }

    void deleteRemovesExactlyTheMarked()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(32).messages(10));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);

        ImapClient imap;
        connectTo(imap, server, ImapClient::Removal::Delete);
        imap.UpdateInfo();
        // Another program flagged message 4 \Deleted without expunging it:
        // removing our marks must not take it along.
        QVERIFY(addFlag(server, imap.Info().Items(3).Uid, "\\Deleted"));
        const QList<int> spam{1, 2, 9};
        for (int i : spam)
            imap.MarkForDelete(i);
        imap.ProcessMarks();

        QVERIFY(imap.committed());
        QList<QByteArray> kept;
        for (int i = 0; i < texts.size(); ++i) {
            QCOMPARE(imap.Info().Items(i).Deleted, spam.contains(i));
            QCOMPARE(imap.Info().Items(i).MovedTo, QString());
            if (!spam.contains(i))
                kept << texts[i];
        }
        QCOMPARE(server.storedMessages(), kept);
        QCOMPARE(server.storedMessages(QStringLiteral("Junk")), QList<QByteArray>{});
        QVERIFY(!server.seenFlags().contains(true));
    }

    void retrievingLeavesSeenAlone()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(33).messages(4));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);

        ImapClient imap;
        connectTo(imap, server, ImapClient::Removal::MoveToFolder);
        QTemporaryDir folder;
        imap.setMessageDirectory(folder.path());
        imap.UpdateInfo();
        imap.MarkForRetrieve(2);
        imap.ProcessMarks();

        QFile file(folder.filePath(QStringLiteral("msg_2.eml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), texts[2]);
        QCOMPARE(server.storedMessages(), texts);
        QCOMPARE(server.seenFlags(), (QList<bool>{false, false, false, false}));
    }

    void changedUidValidityRemovesNothing()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(34).messages(6));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);

        ImapClient imap;
        connectTo(imap, server, ImapClient::Removal::MoveToFolder);
        imap.UpdateInfo();
        // The UIDs stay as they were: only the UIDVALIDITY tells them apart.
        QVERIFY(server.setUidValidity(imap.uidValidity() + 1000));
        imap.MarkForDelete(1);
        imap.MarkForDelete(4);
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, imap.ProcessMarks());

        QVERIFY(!imap.committed());
        QVERIFY(!imap.Info().Items(1).Deleted && imap.Info().Items(1).MovedTo.isEmpty());
        QCOMPARE(server.storedMessages(), texts);
        QCOMPARE(server.storedMessages(QStringLiteral("Junk")), QList<QByteArray>{});
    }

    void cachedChecksFetchOnlyWhatIsNew()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(36).messages(40));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);

        MemoryHeaderCache cache;
        ImapClient imap;
        connectTo(imap, server, ImapClient::Removal::Delete);
        imap.setHeaderCache(&cache);
        const auto rows = [&imap] {
            QStringList seen;
            for (int i = 0; i < imap.Info().Count(); ++i) {
                const TmsRemoteInfoItem &item = imap.Info().Items(i);
                seen << QStringLiteral("%1 %2 %3 ").arg(item.Uid).arg(item.Size).arg(item.Identity)
                            + item.Headers.lines().join('|');
            }
            return seen;
        };
        imap.UpdateInfo();
        const QStringList first = rows();
        QCOMPARE(cache.remembered.size(), 40);

        imap.UpdateInfo();
        QVERIFY(imap.hasCapability(QStringLiteral("ESEARCH")));
        QCOMPARE(cache.remembered.size(), 40); // no header block came again
        QCOMPARE(rows(), first);

        server.addMessage(MessageBuilder(37).message(0).raw);
        QVERIFY(server.removeMessage(5));
        imap.UpdateInfo();
        QCOMPARE(cache.remembered.size(), 41);
        QCOMPARE(rows().mid(0, 39), first.mid(0, 5) + first.mid(6));
        QCOMPARE(imap.Info().Items(39).Uid, 41u);

        QVERIFY(server.setUidValidity(imap.uidValidity() + 1000));
        imap.UpdateInfo();
        QCOMPARE(cache.remembered.size(), 81); // fetched whole again
        QCOMPARE(imap.Info().Items(0).Identity, imapIdentity(imap.uidValidity(), 1));
    }

    void messageRemovedByAnotherClientRemovesNothing()
    {
        const QList<QByteArray> texts = raws(MessageBuilder(35).messages(6));
        DovecotServer server;
        server.addMessages(texts);
        START_DOVECOT_IMAP(server);

        for (const ImapClient::Removal removal : {ImapClient::Removal::MoveToFolder, ImapClient::Removal::Delete}) {
            ImapClient imap;
            connectTo(imap, server, removal);
            imap.UpdateInfo();
            QCOMPARE(imap.Info().Count(), texts.size() - (removal == ImapClient::Removal::Delete ? 1 : 0));
            const QList<QByteArray> before = server.storedMessages();
            // Another mail program fetched and removed one of the marked messages.
            QVERIFY(server.removeMessage(3));
            imap.MarkForDelete(0);
            imap.MarkForDelete(3);
            QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, imap.ProcessMarks());

            QVERIFY(!imap.committed());
            QList<QByteArray> expected = before;
            expected.removeAt(3);
            QCOMPARE(server.storedMessages(), expected);
            QCOMPARE(server.storedMessages(QStringLiteral("Junk")), QList<QByteArray>{});
        }
    }
};

QTEST_GUILESS_MAIN(TestDovecotImap)
#include "tst_dovecot_imap.moc"
