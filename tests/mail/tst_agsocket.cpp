// The socket transport over loopback: where it connects, how it reads reply
// lines and data blocks from the socket's buffer, and how every wait ends on
// an error, a time-out or a cancel with the right text and a closed socket.

#include "mail/agsocket.h"
#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "mail/socketerrors.h"
#include "support/failuretext.h"
#include "support/memoryserver.h"
#include "support/scriptedpop3server.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <optional>

namespace {

class FakeDialUp : public DialUpHook
{
public:
    explicit FakeDialUp(QStringList &events) : m_events(events) {}
    void EnsureConnected() override
    {
        m_events << "EnsureConnected";
        if (fail)
            throw ERASError("RAS error no 633");
    }
    void ConnectionClosed() override { m_events << "ConnectionClosed"; }
    bool fail = false;

private:
    QStringList &m_events;
};

// A session of the transport with a MemoryServer, its clock turned by hand.
struct MemorySession
{
    MemoryServer server;
    TmsRemotePOP socket;
    qint64 now = 0;

    explicit MemorySession(const QList<QByteArray> &pieces)
    {
        server.addSession(pieces);
        server.attach(socket);
        socket.setClock([this] { return now; });
        socket.setServer("127.0.0.1:110");
        socket.setUserName("user");
        socket.setPassword("secret");
        socket.Open();
        socket.Connect();
    }
    ~MemorySession() { socket.Close(); }
};

} // namespace

class TestAgSocket : public QObject
{
    Q_OBJECT

private:
    ScriptedPop3Server *server = nullptr;
    TmsRemotePOP *socket = nullptr;
    QStringList errors;
    QStringList events;

    // Open and connect, leaving the greeting unread.
    void connectToServer()
    {
        socket->Open();
        socket->ResetState();
        socket->Connect();
    }

private slots:
    void init()
    {
        server = new ScriptedPop3Server(this);
        QVERIFY(server->listen());
        socket = new TmsRemotePOP(this);
        server->logIn(*socket);
        socket->setTimeOut(10);
        errors.clear();
        events.clear();
        socket->OnError = [this](QString &msg) { errors << msg; };
        socket->OnOpen = [this] { events << "Open"; };
        socket->OnCancel = [this] { events << "Cancel"; };
        socket->OnClosing = [this] { events << "Closing"; };
        socket->OnClosed = [this] { events << "Closed"; };
    }

    void cleanup()
    {
        delete socket;
        delete server;
    }

    // --- Where the transport connects -----------------------------------

    void portAfterTheHostWins()
    {
        connectToServer();
        QCOMPARE(socket->remoteAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(socket->remotePort(), server->port());
        QCOMPARE(socket->ReadReply(), 1);
        QCOMPARE(socket->lastReply(), QStringLiteral("+OK POP3 server ready"));
        socket->Close();
        QCOMPARE(events, (QStringList{"Open", "Closing", "Closed"}));
    }

    void unusablePortFallsBackToTheServiceLookup_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("no port") << "127.0.0.1";
        QTest::newRow("port 0") << "127.0.0.1:0";
        QTest::newRow("not a number") << "127.0.0.1:abc";
        QTest::newRow("beyond 16 bits") << "127.0.0.1:70000";
    }

    void unusablePortFallsBackToTheServiceLookup()
    {
        QFETCH(QString, address);
        socket->setServer(address);
        socket->setDefaultPort(2110);
        socket->Open();
        QCOMPARE(socket->remotePort(), quint16(110)); // "pop3" in the services database
        socket->Close();

        socket->setServiceName("mailsieve-no-such-service");
        socket->Open();
        QCOMPARE(socket->remotePort(), quint16(2110));
        socket->Close();
    }

