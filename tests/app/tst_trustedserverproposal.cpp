// The trusted server proposed from a mailbox's last check: the newest row
// whose block has Authentication-Results wins, and only rows the message
// store keeps under the mailbox's own account count.

#include "app/mailboxclients.h"
#include "app/mailboxmemory.h"
#include "app/trustedserverproposal.h"
#include "store/messagestore.h"
#include "store/storecheck.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

MailboxConfig mailbox(int n, MailProtocol protocol)
{
    MailboxConfig config;
    config.number = n;
    config.server = QStringLiteral("mail%1.example.org").arg(n);
    config.mailbox = QStringLiteral("user");
    config.protocol = protocol;
    return config;
}

// A block whose topmost Authentication-Results names server; none for an
// empty one.
QByteArray blockBy(const QByteArray &server)
{
    QByteArray block = "Subject: hello\r\n";
    if (!server.isEmpty())
        block = "Authentication-Results: " + server + "; spf=pass smtp.mailfrom=example.com\r\n" + block;
    return block + "From: a@example.com\r\n\r\n";
}

struct Rig
{
    QTemporaryDir dir;
    MessageStore store{dir.filePath(QStringLiteral("mailsieve.db"))};
    MailboxClients clients;

    // A complete check of config that listed these blocks, oldest first,
    // as client's rows under identities prefix0, prefix1 ...
    void listed(const MailboxConfig &config, RemoteMailbox &client, const QList<QByteArray> &blocks,
                const QByteArray &prefix = "uidl-")
    {
        const std::unique_ptr<StoreCheck> check =
            store.beginCheck(storeAccount(mailboxLogin(config)), QDateTime::currentDateTimeUtc());
        QVERIFY2(check, qPrintable(store.errorText()));
        QList<StoreCheck::Listed> rows;
        client.Info().Clear();
        for (const QByteArray &block : blocks) {
            TmsRemoteInfoItem item;
            item.Identity = prefix + QByteArray::number(rows.size());
            check->remember(item.Identity, block.size(), PackedHeaders(block));
            rows.append({item.Identity, MarkState::None, MarkSource::None});
            client.Info().Add(item);
        }
        QVERIFY2(check->finish(rows, true), qPrintable(store.errorText()));
    }
};

} // namespace

class TestTrustedServerProposal : public QObject
{
    Q_OBJECT

private slots:
    void newestRowWithAuthenticationResultsWins_data()
    {
        QTest::addColumn<QList<QByteArray>>("blocks"); // oldest first
        QTest::addColumn<QString>("proposal");
        QTest::newRow("newest of two") << QList<QByteArray>{blockBy("mx.old.example"), blockBy("mx.google.com")}
                                       << "mx.google.com";
        QTest::newRow("newest without any")
            << QList<QByteArray>{blockBy("mx.google.com"), blockBy({})} << "mx.google.com";
        QTest::newRow("none has one") << QList<QByteArray>{blockBy({}), blockBy({})} << QString();
    }

    void newestRowWithAuthenticationResultsWins()
    {
        QFETCH(QList<QByteArray>, blocks);
        QFETCH(QString, proposal);
        Rig rig;
        const MailboxConfig pop = mailbox(1, MailProtocol::Pop3);
        rig.listed(pop, rig.clients.pop, blocks);
        QCOMPARE(lastCheckTrustedServer(pop, rig.clients, rig.store), proposal);
    }

    void onlyTheMailboxsOwnRowsPropose()
    {
        Rig rig;
        const MailboxConfig first = mailbox(1, MailProtocol::Pop3);
        const MailboxConfig second = mailbox(2, MailProtocol::Pop3);
        const MailboxConfig imap = mailbox(3, MailProtocol::Imap);
        rig.listed(first, rig.clients.pop, {blockBy("mx.first.example")}, "first-");
        rig.listed(second, rig.clients.pop, {blockBy("mx.second.example")}, "second-");
        rig.listed(imap, rig.clients.imap, {blockBy("mx.imap.example")});
        // The POP3 client's rows are mailbox 2's now.
        QCOMPARE(lastCheckTrustedServer(first, rig.clients, rig.store), QString());
        QCOMPARE(lastCheckTrustedServer(second, rig.clients, rig.store), QStringLiteral("mx.second.example"));
        QCOMPARE(lastCheckTrustedServer(imap, rig.clients, rig.store), QStringLiteral("mx.imap.example"));
        // A row of mailbox 2 under an identity mailbox 1 also had reads
        // mailbox 1's own message.
        rig.listed(second, rig.clients.pop, {blockBy("mx.second.example")}, "first-");
        QCOMPARE(lastCheckTrustedServer(first, rig.clients, rig.store), QStringLiteral("mx.first.example"));
        MailboxConfig unused = second;
        unused.mailbox.clear();
        QCOMPARE(lastCheckTrustedServer(unused, rig.clients, rig.store), QString());
    }
};

QTEST_GUILESS_MAIN(TestTrustedServerProposal)
#include "tst_trustedserverproposal.moc"
