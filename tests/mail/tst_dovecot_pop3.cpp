// The POP3 client against a real server: a private Dovecot with a mailbox of
// realistic, partly malformed messages. Listing, retrieval and the delete
// pass must agree byte for byte with what the server holds and serves.

#include "mail/headers.h"
#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/dovecotserver.h"
#include "support/memoryheadercache.h"
#include "support/messagebuilder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void connectTo(TmsRemotePOP &pop, const DovecotServer &server)
{
    server.logIn(pop);
    pop.setTimeOut(20);
}

TmsHeaders asHeaders(const QList<QByteArray> &lines)
{
    TmsHeaders headers;
    for (const QByteArray &line : lines)
        headers << decodeHeaderLine(line);
    return headers;
}

// What a POP3 server sends for a message: every line that begins with "."
// gets a second one, and a line "." alone ends the data.
QByteArray dotStuffed(const QByteArray &raw)
{
    QByteArray wire;
    for (qsizetype start = 0; start < raw.size();) {
        const qsizetype end = raw.indexOf("\r\n", start);
        const qsizetype next = end < 0 ? raw.size() : end + 2;
        if (raw.at(start) == '.')
            wire += '.';
        wire += raw.mid(start, next - start);
        start = next;
    }
    return wire + ".\r\n";
}

QString subjectOf(const TmsRemoteInfoItem &item)
{
    return GetHeaderValue(item.Headers.lines(), QStringLiteral("Subject"));
}

} // namespace

