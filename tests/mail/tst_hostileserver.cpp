// The POP3 client against servers that break the protocol or attack it: false
// counts, endless and huge replies, trickling, bytes injected around STLS,
// replies that do not say what was asked, and connections cut at any byte.
// Each must end the operation with a clear error, in bounded memory and
// time, without QUIT, and leave the client ready for the next operation.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "support/failuretext.h"
#include "support/scriptedpop3server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: Jane Roe <jane@example.org>\r\nSubject: " + subject + "\r\n\r\nHello there.\r\n";
}

// The most memory this process has held so far (VmHWM).
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

class TestHostileServer : public QObject
{
    Q_OBJECT

private:
    ScriptedPop3Server *server = nullptr;
    TmsRemotePOP *pop = nullptr;

    // The operation fails with an EMailsieveError whose text is returned;
    // the session was dropped without QUIT.
    QString failingCheck()
    {
        const QString text = failure<EMailsieveError>([this] { pop->UpdateInfo(); });
        if (server->commands().contains(QStringLiteral("QUIT")))
            return QStringLiteral("<sent QUIT>");
        if (pop->Connected())
            return QStringLiteral("<still connected>");
        return text;
    }

    // After any failure the same client checks a sound mailbox as usual.
    void checkStillWorks()
    {
        server->clearScript();
        server->setWriteSplit(0);
        server->setHangUpAfterBytes(-1);
        server->setMessages({mail("one"), mail("two")});
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
    }

private slots:
    void init()
    {
        server = new ScriptedPop3Server(this);
        QVERIFY(server->listen());
        pop = new TmsRemotePOP(this);
        server->logIn(*pop);
        pop->setTimeOut(2);
    }

    void cleanup()
    {
        delete pop;
        delete server;
    }

    // --- Counts the mailbox cannot back -----------------------------------

