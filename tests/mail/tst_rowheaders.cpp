// A listed row keeps its header block packed: the lines read back from it
// are the lines the server sent, whether the check fetched the block or a
// header cache gave it, over POP3 and over IMAP. The row and the cache share
// the packed bytes, and packed bytes of another format are refused. Rows
// from the cache come in a burst without a wait for the server; the event
// loop still runs during it, so the window stays live and a Cancel ends the
// listing.

#include "mail/imapclient.h"
#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/memoryheadercache.h"
#include "support/scriptedimapserver.h"
#include "support/scriptedpop3server.h"

#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

// Lists the one message the server holds twice, the second time from the
// cache the first check filled, and gives the lines of the row each time.
template <typename Server, typename Client>
QList<TmsHeaders> listTwice(const QByteArray &message)
{
    Server server;
    server.setMessages({message});
    if (!server.listen())
        return {};
    Client client;
    server.logIn(client);
    client.setTimeOut(5);
    MemoryHeaderCache cache;
    client.setHeaderCache(&cache);
    QList<TmsHeaders> rows;
    for (int check = 0; check < 2; ++check) {
        client.UpdateInfo();
        rows << client.Info().Items(0).Headers.lines();
    }
    return cache.entries.size() == 1 ? rows : QList<TmsHeaders>{};
}

// Whether the row a check lists shares its packed bytes with what the cache
// got (first check) and gave (second check): nothing was packed again.
template <typename Server, typename Client>
bool rowsShareTheCachesBytes()
{
    Server server;
    server.setMessages({"Subject: shared\r\n\r\nbody\r\n"});
    if (!server.listen())
        return false;
    Client client;
    server.logIn(client);
    client.setTimeOut(5);
    MemoryHeaderCache cache;
    client.setHeaderCache(&cache);
    bool shared = true;
    for (int check = 0; check < 2; ++check) {
        client.UpdateInfo();
        const TmsRemoteInfoItem &row = client.Info().Items(0);
        shared = shared && !row.Headers.isEmpty()
                 && row.Headers.packed().constData() == cache.entries.value(row.Identity).headers.packed().constData();
    }
    return shared && cache.remembered.size() == 1;
}

// The rows a second check lists from the cache before a Cancel, pressed
// while row 10 arrives, ends it; -1 when the check was not canceled.
template <typename Server, typename Client>
int rowsBeforeCancel(int messages)
{
    Server server;
    server.setMessages(QList<QByteArray>(messages, "Subject: same\r\n\r\nbody\r\n"));
    if (!server.listen())
        return -1;
    Client client;
    server.logIn(client);
    client.setTimeOut(5);
    MemoryHeaderCache cache;
    client.setHeaderCache(&cache);
    client.UpdateInfo();
    int rows = 0;
    client.OnNextInfoUpdated = [&](int num) {
        ++rows;
        if (num == 10) {
            QTimer::singleShot(0, &client, [&client] { client.Cancel(); });
            QThread::msleep(60); // longer than the slice between passes through the event loop
        }
    };
    try {
        client.UpdateInfo();
    } catch (const ECanceledError &) {
        return rows;
    }
    return -1;
}

} // namespace

class TestRowHeaders : public QObject
{
    Q_OBJECT

private slots:
    void linesReadBackAsFetched_data()
    {
        QTest::addColumn<bool>("imap");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<TmsHeaders>("lines");
        for (const bool imap : {false, true}) {
            const char *protocol = imap ? "IMAP" : "POP3";
            QTest::addRow("%s, plain", protocol)
                << imap << QByteArray("Subject: hi\r\nFrom: a@b.example\r\n\r\nbody\r\n")
                << TmsHeaders{"Subject: hi", "From: a@b.example"};
            static constexpr char withNul[] = "Subject: a\0b\r\nFrom: a@b.example\r\n\r\nbody\r\n";
            QTest::addRow("%s, NUL byte", protocol)
                << imap << QByteArray(withNul, sizeof withNul - 1) << TmsHeaders{"Subject: a b", "From: a@b.example"};
            QTest::addRow("%s, lone CR", protocol) << imap << QByteArray("Subject: one\rX-Two: 2\r\n\r\nbody\r\n")
                                                   << TmsHeaders{"Subject: one", "X-Two: 2"};
            QTest::addRow("%s, folded, 8-bit and UTF-8", protocol)
                << imap << QByteArray("Subject: Caf\xc3\xa9\r\n\tmore\r\nX-Odd: \xe9t\xe9\r\n\r\nbody\r\n")
                << TmsHeaders{QStringLiteral("Subject: Caf\u00e9"), "\tmore", QStringLiteral("X-Odd: \u00e9t\u00e9")};
        }
    }