class TestDovecotPop3 : public QObject
{
    Q_OBJECT

private slots:
    void listsEveryMessageWithServerSizesAndHeaders()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(2024).messages(500);
        DovecotServer server;
        for (const GeneratedMessage &m : messages)
            server.addMessage(m.raw);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server);
        QList<int> announced;
        pop.OnNextInfoUpdated = [&](int num) { announced << num; };
        bool finished = false;
        pop.OnInfoUpdated = [&] { finished = true; };
        pop.UpdateInfo();

        QVERIFY(finished);
        QVERIFY(!pop.Connected());
        QCOMPARE(pop.MessageCount(), messages.size());
        QCOMPARE(pop.Info().Count(), messages.size());
        QCOMPARE(announced.size(), messages.size());
        qint64 total = 0;
        for (int i = 0; i < messages.size(); ++i) {
            const GeneratedMessage &m = messages[i];
            const TmsRemoteInfoItem &item = pop.Info().Items(i);
            QCOMPARE(announced[i], i);
            QCOMPARE(item.Size, qint64(m.raw.size()));
            QCOMPARE(item.Headers.lines(), asHeaders(m.headerLines));
            QCOMPARE(subjectOf(item), m.expectedSubject);
            QCOMPARE(senderAddress(item.Headers.lines()), m.senderAddress);
            QVERIFY(!item.DeleteMark && !item.RetrieveMark);
            total += item.Size;
        }
        QCOMPARE(pop.MailboxSize(), total);
    }

    void retrievedMessageIsStoredAsTheServerSentIt()
    {
        MessageBuilder builder(99);
        QList<QByteArray> raws;
        QList<int> wanted; // a plain message and ones whose bodies need dot-stuffing
        for (int i = 0; raws.size() < 8; ++i) {
            const GeneratedMessage m = builder.message(i);
            if (m.bodyHasDotLines || wanted.isEmpty())
                wanted << int(raws.size());
            raws << m.raw;
        }
        DovecotServer server;
        server.addMessages(raws);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server);
        QTemporaryDir folder;
        pop.setMessageDirectory(folder.path());
        pop.UpdateInfo();
        QCOMPARE(pop.Info().Count(), raws.size());
        QList<int> retrieved;
        pop.OnRetrieved = [&](int num) { retrieved << num; };
        for (int i : std::as_const(wanted))
            pop.MarkForRetrieve(i);
        pop.ProcessMarks();

        QCOMPARE(retrieved, wanted);
        for (int i = 0; i < raws.size(); ++i) {
            QFile file(folder.filePath(QStringLiteral("msg_%1.eml").arg(i)));
            if (!wanted.contains(i)) {
                QVERIFY(!file.exists());
                continue;
            }
            QVERIFY(file.open(QIODevice::ReadOnly));
            // The file keeps the data block as it came: stuffed dots and the final "." line.
            QCOMPARE(file.readAll(), dotStuffed(raws[i]));
        }
        // Retrieving is not deleting.
        QCOMPARE(server.storedMessages(), raws);
    }

    void deletePassRemovesTheMarkedMessagesAndOnlyThose()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(5).messages(12);
        DovecotServer server;
        for (const GeneratedMessage &m : messages)
            server.addMessage(m.raw);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server);
        pop.UpdateInfo();
        QCOMPARE(pop.Info().Count(), 12);
        const QList<int> doomed{0, 4, 5, 11};
        QList<int> announced;
        pop.OnDeleting = [&](int num) { announced << num; };
        for (int i : doomed)
            pop.MarkForDelete(i);
        pop.ProcessMarks();

        QVERIFY(pop.committed());
        QCOMPARE(announced, doomed);
        QList<QByteArray> kept;
        QStringList keptSubjects;
        for (int i = 0; i < messages.size(); ++i) {
            QCOMPARE(pop.Info().Items(i).Deleted, doomed.contains(i));
            if (!doomed.contains(i)) {
                kept << messages[i].raw;
                keptSubjects << messages[i].expectedSubject;
            }
        }
        QCOMPARE(server.storedMessages(), kept);

        pop.UpdateInfo();
        QStringList listedSubjects;
        for (int i = 0; i < pop.Info().Count(); ++i)
            listedSubjects << subjectOf(pop.Info().Items(i));
        QCOMPARE(listedSubjects, keptSubjects);
    }

    void deletePassDeletesNothingWhenTheMailboxChangedMeanwhile()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(11).messages(6);
        DovecotServer server;
        for (const GeneratedMessage &m : messages)
            server.addMessage(m.raw);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server);
        pop.UpdateInfo();
        // Another mail program fetched the first message: every later number shifts.
        QVERIFY(server.removeMessage(0));
        pop.MarkForDelete(1);
        pop.MarkForDelete(3);
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, pop.ProcessMarks());

        QVERIFY(!pop.committed());
        QVERIFY(!pop.Connected());
        QCOMPARE(server.storedMessageCount(), 5);
        pop.UpdateInfo();
        QCOMPARE(pop.Info().Count(), 5);
        QCOMPARE(subjectOf(pop.Info().Items(0)), messages[1].expectedSubject);
    }

    void cachedChecksFetchOnlyWhatIsNewAndDeletePassesFindMessagesByUidl()
    {
        const QList<GeneratedMessage> messages = MessageBuilder(12).messages(40);
        DovecotServer server;
        for (const GeneratedMessage &m : messages)
            server.addMessage(m.raw);
        MS_START_DOVECOT(server);

        MemoryHeaderCache cache;
        TmsRemotePOP pop;
        connectTo(pop, server);
        pop.setHeaderCache(&cache);
        const auto rows = [&pop] {
            QStringList seen;
            for (int i = 0; i < pop.Info().Count(); ++i) {
                const TmsRemoteInfoItem &item = pop.Info().Items(i);
                seen << QStringLiteral("%1 %2 ").arg(item.Size).arg(item.Identity) + item.Headers.lines().join('|');
            }
            return seen;
        };
        pop.UpdateInfo();
        const QStringList first = rows();
        QCOMPARE(cache.remembered.size(), 40);

        pop.UpdateInfo();
        QCOMPARE(cache.remembered.size(), 40); // no header block came again
        QCOMPARE(rows(), first);

        const GeneratedMessage added = MessageBuilder(13).message(0);
        server.addMessage(added.raw);
        pop.UpdateInfo();
        QCOMPARE(cache.remembered.size(), 41);
        QCOMPARE(subjectOf(pop.Info().Items(40)), added.expectedSubject);

        // Another mail program fetched the first message: every number
        // shifts, and the UIDLs still name the marked ones.
        QVERIFY(server.removeMessage(0));
        pop.MarkForDelete(3);
        pop.MarkForDelete(40);
        pop.ProcessMarks();
        QVERIFY(pop.committed());
        QList<QByteArray> kept;
        for (int i = 1; i < messages.size(); ++i) {
            if (i != 3)
                kept << messages[i].raw;
        }
        QCOMPARE(server.storedMessages(), kept);
    }

    void wrongPasswordReportsTheServersReply()
    {
        DovecotServer server;
        server.addMessage(MessageBuilder(3).message(0).raw);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server);
        pop.setPassword(QStringLiteral("not the password"));
        bool updating = false;
        pop.OnUpdatingInfo = [&] { updating = true; };
        try {
            pop.UpdateInfo();
            QFAIL("a wrong password was accepted");
        } catch (const ELoginRefusedError &error) {
            QCOMPARE(error.message(), QStringLiteral("The server refused the password for %1 at %2: "
                                                     "-ERR [AUTH] Authentication failed.")
                                          .arg(server.userName(), server.server()));
        }
        QVERIFY(!updating);
        QCOMPARE(pop.Info().Count(), 0);

        // The failed session leaves nothing behind: the right password works at once.
        pop.setPassword(server.password());
        pop.UpdateInfo();
        QCOMPARE(pop.Info().Count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDovecotPop3)
#include "tst_dovecot_pop3.moc"