    void claimedCountIsBackedOnlyByWhatIsListed_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::newRow("pipelined") << true;
        QTest::newRow("one at a time") << false;
    }

    void claimedCountIsBackedOnlyByWhatIsListed()
    {
        QFETCH(bool, pipelining);
        server->setCapabilities({"TOP", "USER", "PIPELINING"});
        pop->setPipeliningAllowed(pipelining);
        server->setMessages({mail("one"), mail("two")});
        server->failAt("STAT", "+OK 1000000000 5000");
        QVector<int> listed;
        pop->OnNextInfoUpdated = [&](int num) { listed << num; };
        QCOMPARE(failingCheck(), QStringLiteral("-ERR no such message"));
        QCOMPARE(listed, (QVector<int>{0, 1}));
        // Only a window's worth of commands ever went out for the claim.
        QVERIFY(server->commands().size() <= 6 + 2 * TmsCustomPOP::PipelineWindow);
        if (!pipelining)
            QCOMPARE(server->commands().last(), QStringLiteral("LIST 3"));
        checkStillWorks();
    }

    // --- Replies that do not say what was asked ---------------------------

    void invalidReplyIsQuotedAndEndsThePass_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("error");
        const QString stat = QStringLiteral("The server's reply to STAT is not valid: ");
        const QString list = QStringLiteral("The server's reply to LIST 1 is not valid: ");
        QTest::newRow("STAT bare") << "STAT" << QByteArray("+OK") << stat + "\"+OK\"";
        QTest::newRow("STAT plus") << "STAT" << QByteArray("+") << stat + "\"+\"";
        QTest::newRow("STAT negative") << "STAT" << QByteArray("+OK -5 -10") << stat + "\"+OK -5 -10\"";
        QTest::newRow("STAT text") << "STAT" << QByteArray("+OK lots 100") << stat + "\"+OK lots 100\"";
        QTest::newRow("STAT count beyond int")
            << "STAT" << QByteArray("+OK 4294967296 10") << stat + "\"+OK 4294967296 10\"";
        QTest::newRow("LIST negative") << "LIST 1" << QByteArray("+OK 1 -5") << list + "\"+OK 1 -5\"";
        QTest::newRow("LIST not a number") << "LIST 1" << QByteArray("+OK 1 many") << list + "\"+OK 1 many\"";
        QTest::newRow("LIST beyond 64 bits")
            << "LIST 1" << QByteArray("+OK 1 99999999999999999999") << list + "\"+OK 1 99999999999999999999\"";
        QTest::newRow("LIST other message") << "LIST 1" << QByteArray("+OK 2 120") << list + "\"+OK 2 120\"";
        QTest::newRow("LIST bare") << "LIST 1" << QByteArray("+OK") << list + "\"+OK\"";
        QTest::newRow("LIST size not a number") << "LIST 1" << QByteArray("+OK many") << list + "\"+OK many\"";
        QTest::newRow("LIST control characters")
            << "LIST 1" << QByteArray("+OK 1 \x1b]0;owned\x07") << list + "\"+OK 1  ]0;owned \"";
        QTest::newRow("LIST long reply") << "LIST 1"
                                         << "+OK 1 " + QByteArray(5000, 'x')
                                         << list + "\"+OK 1 " + QString(194, u'x') + "...\"";
    }

    void invalidReplyIsQuotedAndEndsThePass()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(QString, error);
        server->setMessages({mail("one")});
        server->failAt(command, reply);
        QCOMPARE(failingCheck(), error);
        QCOMPARE(pop->Info().Count(), 0);
        checkStillWorks();
    }

    void validRepliesMayCarryMoreText()
    {
        server->setMessages({mail("one")});
        server->failAt("STAT", "+OK 1 80 messages waiting");
        server->failAt("LIST 1", "+OK 1 80 octets");
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Items(0).Size, qint64(80));
    }

    void statWithoutAUsableSizeStillCounts_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("no size") << QByteArray("+OK 2");
        QTest::newRow("size not a number") << QByteArray("+OK 2 lots");
        QTest::newRow("negative size") << QByteArray("+OK 2 -80");
    }

    void statWithoutAUsableSizeStillCounts()
    {
        QFETCH(QByteArray, reply);
        server->setMessages({mail("one"), mail("two")});
        server->failAt("STAT", reply);
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
        QCOMPARE(pop->MailboxSize(), qint64(-1));
    }

    void listWithTheSizeAloneIsChecked_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::newRow("pipelined") << true;
        QTest::newRow("one at a time") << false;
    }

    void listWithTheSizeAloneIsChecked()
    {
        // "+OK 77": the size without the message number, in the check and
        // in the delete pass.
        QFETCH(bool, pipelining);
        server->setCapabilities({"TOP", "USER", "PIPELINING"});
        pop->setPipeliningAllowed(pipelining);
        server->setMessages({mail("one"), mail("two")});
        const qint64 size = ScriptedPop3Server::wireSize(mail("one"));
        server->failAt("LIST 1", "+OK " + QByteArray::number(size), ScriptedPop3Server::Every);
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
        QCOMPARE(pop->Info().Items(0).Size, size);
        pop->MarkForDelete(0);
        pop->ProcessMarks();
        QVERIFY(pop->committed());
        QCOMPARE(server->messages(), QList<QByteArray>{mail("two")});
    }

    // --- Endless and huge replies -----------------------------------------

    void hugeHeaderBlockKeepsItsStartAndTheNextMessageFollows()
    {
        // 50 MB of header lines: read and dropped past the kept part, and the
        // pipelined replies behind it still belong to the next message.
        server->setCapabilities({"TOP", "USER", "PIPELINING"});
        server->setMessages({mail("one"), mail("two")});
        const qint64 total = 50'000'000;
        server->endlessAt("TOP 1 1", "+OK", "X-Padding: 0123456789abcdef\r\n", total, "\r\n.\r\n");
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
        const TmsHeaders kept = pop->Info().Items(0).Headers.lines();
        QCOMPARE(kept.first(), QStringLiteral("X-Padding: 0123456789abcdef"));
        QVERIFY(kept.join(QString()).size() <= TmsCustomPOP::MaxHeaderBlock);
        QVERIFY(kept.size() > 1000);
        QCOMPARE(GetHeaderValue(pop->Info().Items(1).Headers.lines(), "Subject"), QStringLiteral("two"));
    }

    void endlessRepliesFailAtTheirBound_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QString>("error");
        QTest::newRow("header block") << "TOP 1 1" << QByteArray("+OK") << QByteArray("X-Spam: yes\r\n")
                                      << "The server sent a data block of more than 64 MiB";
        QTest::newRow("capability list") << "CAPA" << QByteArray("+OK") << QByteArray("X-FEATURE\r\n")
                                         << "The server sent a data block of more than 64 KiB";
        QTest::newRow("status line") << "STAT" << QByteArray() << QByteArray("+OK 1 ")
                                     << "Reply line too long (<server>)";
        QTest::newRow("greeting") << ScriptedPop3Server::Greeting << QByteArray() << QByteArray("+OK")
                                  << "Reply line too long (<server>)";
    }

    void endlessRepliesFailAtTheirBound()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, pattern);
        QFETCH(QString, error);
        const qint64 peakBefore = peakResidentBytes();
        server->setMessages({mail("one")});
        server->endlessAt(command, status, pattern);
        QCOMPARE(failingCheck(), error.replace("<server>", server->address()));
        QVERIFY2(peakResidentBytes() - peakBefore < 40'000'000, qPrintable(QString::number(peakResidentBytes())));
        checkStillWorks();
    }

    void downloadGoesToItsFileNotToMemory()
    {
        // A message far larger than a header block arrives whole in the file.
        const qint64 peakBefore = peakResidentBytes();
        QTemporaryDir folder;
        server->setMessages({mail("one")});
        pop->UpdateInfo();
        const qint64 total = 80'000'000;
        server->endlessAt("RETR 1", "+OK", "0123456789\r\n", total, "\r\n.\r\n");
        pop->setMessageDirectory(folder.path());
        pop->MarkForRetrieve(0);
        pop->ProcessMarks();
        QCOMPARE(QFileInfo(folder.filePath("msg_0.eml")).size(), total + 5);
        QVERIFY2(peakResidentBytes() - peakBefore < 40'000'000, qPrintable(QString::number(peakResidentBytes())));
    }

    void tricklingReplyEndsAfterTenTimeOuts()
    {
        pop->setTimeOut(1);
        server->setMessages({"Subject: " + QByteArray(400, 'x') + "\r\n\r\nbody\r\n"});
        server->trickleAt("TOP 1 1", 40); // never silent for a whole second
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failingCheck(),
                 QStringLiteral("The server took more than 10 seconds to send one reply (%1)").arg(server->address()));
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
        checkStillWorks();
    }

    // --- STARTTLS ---------------------------------------------------------

    void plainBytesAroundStlsEndTheSession_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        // Whatever rides behind "+OK" would be read as the protected replies.
        QTest::newRow("after the STLS reply") << "STLS" << QByteArray("+OK Begin TLS\r\n+OK forged\r\n+OK 1 120\r\n");
        // A line ahead of its turn answers STLS, and the real answer is left over.
        QTest::newRow("after the capability list")
            << "CAPA" << QByteArray("+OK\r\nSTLS\r\nUSER\r\n.\r\n+OK go ahead\r\n");
    }

    void plainBytesAroundStlsEndTheSession()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        server->setStls(true);
        server->setMessages({mail("one")});
        server->replyAt(command, reply);
        pop->setTlsMode(TlsMode::StartTls);
        pop->setServer(server->address());
        // The left-over plain text is seen unread, or, arriving a moment
        // later, breaks the handshake; never does it pass as protected.
        const QString error = failingCheck();
        QVERIFY2(
            error == QStringLiteral("The server sent data before the TLS handshake")
                || (command == "CAPA" && error.startsWith(QStringLiteral("TLS negotiation with 127.0.0.1 failed"))),
            qPrintable(error));
        QCOMPARE(server->commands(), (QStringList{"CAPA", "STLS"}));
        QVERIFY(pop->capabilities().isEmpty());
    }

    // --- Values that would add commands -----------------------------------

    void lineBreaksInLoginValuesAreRefusedBeforeConnecting_data()
    {
        QTest::addColumn<QString>("serverSuffix");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("error");
        QTest::newRow("user CR LF") << ""
                                    << "user\r\nDELE 1"
                                    << "secret"
                                    << "The user name must not contain line breaks or NUL characters";
        QTest::newRow("user LF") << ""
                                 << "user\nDELE 1"
                                 << "secret"
                                 << "The user name must not contain line breaks or NUL characters";
        QTest::newRow("password CR") << ""
                                     << "user" << QString("secret\rDELE 1")
                                     << "The password must not contain line breaks or NUL characters";
        QTest::newRow("password NUL") << ""
                                      << "user" << QString("sec") + QChar(0) + "ret"
                                      << "The password must not contain line breaks or NUL characters";
        QTest::newRow("server LF") << "\nx"
                                   << "user"
                                   << "secret"
                                   << "The server name must not contain line breaks or NUL characters";
    }

    void lineBreaksInLoginValuesAreRefusedBeforeConnecting()
    {
        QFETCH(QString, serverSuffix);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, error);
        pop->setServer(server->address() + serverSuffix);
        pop->setUserName(user);
        pop->setPassword(password);
        QStringList reported;
        pop->OnError = [&](QString &msg) { reported << msg; };
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }), error);
        QCOMPARE(reported, QStringList{error});
        QCOMPARE(server->connectionCount(), 0);
    }

    // --- Header bytes -----------------------------------------------------

    void nulByteInAHeaderBlockHidesNoLine()
    {
        server->setMessages({mail("one")});
        server->replyAt("TOP 1 1",
                        QByteArray("+OK\r\nSubject: cheap") + '\0' + "pills\r\nFrom: spam@evil.example\r\n\r\n.\r\n");
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Items(0).Headers.lines(),
                 (QStringList{"Subject: cheap pills", "From: spam@evil.example"}));
    }

    // --- Whatever else goes wrong inside an operation ----------------------

    void anyExceptionEndsTheOperationAsAnError_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("range") << 0 << "The operation failed: row 7 is out of range";
        QTest::newRow("memory") << 1 << "The operation ran out of memory and was stopped";
        QTest::newRow("unknown") << 2 << "The operation failed for an unknown reason";
    }

    void anyExceptionEndsTheOperationAsAnError()
    {
        QFETCH(int, kind);
        QFETCH(QString, error);
        server->setMessages({mail("one"), mail("two")});
        pop->OnNextInfoUpdated = [kind](int) {
            if (kind == 0)
                throw std::out_of_range("row 7 is out of range");
            if (kind == 1)
                throw std::bad_alloc();
            throw 42;
        };
        QCOMPARE(failure<EInternalError>([this] { pop->UpdateInfo(); }), error);
        QVERIFY(!server->commands().contains("QUIT"));
        QVERIFY(!pop->Connected());
        pop->OnNextInfoUpdated = nullptr;
        checkStillWorks();
    }

    // --- The wire cut anywhere ---------------------------------------------

    void repliesCutIntoPiecesReadAsWhole_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::addColumn<bool>("pipelining");
        for (const int chunk : {1, 2, 3, 4, 5, 7}) {
            QTest::addRow("%d bytes, pipelined", chunk) << chunk << true;
            QTest::addRow("%d bytes, one at a time", chunk) << chunk << false;
        }
    }

    void repliesCutIntoPiecesReadAsWhole()
    {
        // Every cut position of the end line "CR LF . CR LF" comes up, with
        // the next reply right behind it when pipelining.
        QFETCH(int, chunk);
        QFETCH(bool, pipelining);
        server->setCapabilities({"TOP", "USER", "PIPELINING"});
        pop->setPipeliningAllowed(pipelining);
        server->setMessages({mail("one"), mail("two"), "Subject: ..dots\r\n\r\n.\r\n..\r\n"});
        server->setWriteSplit(chunk, 0);
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 3);
        QCOMPARE(GetHeaderValue(pop->Info().Items(1).Headers.lines(), "Subject"), QStringLiteral("two"));
        QCOMPARE(pop->Info().Items(2).Headers.lines(), QStringList{"Subject: ..dots"});
        pop->MarkForDelete(0);
        pop->MarkForDelete(2);
        pop->ProcessMarks();
        QVERIFY(pop->committed());
        QCOMPARE(server->messages(), QList<QByteArray>{mail("two")});
    }

    void connectionCutAtEveryByteFailsCleanly()
    {
        server->setMessages({mail("one"), mail("two")});
        pop->UpdateInfo();
        const qint64 sessionBytes = server->bytesSent();
        for (qint64 cut = 0; cut < sessionBytes; ++cut) {
            server->setHangUpAfterBytes(cut);
            const QString text = failure<EMailsieveError>([this] { pop->UpdateInfo(); });
            QVERIFY2(text.startsWith("Connection closed by the server"),
                     qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(text)));
            QVERIFY(!pop->Connected());
            QVERIFY(pop->Info().Count() <= 2);
        }
        checkStillWorks();
    }

    void randomRepliesNeverCrashOrHang()
    {
        QRandomGenerator random(20261207);
        const QStringList targets{ScriptedPop3Server::Greeting, "CAPA", "STAT", "LIST 1", "TOP 1 1"};
        for (int round = 0; round < 150; ++round) {
            QByteArray noise(random.bounded(1, 600), Qt::Uninitialized);
            for (char &c : noise)
                c = char(random.bounded(256));
            if (round % 2)
                noise.prepend("+OK ");
            server->clearScript();
            server->setMessages({mail("one")});
            server->replyAndCloseAt(targets.at(round % targets.size()), noise);
            QElapsedTimer clock;
            clock.start();
            const QString text = failure<EMailsieveError>([this] { pop->UpdateInfo(); });
            QVERIFY2(text != "<no error>", qPrintable(QString::number(round)));
            QVERIFY(!hasControlCharacter(text));
            QVERIFY2(clock.elapsed() < 1500, qPrintable(QStringLiteral("round %1: %2").arg(round).arg(text)));
        }
        checkStillWorks();
    }
};

QTEST_GUILESS_MAIN(TestHostileServer)
#include "tst_hostileserver.moc"