    void linesReadBackAsFetched()
    {
        QFETCH(bool, imap);
        QFETCH(QByteArray, message);
        QFETCH(TmsHeaders, lines);
        const QList<TmsHeaders> rows = imap ? listTwice<ScriptedImapServer, ImapClient>(message)
                                            : listTwice<ScriptedPop3Server, TmsRemotePOP>(message);
        QCOMPARE(rows, (QList<TmsHeaders>{lines, lines}));
    }

    void rowsShareTheCachesPackedBytes()
    {
        QVERIFY((rowsShareTheCachesBytes<ScriptedPop3Server, TmsRemotePOP>()));
        QVERIFY((rowsShareTheCachesBytes<ScriptedImapServer, ImapClient>()));
    }

    void packedBytesComeBackAsTheyWere_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<TmsHeaders>("lines");
        QTest::newRow("header block") << QByteArray("Subject: hi\r\nFrom: a@b.example\r\n\r\n")
                                      << TmsHeaders{"Subject: hi", "From: a@b.example"};
        QTest::newRow("TOP with a body line")
            << QByteArray("Subject: hi\r\n\r\nbody\r\n.\r\n") << TmsHeaders{"Subject: hi"};
        QTest::newRow("no empty line") << QByteArray("Subject: no body\r\n.\r\n")
                                       << TmsHeaders{"Subject: no body", "."};
        QTest::newRow("empty") << QByteArray() << TmsHeaders{};
    }

    void packedBytesComeBackAsTheyWere()
    {
        QFETCH(QByteArray, block);
        QFETCH(TmsHeaders, lines);
        const PackedHeaders packed(block);
        QCOMPARE(packed.lines(), lines);
        const std::optional<PackedHeaders> again = PackedHeaders::fromPacked(packed.packed());
        QVERIFY(again);
        QCOMPARE(again->packed(), packed.packed());
        QCOMPARE(again->lines(), lines);
        // What follows the empty line is not kept.
        const qsizetype end = block.indexOf("\r\n\r\n");
        if (end >= 0)
            QCOMPARE(packed.packed(), PackedHeaders(block.left(end + 4)).packed());
    }

    void bytesOfAnotherFormatAreRefused_data()
    {
        const QByteArray good = PackedHeaders("Subject: hi\r\n\r\n").packed();
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("taken");
        QByteArray otherFormat = good;
        otherFormat[0] = 2;
        QTest::newRow("another format byte") << otherFormat << false;
        QTest::newRow("qCompress of the block") << qCompress("Subject: hi\r\n\r\n") << false;
        QTest::newRow("too short") << good.left(5) << false;
        QTest::newRow("a length beyond any header block")
            << good.left(1) + QByteArray(4, '\xff') + good.mid(5) << false;
        QTest::newRow("damaged deflate data: taken, no lines") << good.left(5) + QByteArray(8, '\xff') << true;
    }

    void bytesOfAnotherFormatAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, taken);
        const std::optional<PackedHeaders> headers = PackedHeaders::fromPacked(bytes);
        QCOMPARE(headers.has_value(), taken);
        if (headers)
            QCOMPARE(headers->lines(), TmsHeaders{});
    }

    void cancelEndsABurstOfRowsFromTheCache()
    {
        QCOMPARE((rowsBeforeCancel<ScriptedPop3Server, TmsRemotePOP>(200)), 11);
        QCOMPARE((rowsBeforeCancel<ScriptedImapServer, ImapClient>(200)), 11);
    }
};

QTEST_GUILESS_MAIN(TestRowHeaders)
#include "tst_rowheaders.moc"