    void hostNameIsLookedUp()
    {
        socket->setServer(QStringLiteral("localhost:%1").arg(server->port()));
        connectToServer();
        QCOMPARE(socket->remoteAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(socket->ReadReply(), 1);
    }

    void unknownHostIsASocketError()
    {
        socket->setServer("nonexistent.invalid");
        const QString text = failure<ESocketError>([this] { socket->Open(); });
        QVERIFY2(text == "Host not found (nonexistent.invalid:110)"
                     || text == "Nonauthoritative host not found (nonexistent.invalid:110)",
                 qPrintable(text));
        QCOMPARE(errors, QStringList{text});
    }

    void cancelDuringHostLookup()
    {
        socket->setServer("nonexistent.invalid");
        socket->OnOpen = [this] { QTimer::singleShot(0, socket, [this] { socket->Cancel(); }); };
        try {
            socket->Open();
            QFAIL("Open went through");
        } catch (const ECanceledError &error) {
            QCOMPARE(error.message(), QStringLiteral("Operation has been canceled"));
        } catch (const ESocketError &) {
            QSKIP("the lookup failed before the cancel came");
        }
        QCOMPARE(events, QStringList{"Cancel"});
        QCOMPARE(errors, QStringList{"Operation has been canceled"});
    }

    void cancelBeforeAnyWaitStillStopsTheSession()
    {
        socket->OnOpen = [this] { socket->Cancel(); };
        QVERIFY_THROWS_EXCEPTION(ECanceledError, socket->UpdateInfo());
        QTest::qWait(50);
        QCOMPARE(server->connectionCount(), 0);
        QVERIFY(!socket->Connected());
    }

    void overlongNamesAreRejected()
    {
        socket->setServer(QString(128, QLatin1Char('h')));
        QCOMPARE(failure<ESocketError>([this] { socket->Open(); }), QStringLiteral("Host name is too long"));
        socket->setServer("127.0.0.1");
        socket->setServiceName(QString(64, QLatin1Char('s')));
        QCOMPARE(failure<ESocketError>([this] { socket->Open(); }), QStringLiteral("Service name is too long"));
    }

    void missingSettingsArePropertyErrors()
    {
        socket->setServer(QString());
        QCOMPARE(failure<ESocketError>([this] { socket->Open(); }), QStringLiteral("Server property is required"));
        socket->setServer("127.0.0.1");
        socket->setServiceName(QString());
        QCOMPARE(failure<ESocketError>([this] { socket->Open(); }), QStringLiteral("Service name is required"));
        QCOMPARE(errors, (QStringList{"Server property is required", "Service name is required"}));
        QVERIFY(!socket->Connected());

        // A port in the server setting needs no service.
        socket->setServer(server->address());
        socket->Open();
        QCOMPARE(socket->remotePort(), server->port());
    }

    void commandsNeedASocket()
    {
        QCOMPARE(failure<ESocketError>([this] { socket->SendCommand("NOOP"); }),
                 QStringLiteral("You have to connect to the server first"));
        QCOMPARE(failure<ESocketError>([this] { socket->ReadReply(); }),
                 QStringLiteral("You have to connect to the server first"));
        QByteArray data;
        QCOMPARE(failure<ESocketError>([&] { socket->ReceiveData(data, -1); }),
                 QStringLiteral("You have to connect to the server first"));
    }

    // --- Failures of the connection ---------------------------------------

    void refusedConnectionFailsAtOnce()
    {
        server->stopListening();
        QElapsedTimer clock;
        clock.start();
        const QString refused = QStringLiteral("Connection refused (%1)").arg(server->address());
        QCOMPARE(failure<ESocketError>([this] { connectToServer(); }), refused);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(errors, QStringList{refused});
        QVERIFY(!socket->Connected());
    }

    void errorHandlerMayRewriteASocketErrorText()
    {
        server->stopListening();
        socket->OnError = [](QString &msg) { msg = "Mailbox 1: " + msg; };
        QCOMPARE(failure<ESocketError>([this] { connectToServer(); }),
                 QStringLiteral("Mailbox 1: Connection refused (%1)").arg(server->address()));
    }

    void peerClosingBeforeTheLineFeed_data()
    {
        QTest::addColumn<bool>("midLine");
        QTest::newRow("half a greeting") << true;
        QTest::newRow("no greeting") << false;
    }

    void peerClosingBeforeTheLineFeed()
    {
        QFETCH(bool, midLine);
        if (midLine)
            server->closeMidLineAt(ScriptedPop3Server::Greeting);
        else
            server->closeAt(ScriptedPop3Server::Greeting);
        connectToServer();
        QElapsedTimer clock;
        clock.start();
        const QString closed = QStringLiteral("Connection closed by the server (%1)").arg(server->address());
        QCOMPARE(failure<ESocketError>([this] { socket->ReadReply(); }), closed);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(errors, QStringList{closed});
        QVERIFY(!socket->Connected());
    }

    void peerClosingInTheMiddleOfADataBlock()
    {
        server->setMessages({"Subject: cut\r\nX-Long: " + QByteArray(4000, 'x') + "\r\n\r\nbody\r\n"});
        server->closeMidBlockAt("TOP 1 1");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failure<ESocketError>([this] { socket->UpdateInfo(); }),
                 QStringLiteral("Connection closed by the server (%1)").arg(server->address()));
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!socket->Connected());
    }

    void stalledReplyTimesOut()
    {
        socket->setTimeOut(1);
        socket->OnError = [this](QString &msg) {
            errors << msg;
            msg = "changed";
        };
        server->stallAt(ScriptedPop3Server::Greeting);
        connectToServer();
        QElapsedTimer clock;
        clock.start();
        const QString timedOut = QStringLiteral("Operation timed out (%1)").arg(server->address());
        QCOMPARE(failure<ETimedOutError>([this] { socket->ReadReply(); }), timedOut);
        QVERIFY(clock.elapsed() >= 900 && clock.elapsed() < 2500);
        QCOMPARE(errors, QStringList{timedOut});
        QVERIFY(!socket->Connected());
    }

    void timeOutZeroExpiresAtTheFirstTick()
    {
        socket->setTimeOut(0);
        server->stallAt(ScriptedPop3Server::Greeting);
        connectToServer();
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(ETimedOutError, socket->ReadReply());
        QVERIFY(clock.elapsed() >= 900 && clock.elapsed() < 2500);
    }

    void slowAnswerWithinTheTimeOutIsFine()
    {
        socket->setTimeOut(2);
        server->delayAt(ScriptedPop3Server::Greeting, 1200);
        connectToServer();
        QCOMPARE(socket->ReadReply(), 1);
    }

    void cancelDuringAWaitClosesAndRaises()
    {
        server->stallAt(ScriptedPop3Server::Greeting);
        connectToServer();
        QTimer::singleShot(100, socket, [this] { socket->Cancel(); });
        QCOMPARE(failure<ECanceledError>([this] { socket->ReadReply(); }),
                 QStringLiteral("Operation has been canceled"));
        QCOMPARE(events, (QStringList{"Open", "Cancel", "Closing", "Closed"}));
        QVERIFY(!socket->Connected());
    }

    // --- Reading replies and data blocks -----------------------------------

    void replyLineLengths_data()
    {
        QTest::addColumn<int>("length"); // bytes of the line, CR LF included
        QTest::addColumn<bool>("accepted");
        QTest::newRow("256") << 256 << true;
        QTest::newRow("257") << 257 << true;
        QTest::newRow("64 KiB") << int(TagSocket::MaxReplyLine) << true;
        QTest::newRow("64 KiB + 1") << int(TagSocket::MaxReplyLine) + 1 << false;
        QTest::newRow("70 KB") << 70000 << false;
    }

    void replyLineLengths()
    {
        QFETCH(int, length);
        QFETCH(bool, accepted);
        const QByteArray line = "+OK " + QByteArray(length - 6, 'x') + "\r\n";
        server->replyAt(ScriptedPop3Server::Greeting, line);
        connectToServer();
        if (accepted) {
            QCOMPARE(socket->ReadReply(), 1);
            QCOMPARE(socket->lastReply(), QString::fromLatin1(line.chopped(2)));
        } else {
            QCOMPARE(failure<ESocketError>([this] { socket->ReadReply(); }),
                     QStringLiteral("Reply line too long (%1)").arg(server->address()));
            QVERIFY(!socket->Connected());
        }
    }

    void dataAfterTheStatusLineStaysForReceiveData()
    {
        server->replyAt(ScriptedPop3Server::Greeting, "+OK here\r\nline 1\r\n..line 2\r\n.\r\n");
        connectToServer();
        QCOMPARE(socket->ReadReply(), 1);
        QByteArray data;
        socket->ReceiveData(data, -1);
        QCOMPARE(data, QByteArray("line 1\r\n..line 2\r\n.\r\n"));
    }

    void emptyDataBlockIsComplete()
    {
        server->replyAt(ScriptedPop3Server::Greeting, "+OK\r\n.\r\n");
        connectToServer();
        socket->ReadReply();
        QByteArray data;
        socket->ReceiveData(data, -1);
        QCOMPARE(data, QByteArray(".\r\n"));
    }

    void blockEndIsFoundWhereverItIsCut_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces"); // after the status line
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QByteArray>("behind"); // a pipelined reply after the block
        const QByteArray lines = "Subject: cut\r\n\r\n..body\r\n";
        const QByteArray end = "\r\n.\r\n";
        for (const QByteArray &behind : {QByteArray(), QByteArray("+OK 2 120\r\n")}) {
            const char *tail = behind.isEmpty() ? "" : ", reply behind";
            for (int cut = 0; cut <= end.size(); ++cut) {
                QTest::addRow("end line cut after %d bytes%s", cut, tail)
                    << QList<QByteArray>{lines + end.left(cut), end.mid(cut) + behind} << lines + end << behind;
            }
            QList<QByteArray> bytes;
            for (const char c : lines + end + behind)
                bytes << QByteArray(1, c);
            QTest::addRow("every byte a piece%s", tail) << bytes << lines + end << behind;
            QTest::addRow("empty block cut after 1 byte%s", tail)
                << QList<QByteArray>{".", "\r\n" + behind} << QByteArray(".\r\n") << behind;
            QTest::addRow("empty block cut after 2 bytes%s", tail)
                << QList<QByteArray>{".\r", "\n" + behind} << QByteArray(".\r\n") << behind;
        }
    }

    void blockEndIsFoundWhereverItIsCut()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QByteArray, block);
        QFETCH(QByteArray, behind);
        pieces.prepend("+OK\r\n");
        MemorySession session(pieces);
        QCOMPARE(session.socket.ReadReply(), 1);
        QByteArray data;
        QVERIFY_THROWS_NO_EXCEPTION(session.socket.ReceiveData(data, -1));
        QCOMPARE(data, block);
        if (!behind.isEmpty()) {
            QCOMPARE(session.socket.ReadReply(), 1);
            QCOMPARE(session.socket.lastReply(), QString::fromLatin1(behind.chopped(2)));
        }
    }

    void onlyAStreamedBodyOutlastsTheReplyTime_data()
    {
        QTest::addColumn<bool>("body"); // inside a BodyDownload
        QTest::addColumn<bool>("literal"); // ReceiveExactly, else ReceiveData
        QTest::addColumn<bool>("completes");
        QTest::newRow("data block") << false << false << false;
        QTest::newRow("literal") << false << true << false;
        QTest::newRow("body as a data block") << true << false << true;
        QTest::newRow("body as a literal") << true << true << true;
    }

    void onlyAStreamedBodyOutlastsTheReplyTime()
    {
        // Every piece comes within the silence time-out, and all of them
        // take far more than ReplyTimeOuts time-outs.
        QFETCH(bool, body);
        QFETCH(bool, literal);
        QFETCH(bool, completes);
        const int pieceCount = 3 * TagSocket::ReplyTimeOuts;
        QList<QByteArray> pieces{"+OK\r\n"};
        for (int i = 0; i < pieceCount; ++i)
            pieces << QByteArray("0123456789\r\n");
        pieces << ".\r\n+OK 2 120\r\n";
        MemorySession session(pieces);
        session.server.onPiece = [&session] { session.now += 59'000; };
        QCOMPARE(session.socket.ReadReply(), 1);
        std::optional<TagSocket::BodyDownload> download;
        if (body)
            download.emplace(session.socket);
        QByteArray data;
        const auto receive = [&] {
            if (literal)
                session.socket.ReceiveExactly(pieceCount * 12 + 3, [&data](const QByteArray &bytes) { data += bytes; });
            else
                session.socket.ReceiveData(data, -1);
        };
        if (!completes) {
            QCOMPARE(failure<ETimedOutError>(receive),
                     QStringLiteral("The server took more than 600 seconds to send one reply (127.0.0.1:110)"));
            return;
        }
        receive();
        QCOMPARE(data.size(), pieceCount * 12 + 3);
        download.reset();
        // A line of the same reply after the body has the time left that
        // the status line before it did not use.
        QCOMPARE(session.socket.ReadRawLine(false), QByteArray("+OK 2 120"));
    }

    void lineEndsAreStrippedAndCodesRead()
    {
        server->replyAt(ScriptedPop3Server::Greeting, "-ERR go away\r\r\n");
        connectToServer();
        QCOMPARE(socket->ReadReply(), -1);
        QCOMPARE(socket->lastReply(), QStringLiteral("-ERR go away"));

        TagSocket plain;
        QCOMPARE(plain.ReplyCode("250 fine"), 250);
        QCOMPARE(plain.ReplyCode("+OK"), -1);
        QCOMPARE(socket->ReplyCode(""), 0);
        QCOMPARE(socket->ReplyCode("* what"), 0);
    }

    void percentagesRoundHalvesToEvenWithoutOverflow()
    {
        QCOMPARE(TagSocket::percentOf(0, 1000), 0);
        QCOMPARE(TagSocket::percentOf(1, 200), 0); // 0.5
        QCOMPARE(TagSocket::percentOf(3, 200), 2); // 1.5
        QCOMPARE(TagSocket::percentOf(5, 200), 2); // 2.5
        QCOMPARE(TagSocket::percentOf(2, 3), 67);
        QCOMPARE(TagSocket::percentOf(30'000'000, 40'000'000), 75);
        QCOMPARE(TagSocket::percentOf(5'000'000'000LL, 6'000'000'000LL), 83);
    }

    // --- Dial-up hook ---------------------------------------------------------

    void dialUpIsBroughtUpBeforeOpenAndReleasedAfterClose()
    {
        FakeDialUp dialUp(events);
        socket->setRAS(&dialUp);
        socket->UpdateInfo();
        QCOMPARE(events, (QStringList{"EnsureConnected", "Open", "Closing", "Closed", "ConnectionClosed"}));
    }

    void dialUpFailureEndsBeforeOpen()
    {
        FakeDialUp dialUp(events);
        dialUp.fail = true;
        socket->setRAS(&dialUp);
        QCOMPARE(failure<ERASError>([this] { socket->UpdateInfo(); }), QStringLiteral("RAS error no 633"));
        QVERIFY(!events.contains("Open"));
        QCOMPARE(server->connectionCount(), 0);
    }

    // --- Error texts ----------------------------------------------------------

    void errorNumbersHaveTexts()
    {
        QCOMPARE(socketErrorText(10054), QStringLiteral("Connection reset by peer"));
        QCOMPARE(socketErrorText(11001), QStringLiteral("Host not found"));
        QCOMPARE(socketErrorText(57008), QStringLiteral("You have to connect to the server first"));
        QCOMPARE(socketErrorText(12345), QStringLiteral("Error #12345"));
        QCOMPARE(socketErrorNumber(QAbstractSocket::NetworkError, "Network unreachable"), 10051);
        QCOMPARE(socketErrorNumber(QAbstractSocket::NetworkError, "Host unreachable"), 10065);
        QCOMPARE(socketErrorNumber(QAbstractSocket::NetworkError, "Connection timed out"), 10060);
        QCOMPARE(socketErrorNumber(QAbstractSocket::SslHandshakeFailedError, "handshake"), 0);
        QVERIFY(isNetworkError(10051));
        QVERIFY(isNetworkError(SocketError::TimedOut));
        QVERIFY(!isNetworkError(SocketError::ServerRequired));
        QVERIFY(!isNetworkError(SocketError::NotConnected));
    }
};

QTEST_GUILESS_MAIN(TestAgSocket)
#include "tst_agsocket.moc"
