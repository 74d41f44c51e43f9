// The IMAP client: its response reader on hostile and odd input, folder
// names on the wire, and whole sessions against the scripted IMAP server -
// the rows a check lists, how a removal proves its messages first, and how
// every fault ends a session without removing anything.

#include "mail/imapclient.h"
#include "mail/imapfoldername.h"
#include "mail/imapparser.h"
#include "mail/mailerrors.h"
#include "support/failuretext.h"
#include "support/memoryheadercache.h"
#include "support/scriptedimapserver.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// Serves the reader a byte stream as the transport would: lines without
// their CR LF, literals in pieces of at most `piece` bytes.
class StreamInput : public ImapInput
{
public:
    explicit StreamInput(QByteArray bytes, qsizetype piece = 3) : m_bytes(std::move(bytes)), m_piece(piece) {}

    QByteArray readLine() override
    {
        const qsizetype end = m_bytes.indexOf("\r\n", m_pos);
        if (end < 0)
            throw ESocketError(QStringLiteral("end of stream"));
        const QByteArray line = m_bytes.mid(m_pos, end - m_pos);
        m_pos = end + 2;
        return line;
    }
    void readLiteral(qint64 size, const std::function<void(const QByteArray &)> &take) override
    {
        if (m_pos + size > m_bytes.size())
            throw ESocketError(QStringLiteral("end of stream"));
        for (qint64 done = 0; done < size; done += m_piece)
            take(m_bytes.mid(m_pos + done, std::min<qint64>(m_piece, size - done)));
        m_pos += size;
    }
    bool atEnd() const { return m_pos == m_bytes.size(); }

private:
    QByteArray m_bytes;
    qsizetype m_piece;
    qsizetype m_pos = 0;
};

ImapResponse parseOne(const QByteArray &bytes)
{
    StreamInput input(bytes);
    ImapResponseReader reader(input);
    const ImapResponse response = reader.next();
    if (!input.atEnd())
        throw std::runtime_error("the response was not read to its end");
    return response;
}

QByteArray mail(const QByteArray &subject, const QByteArray &body = "Hello there.\r\n")
{
    return "From: Jane Roe <jane@example.org>\r\n"
           "Subject: "
           + subject
           + "\r\n"
             "Date: Sat, 05 Jun 1999 10:22:05 -0400\r\n"
             "\r\n"
           + body;
}

const QStringList signIn = {"a1 CAPABILITY", "a2 LOGIN \"user\" \"secret\"", "a3 CAPABILITY"};

// The client's commands after signing in, tags dropped.
QStringList verbsAfterSignIn(const ScriptedImapServer &server)
{
    QStringList verbs;
    for (const QString &command : server.commands().mid(signIn.size()))
        verbs << command.section(QLatin1Char(' '), 1);
    return verbs;
}

} // namespace

class TestImapClient : public QObject
{
    Q_OBJECT

private:
    ScriptedImapServer *server = nullptr;
    ImapClient *imap = nullptr;
    QStringList events;

    void listThree()
    {
        server->setMessages({mail("one"), mail("two"), mail("three")});
        imap->UpdateInfo();
        server->clearDialogue();
        events.clear();
    }

private slots:
    void init()
    {
        server = new ScriptedImapServer(this);
        QVERIFY(server->listen());
        imap = new ImapClient(this);
        imap->setServer(server->address());
        imap->setUserName(server->user());
        imap->setPassword(server->password());
        imap->setTimeOut(5);
        events.clear();
        imap->OnUpdatingInfo = [this] { events << "UpdatingInfo"; };
        imap->OnNextInfoUpdated = [this](int num) { events << QStringLiteral("NextInfoUpdated %1").arg(num); };
        imap->OnInfoUpdated = [this] { events << "InfoUpdated"; };
        imap->OnRetrieving = [this](int num) { events << QStringLiteral("Retrieving %1").arg(num); };
        imap->OnRetrieved = [this](int num) { events << QStringLiteral("Retrieved %1").arg(num); };
        imap->OnDeleting = [this](int num) { events << QStringLiteral("Deleting %1").arg(num); };
    }

    void cleanup()
    {
        delete imap;
        delete server;
    }

    // --- The response reader ------------------------------------------------

    void readsStatusResponsesWithTheirCodes()
    {
        const ImapResponse tagged = parseOne("a7 OK [READ-ONLY] EXAMINE completed\r\n");
        QCOMPARE(tagged.kind, ImapResponse::Kind::Tagged);
        QCOMPARE(tagged.tag, QByteArray("a7"));
        QCOMPARE(tagged.name, QByteArray("OK"));
        QCOMPARE(tagged.code, QByteArray("READ-ONLY"));
        QCOMPARE(tagged.text, QByteArray("EXAMINE completed"));

        const ImapResponse flags = parseOne("* ok [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Limited (really\r\n");
        QCOMPARE(flags.kind, ImapResponse::Kind::Untagged);
        QCOMPARE(flags.code, QByteArray("PERMANENTFLAGS"));
        QCOMPARE(flags.codeArguments.size(), std::size_t(1));
        QCOMPARE(flags.codeArguments[0].items.size(), std::size_t(3));
        QVERIFY(flags.codeArguments[0].items[2].isAtom("\\*"));
        QCOMPARE(flags.text, QByteArray("Limited (really")); // free text, never parsed

        const ImapResponse validity = parseOne("* OK [UIDVALIDITY 3857529045] UIDs valid\r\n");
        QCOMPARE(validity.codeArguments.at(0).number(), 3857529045LL);

        const ImapResponse count = parseOne("* 23 EXISTS\r\n");
        QCOMPARE(count.number, 23);
        QCOMPARE(count.name, QByteArray("EXISTS"));

        const ImapResponse more = parseOne("+ dGVzdA==\r\n");
        QCOMPARE(more.kind, ImapResponse::Kind::Continuation);
        QCOMPARE(more.text, QByteArray("dGVzdA=="));
    }

    void readsQuotedStringsNestedListsAndNil()
    {
        const ImapResponse list = parseOne("* LIST (\\HasNoChildren) \"/\" \"a \\\"b\\\" \\\\c\"\r\n");
        QCOMPARE(list.values.size(), std::size_t(3));
        QCOMPARE(list.values[1].stringValue(), QByteArray("/"));
        QCOMPARE(list.values[2].stringValue(), QByteArray("a \"b\" \\c"));

        const ImapResponse fetch =
            parseOne("* 1 FETCH (ENVELOPE (NIL \"x\" ((NIL nil \"a\" \"b.org\"))) FLAGS (\\Seen) "
                     "BODY[HEADER.FIELDS (FROM TO)] \"\")\r\n");
        const ImapValue &data = fetch.values.at(0);
        const ImapValue *envelope = data.valueAfter("ENVELOPE");
        QVERIFY(envelope);
        QCOMPARE(envelope->items.at(0).type, ImapValue::Type::Nil);
        QCOMPARE(envelope->items.at(2).items.at(0).items.at(1).type, ImapValue::Type::Nil);
        QCOMPARE(envelope->items.at(2).items.at(0).items.at(3).stringValue(), QByteArray("b.org"));
        QVERIFY(data.valueAfter("FLAGS")->items.at(0).isAtom("\\SEEN"));
        QVERIFY(data.valueAfter("BODY[HEADER.FIELDS (FROM TO)]")); // a section with blanks is one atom
    }

    void readsLiteralsOfEverySize_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("marker");
        for (const int size : {0, 1, 2, 5, 100, 70000}) {
            QTest::addRow("{%d}", size) << size << QByteArray("}");
            QTest::addRow("{%d+}", size) << size << QByteArray("+}");
        }
    }

    void readsLiteralsOfEverySize()
    {
        QFETCH(int, size);
        QFETCH(QByteArray, marker);
        QByteArray data(size, 'h');
        if (size >= 2)
            data.replace(size - 2, 2, "\r\n"); // a line end inside the data is data
        const ImapResponse response = parseOne("* 4 FETCH (UID 9 BODY[HEADER] {" + QByteArray::number(size) + marker
                                               + "\r\n" + data + " RFC822.SIZE 44)\r\n");
        const ImapValue &fetched = response.values.at(0);
        QCOMPARE(fetched.valueAfter("BODY[HEADER]")->size, size);
        QCOMPARE(fetched.valueAfter("BODY[HEADER]")->text, data.left(ImapResponseReader::DefaultLiteralKeep));
        QCOMPARE(fetched.valueAfter("RFC822.SIZE")->number(), 44); // the line goes on after the literal
        QCOMPARE(fetched.valueAfter("UID")->number(), 9);
    }

    void aLiteralKeepsWhatItsTargetAllows()
    {
        StreamInput input("* 1 FETCH (BODY[HEADER] {10}\r\n0123456789 BODY[] {6}\r\nabcdef)\r\n");
        ImapResponseReader reader(input);
        QByteArray streamed;
        QBuffer device(&streamed);
        device.open(QIODevice::WriteOnly);
        QStringList asked;
        reader.literalTarget = [&](const QByteArray &label, qint64 size) {
            asked << QStringLiteral("%1 %2").arg(QString::fromLatin1(label)).arg(size);
            if (label == "BODY[]")
                return ImapLiteralTarget{0, 6, &device};
            return ImapLiteralTarget{4, 10};
        };
        const ImapResponse response = reader.next();
        QCOMPARE(asked, (QStringList{"BODY[HEADER] 10", "BODY[] 6"}));
        QCOMPARE(response.values.at(0).valueAfter("BODY[HEADER]")->text, QByteArray("0123"));
        QCOMPARE(response.values.at(0).valueAfter("BODY[HEADER]")->size, 10);
        QCOMPARE(streamed, QByteArray("abcdef"));

        StreamInput big("* 1 FETCH (BODY[HEADER] {11}\r\n0123456789x)\r\n");
        ImapResponseReader strict(big);
        strict.literalTarget = [](const QByteArray &, qint64) { return ImapLiteralTarget{4, 10}; };
        QVERIFY(failure<EProtocolError>([&] { strict.next(); }).contains("literal of 11 octets"));
    }

    void untaggedNoiseReadsWithoutFailing_data()
    {
        QTest::addColumn<QByteArray>("noise");
        QTest::newRow("unknown keyword") << QByteArray("* XYZZY 1 2 ) ( [\r\n");
        QTest::newRow("unclosed list") << QByteArray("* 3 FETCH (FLAGS (\\Seen\r\n");
        QTest::newRow("unclosed quote") << QByteArray("* LIST () \"/\" \"half\r\n");
        QTest::newRow("alert") << QByteArray("* OK [ALERT] Server going down ] soon\r\n");
        QTest::newRow("brace in text") << QByteArray("* OK fine {5} then\r\n");
        QTest::newRow("bare star") << QByteArray("* \r\n");
    }

    void untaggedNoiseReadsWithoutFailing()
    {
        QFETCH(QByteArray, noise);
        StreamInput input(noise + "a1 OK done\r\n");
        ImapResponseReader reader(input);
        bool bareStar = noise == "* \r\n";
        if (bareStar) {
            QVERIFY(failure<EProtocolError>([&] { reader.next(); }).contains("no keyword"));
            return;
        }
        QCOMPARE(reader.next().kind, ImapResponse::Kind::Untagged);
        QCOMPARE(reader.next().tag, QByteArray("a1"));
    }

    void refusesWhatCouldGrowWithoutEnd()
    {
        const QByteArray deep = "* X " + QByteArray(ImapResponseReader::MaxDepth + 1, '(') + "\r\n";
        QVERIFY(failure<EProtocolError>([&] { parseOne(deep); }).contains("nested"));
        QByteArray many = "* X";
        for (int i = 0; i <= ImapResponseReader::MaxLiterals; ++i)
            many += " {1}\r\nx";
        QVERIFY(failure<EProtocolError>([&] { parseOne(many + "\r\n"); }).contains("literals"));
        QVERIFY(failure<EProtocolError>([&] { parseOne("a1 FETCH (UID 1)\r\n"); }).contains("tagged"));
    }

    // --- Folder names ---------------------------------------------------------

    void folderNamesUseModifiedUtf7()
    {
        const QString name = QStringLiteral("Entw\u00fcrfe & Junk/\u65e5\u672c\u8a9e");
        const QByteArray wire = encodeFolderName(name);
        QCOMPARE(wire, QByteArray("Entw&APw-rfe &- Junk/&ZeVnLIqe-"));
        QCOMPARE(decodeFolderName(wire), name);
        QCOMPARE(encodeFolderName(QStringLiteral("INBOX")), QByteArray("INBOX"));
        QCOMPARE(decodeFolderName("odd&-name&"), QStringLiteral("odd&name&")); // a stray "&" stays
        QCOMPARE(decodeFolderName("x&!!-y"), QStringLiteral("x&!!-y"));
        // A server that does not encode its names: UTF-8, else Latin-1.
        QCOMPARE(decodeFolderName("Ind\xc3\xa9sirables &AOk-"), QStringLiteral("Ind\u00e9sirables \u00e9"));
        QCOMPARE(decodeFolderName("Ind\xe9sirables"), QStringLiteral("Ind\u00e9sirables"));
    }

    // --- A check --------------------------------------------------------------

    void aCheckExaminesAndPeeksAndListsEveryRow()
    {
        server->setMessages({mail("first"), mail("second")});
        imap->UpdateInfo();

        QCOMPARE(server->commands(),
                 signIn
                     + (QStringList{"a4 EXAMINE \"INBOX\"", "a5 UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER])",
                                    "a6 LOGOUT"}));
        QCOMPARE(events, (QStringList{"UpdatingInfo", "NextInfoUpdated 0", "NextInfoUpdated 1", "InfoUpdated"}));
        QCOMPARE(imap->MessageCount(), 2);
        QCOMPARE(imap->uidValidity(), server->uidValidity());
        QCOMPARE(imap->Info().Count(), 2);
        const QList<quint32> uids = server->uids();
        QCOMPARE(imap->Info().Items(0).Uid, uids.at(0));
        QCOMPARE(imap->Info().Items(1).Uid, uids.at(1));
        QCOMPARE(imap->Info().Items(1).Size, ScriptedImapServer::wireSize(mail("second")));
        QCOMPARE(imap->Info().Items(1).Headers.lines(),
                 (QStringList{"From: Jane Roe <jane@example.org>", "Subject: second",
                              "Date: Sat, 05 Jun 1999 10:22:05 -0400"}));
        QCOMPARE(server->seenSettings(), 0);
        QVERIFY(server->flags(uids.at(0)).isEmpty());
        QVERIFY(!imap->Connected());
    }

    void anEmptyFolderAsksForNoRows()
    {
        imap->UpdateInfo();
        QCOMPARE(verbsAfterSignIn(*server), (QStringList{"EXAMINE \"INBOX\"", "LOGOUT"}));
        QCOMPARE(imap->MessageCount(), 0);
        QCOMPARE(imap->Info().Count(), 0);
    }

    void untaggedNoiseAnywhereChangesNoRow()
    {
        server->setMessages({mail("first"), mail("second")});
        server->noiseAt({}, {"* OK [ALERT] System shutdown in 10 minutes", "* 2 EXISTS", "* 1 FETCH (FLAGS (\\Seen))",
                             "* FLAGS (\\Answered \\Deleted)", "* 1 RECENT", "* XAPPLEPUSHSERVICE (\"x\" {3}\r\nabc)"});
        server->setWriteSplit(5);
        imap->UpdateInfo();
        QCOMPARE(imap->Info().Count(), 2);
        QCOMPARE(GetHeaderValue(imap->Info().Items(1).Headers.lines(), "Subject"), QStringLiteral("second"));
    }

    void aFolderWithAnEightBitNameGoesOutInModifiedUtf7()
    {
        // The server keeps the name as it travels.
        server->addFolder(QStringLiteral("Entw&APw-rfe"));
        server->setMessages({mail("draft")}, QStringLiteral("Entw&APw-rfe"));
        imap->setFolder(QStringLiteral("Entw\u00fcrfe"));
        imap->UpdateInfo();
        QVERIFY(server->commands().contains("a4 EXAMINE \"Entw&APw-rfe\""));
        QCOMPARE(imap->Info().Count(), 1);
    }

    void rowsStopAtTheCountTheFetchWasAskedFor()
    {
        // EXAMINE says 3; during the fetch the folder claims to grow and
        // rows keep coming.
        server->setMessages({mail("one"), mail("two"), mail("three")});
        QByteArray rows = "* 2000000000 EXISTS\r\n";
        for (int n = 1; n <= 50; ++n)
            rows += "* " + QByteArray::number(n) + " FETCH (UID " + QByteArray::number(n)
                    + " RFC822.SIZE 40 BODY[HEADER] {12}\r\nSubject: x\r\n)\r\n";
        server->replyAt("UID FETCH", rows + "$TAG OK done\r\n");
        const QString text = failure<EProtocolError>([this] { imap->UpdateInfo(); });
        QCOMPARE(text,
                 QStringLiteral("The server sent more messages than the folder held when they were asked for (3)"));
        QCOMPARE(imap->Info().Count(), 3);
        QCOMPARE(imap->MessageCount(), 3);
    }

    void aHugeHeaderLiteralEndsTheSessionBeforeItIsRead()
    {
        server->setMessages({mail("one")});
        server->endlessLiteralAt("UID FETCH", -1);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(failure<EProtocolError>([this] { imap->UpdateInfo(); }).contains("literal"));
        QVERIFY(timer.elapsed() < 3000);
        QVERIFY(!imap->Connected());
    }

    void aLongHeaderBlockKeepsItsStart()
    {
        server->setMessages({mail("one")});
        QByteArray header = "Subject: long\r\n";
        while (header.size() < 2 * ImapClient::MaxHeaderBlock)
            header += "X-Filler: " + QByteArray(60, 'x') + "\r\n";
        const QByteArray size = QByteArray::number(header.size() + 10);
        server->replyAt("UID FETCH", "* 1 FETCH (UID 1 RFC822.SIZE " + size + " BODY[HEADER] {"
                                         + QByteArray::number(header.size()) + "}\r\n" + header
                                         + ")\r\n$TAG OK done\r\n");
        imap->UpdateInfo();
        QCOMPARE(imap->Info().Count(), 1);
        qint64 kept = 0;
        for (const QString &line : imap->Info().Items(0).Headers.lines())
            kept += line.size() + 2;
        QVERIFY(kept <= ImapClient::MaxHeaderBlock + 2);
        QVERIFY(kept > ImapClient::MaxHeaderBlock / 2);
        QCOMPARE(imap->Info().Items(0).Headers.lines().first(), QStringLiteral("Subject: long"));
        QCOMPARE(imap->Info().Items(0).Size, size.toLongLong());
    }

    void aHeaderBlockWithoutItsSizeFailsTheCheck()
    {
        server->setMessages({mail("one")});
        server->endlessLiteralAt("UID FETCH", 100);
        QVERIFY(failure<EProtocolError>([this] { imap->UpdateInfo(); }).contains("without its UID or size"));
    }

    void endlessUntaggedNoiseRunsOutOfTime()
    {
        // A server that greets and then answers nothing but noise, as fast
        // as the client reads.
        QTcpServer flood;
        QVERIFY(flood.listen(QHostAddress::LocalHost));
        std::unique_ptr<QTcpSocket> peer;
        QTimer pump;
        connect(&flood, &QTcpServer::newConnection, this, [&] {
            peer.reset(flood.nextPendingConnection());
            peer->write("* OK ready\r\n");
            pump.start(1);
        });
        connect(&pump, &QTimer::timeout, this, [&] {
            if (peer && peer->bytesToWrite() < 256 * 1024)
                peer->write(QByteArray("* OK [ALERT] still here\r\n").repeated(1000));
        });
        imap->setServer(QStringLiteral("127.0.0.1:%1").arg(flood.serverPort()));
        imap->setTimeOut(1);
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(ETimedOutError, imap->UpdateInfo());
        QVERIFY(timer.elapsed() >= TagSocket::ReplyTimeOuts * 1000);
        QVERIFY(timer.elapsed() < (TagSocket::ReplyTimeOuts + 5) * 1000);
    }

    void aCloseInsideALiteralFailsTheCheck()
    {
        server->setMessages({mail("one"), mail("two")});
        server->closeMidLiteralAt("UID FETCH");
        QVERIFY(failure<ESocketError>([this] { imap->UpdateInfo(); }).contains("closed", Qt::CaseInsensitive));
        QVERIFY(!imap->Connected());
    }

    void aRefusalAtEachStepEndsTheSession_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("expected");
        QTest::newRow("EXAMINE NO") << "EXAMINE" << QByteArray("NO [NONEXISTENT] No such folder")
                                    << "The server refused EXAMINE: \"a4 NO [NONEXISTENT] No such folder\"";
        QTest::newRow("EXAMINE BAD") << "EXAMINE" << QByteArray("BAD what?")
                                     << "The server did not accept EXAMINE: \"a4 BAD what?\"";
        QTest::newRow("FETCH NO") << "UID FETCH" << QByteArray("NO [UNAVAILABLE] try later")
                                  << "The server refused UID FETCH: \"a5 NO [UNAVAILABLE] try later\"";
        QTest::newRow("CAPABILITY BAD") << "CAPABILITY" << QByteArray("BAD no")
                                        << "The server did not accept CAPABILITY: \"a1 BAD no\"";
    }

    void aRefusalAtEachStepEndsTheSession()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(QString, expected);
        server->setMessages({mail("one")});
        server->failAt(command, reply);
        QString text;
        try {
            imap->UpdateInfo();
        } catch (const EMailsieveError &e) {
            text = e.message();
        }
        QCOMPARE(text, expected);
        QVERIFY(!server->commands().last().endsWith("LOGOUT"));
        QVERIFY(!imap->Connected());
    }

    // --- Signing in -------------------------------------------------------------

    void aRefusedLoginNamesUserAndServer()
    {
        imap->setPassword(QStringLiteral("wrong"));
        const QString text = failure<ELoginRefusedError>([this] { imap->UpdateInfo(); });
        QVERIFY2(
            text.startsWith(
                QStringLiteral("The server refused the password for user at 127.0.0.1:%1: a2 NO").arg(server->port())),
            qPrintable(text));
    }

    void anEightBitPasswordTravelsAsALiteral()
    {
        server->setCredentials(QStringLiteral("user"), QStringLiteral("s\u00e9cret\"\\"));
        imap->setPassword(QStringLiteral("s\u00e9cret\"\\"));
        imap->UpdateInfo();
        QCOMPARE(server->commands().at(1), QStringLiteral("a2 LOGIN \"user\" {9}\r\ns\u00e9cret\"\\"));
    }

    void loginDisabledSendsNoPassword()
    {
        server->setCapabilities({"IMAP4rev1", "LOGINDISABLED", "AUTH=PLAIN"});
        QVERIFY(failure<ESocketError>([this] { imap->UpdateInfo(); }).contains("LOGINDISABLED"));
        QCOMPARE(server->commands(), QStringList{"a1 CAPABILITY"});
    }

    void saslPlainUsesTheInitialResponseOnlyWhenListed()
    {
        imap->setAuthMethod(RemoteMailbox::AuthMethod::SaslPlain);
        imap->UpdateInfo();
        QCOMPARE(server->commands().at(1), QStringLiteral("a2 AUTHENTICATE PLAIN AHVzZXIAc2VjcmV0"));

        server->setCapabilities({"IMAP4rev1", "AUTH=PLAIN", "UIDPLUS"});
        server->clearDialogue();
        imap->UpdateInfo();
        QCOMPARE(server->commands().mid(1, 2), (QStringList{"a2 AUTHENTICATE PLAIN", "AHVzZXIAc2VjcmV0"}));
    }

    void anOAuthTokenGoesOutWithOAuthBearerWhenListed()
    {
        server->setCapabilities({"IMAP4rev1", "AUTH=XOAUTH2", "AUTH=OAUTHBEARER", "SASL-IR"});
        server->setAccessToken(QStringLiteral("tok3n"));
        imap->setAuthMethod(RemoteMailbox::AuthMethod::OAuth2);
        imap->accessTokenSource = [] { return QStringLiteral("tok3n"); };
        imap->UpdateInfo();
        QVERIFY(server->commands().at(1).startsWith("a2 AUTHENTICATE OAUTHBEARER "));

        imap->accessTokenSource = [] { return QStringLiteral("expired"); };
        const QString text = failure<ELoginRefusedError>([this] { imap->UpdateInfo(); });
        QVERIFY2(text.startsWith("The server refused the access token for user"), qPrintable(text));
        QVERIFY2(text.contains("(status: "), qPrintable(text));
    }

    void apopIsRefusedBeforeConnecting()
    {
        imap->setAuthMethod(RemoteMailbox::AuthMethod::Apop);
        QCOMPARE(failure<ESocketError>([this] { imap->UpdateInfo(); }),
                 QStringLiteral("APOP is a POP3 sign-in; choose another for this IMAP mailbox"));
        QCOMPARE(server->connectionCount(), 0);
    }

    void startTlsNotOfferedSendsNoPassword()
    {
        imap->setTlsMode(TlsMode::StartTls);
        QVERIFY(failure<ETlsError>([this] { imap->UpdateInfo(); }).contains("does not offer STARTTLS"));
        QCOMPARE(server->commands(), QStringList{"a1 CAPABILITY"});
    }

    void capabilitiesComeFromTheGreetingToo()
    {
        server->setGreeting("* OK [CAPABILITY IMAP4rev1 IDLE AUTH=PLAIN] ready");
        imap->UpdateInfo();
        QCOMPARE(server->commands().at(0), QStringLiteral("a1 LOGIN \"user\" \"secret\""));
        QVERIFY(imap->idleSupported()); // from the CAPABILITY asked after signing in
    }

    void aByeGreetingTurnsTheSessionAway()
    {
        server->setGreeting("* BYE [UNAVAILABLE] too busy");
        QVERIFY(failure<EServerError>([this] { imap->UpdateInfo(); }).contains("turned the connection away"));
        QVERIFY(server->commands().isEmpty());
    }

    // --- A removal --------------------------------------------------------------

    // Learning from sorted mail reads the newest header blocks of the junk
    // folder and of a named one, read-only and leaving them unseen.
    void newestHeaderBlocksOfTheJunkFolderAndAnother()
    {
        server->setMessages({mail("old junk"), mail("new junk")}, QStringLiteral("Junk"));
        server->setMessages({mail("one"), mail("two"), mail("three")});
        const QList<QByteArray> junk = imap->newestHeaderBlocks(QString(), 1);
        QCOMPARE(junk.size(), 1);
        QVERIFY(junk.first().contains("Subject: new junk\r\n"));
        server->clearDialogue();
        QCOMPARE(imap->newestHeaderBlocks(QStringLiteral("INBOX"), 5).size(), 3);
        QCOMPARE(verbsAfterSignIn(*server),
                 (QStringList{"EXAMINE \"INBOX\"", "FETCH 1:3 (BODY.PEEK[HEADER])", "LOGOUT"}));
        QCOMPARE(server->seenSettings(), 0);
    }

    void moveToJunkMovesExactlyTheMarkedUids()
    {
        listThree();
        const QList<quint32> uids = server->uids();
        imap->MarkForDelete(0);
        imap->MarkForDelete(2);
        imap->ProcessMarks();

        const QString set = QStringLiteral("%1,%2").arg(uids.at(0)).arg(uids.at(2));
        QCOMPARE(verbsAfterSignIn(*server),
                 (QStringList{"SELECT \"INBOX\"", "LIST \"\" \"*\"", "UID FETCH " + set + " (UID RFC822.SIZE)",
                              "UID MOVE " + set + " \"Junk\"", "LOGOUT"}));
        QCOMPARE(server->uids(), QList<quint32>{uids.at(1)});
        QCOMPARE(server->messages(QStringLiteral("Junk")).size(), 2);
        QVERIFY(imap->committed());
        QVERIFY(imap->Info().Items(0).Deleted);
        QVERIFY(!imap->Info().Items(1).Deleted);
        QCOMPARE(imap->Info().Items(2).MovedTo, QStringLiteral("Junk"));
        QCOMPARE(imap->junkFolderUsed(), QStringLiteral("Junk"));
        QCOMPARE(events, (QStringList{"Deleting 0", "Deleting 2"}));
    }

    void withoutMoveItCopiesFlagsAndExpungesByUid()
    {
        server->setCapabilities({"IMAP4rev1", "UIDPLUS", "SPECIAL-USE", "LIST-EXTENDED"});
        listThree();
        const QList<quint32> uids = server->uids();
        imap->MarkForDelete(1);
        imap->MarkForDelete(2);
        imap->ProcessMarks();

        const QString set = QStringLiteral("%1:%2").arg(uids.at(1)).arg(uids.at(2));
        QCOMPARE(verbsAfterSignIn(*server),
                 (QStringList{"SELECT \"INBOX\"", "LIST \"\" \"*\" RETURN (SPECIAL-USE)",
                              "UID FETCH " + set + " (UID RFC822.SIZE)", "UID COPY " + set + " \"Junk\"",
                              "UID STORE " + set + " +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE " + set, "LOGOUT"}));
        QCOMPARE(server->uids(), QList<quint32>{uids.at(0)});
        QCOMPARE(server->messages(QStringLiteral("Junk")).size(), 2);
        QVERIFY(imap->committed());
    }

    void deleteStoresAndExpungesOnlyTheMarkedUids()
    {
        imap->setRemoval(ImapClient::Removal::Delete);
        listThree();
        const QList<quint32> uids = server->uids();
        imap->MarkForDelete(1);
        imap->ProcessMarks();
        const QString uid = QString::number(uids.at(1));
        QCOMPARE(verbsAfterSignIn(*server),
                 (QStringList{"SELECT \"INBOX\"", "UID FETCH " + uid + " (UID RFC822.SIZE)",
                              "UID STORE " + uid + " +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE " + uid, "LOGOUT"}));
        QCOMPARE(server->uids(), (QList<quint32>{uids.at(0), uids.at(2)}));
        QVERIFY(imap->Info().Items(1).Deleted);
        QVERIFY(imap->Info().Items(1).MovedTo.isEmpty());
    }

    void withoutUidplusNothingIsRemoved_data()
    {
        QTest::addColumn<int>("removal");
        QTest::addColumn<QStringList>("capabilities");
        QTest::newRow("delete") << int(ImapClient::Removal::Delete) << QStringList{"IMAP4rev1", "MOVE"};
        QTest::newRow("move") << int(ImapClient::Removal::MoveToFolder) << QStringList{"IMAP4rev1", "SPECIAL-USE"};
    }

    void withoutUidplusNothingIsRemoved()
    {
        QFETCH(int, removal);
        QFETCH(QStringList, capabilities);
        server->setCapabilities(capabilities);
        imap->setRemoval(ImapClient::Removal(removal));
        listThree();
        imap->MarkForDelete(0);
        QVERIFY(failure<ESocketError>([this] { imap->ProcessMarks(); }).contains("UIDPLUS"));
        QCOMPARE(verbsAfterSignIn(*server), QStringList{"SELECT \"INBOX\""});
        QCOMPARE(server->uids().size(), 3);
        QVERIFY(!imap->committed());
    }

    // --- With a header cache ------------------------------------------------

    void checkWithCacheFetchesOnlyWhatItDoesNotHold_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("esearch");
        QTest::addColumn<QString>("fetched"); // the UIDs of the second check's one fetch; empty: none
        QTest::addColumn<QStringList>("subjects");
        const QStringList three = {"one", "two", "three"};
        QTest::newRow("nothing new, ESEARCH") << "" << true << "" << three;
        QTest::newRow("nothing new, SEARCH") << "" << false << "" << three;
        QTest::newRow("one new") << "add" << true << "4" << three + QStringList{"four"};
        QTest::newRow("one removed") << "remove" << true << "" << QStringList{"one", "three"};
        QTest::newRow("one not in the cache, one new") << "forget" << false << "1,4" << three + QStringList{"four"};
        QTest::newRow("UIDVALIDITY changed") << "validity" << true << "1:*" << three;
    }

    void checkWithCacheFetchesOnlyWhatItDoesNotHold()
    {
        QFETCH(QString, change);
        QFETCH(bool, esearch);
        QFETCH(QString, fetched);
        QFETCH(QStringList, subjects);
        if (esearch)
            server->setCapabilities(server->capabilities() << "ESEARCH");
        MemoryHeaderCache cache;
        imap->setHeaderCache(&cache);
        listThree();
        QCOMPARE(cache.remembered.size(), 3);
        if (change == "add") {
            server->addMessage(mail("four"));
        } else if (change == "remove") {
            server->removeMessage(server->uids().at(1));
        } else if (change == "forget") {
            cache.entries.remove(imapIdentity(server->uidValidity(), 1));
            server->addMessage(mail("four"));
        } else if (change == "validity") {
            server->setUidValidity(server->uidValidity() + 1);
        }
        imap->UpdateInfo();

        QStringList expected{"EXAMINE \"INBOX\"", esearch ? "UID SEARCH RETURN (ALL) ALL" : "UID SEARCH ALL"};
        if (change == "validity")
            expected.removeLast();
        if (!fetched.isEmpty())
            expected << "UID FETCH " + fetched + " (UID RFC822.SIZE BODY.PEEK[HEADER])";
        QCOMPARE(verbsAfterSignIn(*server), expected << "LOGOUT");
        QStringList listed;
        for (int i = 0; i < imap->Info().Count(); ++i) {
            const TmsRemoteInfoItem &item = imap->Info().Items(i);
            listed << GetHeaderValue(item.Headers.lines(), QStringLiteral("Subject"));
            QCOMPARE(item.Identity, imapIdentity(server->uidValidity(), server->uids().at(i)));
            QCOMPARE(item.Size, ScriptedImapServer::wireSize(mail(listed.last().toLatin1())));
            QVERIFY(cache.entries.contains(item.Identity));
        }
        QCOMPARE(listed, subjects);
    }

    void searchResultsAreBoundedByTheFolderSize()
    {
        MemoryHeaderCache cache;
        imap->setHeaderCache(&cache);
        listThree();
        server->replyAt("UID SEARCH", "* ESEARCH (TAG \"$TAG\") UID ALL 9,1:1000000000\r\n$TAG OK done\r\n");
        imap->UpdateInfo();
        QCOMPARE(imap->Info().Count(), 3);
        QVERIFY(!server->commands().join('\n').contains("FETCH"));
        server->replyAt("UID SEARCH", "* SEARCH 1 0\r\n$TAG OK done\r\n");
        QCOMPARE(failure<EProtocolError>([this] { imap->UpdateInfo(); }),
                 QStringLiteral("The server's search result is not valid: \"* SEARCH 1 0\""));
    }

    void aSearchResultLongerThanAReplyLineIsRead()
    {
        // 14,000 UIDs: a plain SEARCH line of some 73 KB.
        constexpr int count = 14000;
        server->setMessages(QList<QByteArray>(count, mail("same")));
        MemoryHeaderCache cache;
        for (quint32 uid = 1; uid <= count; ++uid)
            cache.entries.insert(
                imapIdentity(server->uidValidity(), uid),
                {ScriptedImapServer::wireSize(mail("same")), PackedHeaders("Subject: same\r\n\r\n"), {}});
        imap->setHeaderCache(&cache);
        imap->UpdateInfo();
        QCOMPARE(imap->Info().Count(), count);
        QCOMPARE(imap->Info().Items(count - 1).Uid, quint32(count));
        QCOMPARE(verbsAfterSignIn(*server), (QStringList{"EXAMINE \"INBOX\"", "UID SEARCH ALL", "LOGOUT"}));
    }

    void aChangedUidValidityRemovesNothing()
    {
        listThree();
        server->setUidValidity(server->uidValidity() + 1);
        imap->MarkForDelete(0);
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, imap->ProcessMarks());
        QCOMPARE(verbsAfterSignIn(*server), QStringList{"SELECT \"INBOX\""});
        QCOMPARE(server->uids().size(), 3);
        QVERIFY(!imap->committed());
        QVERIFY(!imap->Info().Items(0).Deleted);
    }

    void aVanishedUidRemovesNothing()
    {
        listThree();
        const QList<quint32> uids = server->uids();
        server->removeMessage(uids.at(1));
        imap->MarkForDelete(0);
        imap->MarkForDelete(1);
        QVERIFY_THROWS_EXCEPTION(EMailboxChangedError, imap->ProcessMarks());
        QVERIFY(!server->commands().join('\n').contains("MOVE"));
        QCOMPARE(server->uids(), (QList<quint32>{uids.at(0), uids.at(2)}));
        QCOMPARE(server->messages(QStringLiteral("Junk")).size(), 0);
        QVERIFY(!imap->committed());
    }

    void aRefusedMoveCommitsNothing()
    {
        listThree();
        imap->MarkForDelete(0);
        server->failAt("UID MOVE", "NO [OVERQUOTA] Junk is full");
        QVERIFY(failure<EServerError>([this] { imap->ProcessMarks(); }).contains("OVERQUOTA"));
        QVERIFY(!imap->committed());
        QVERIFY(!imap->Info().Items(0).Deleted);
        QVERIFY(!server->commands().last().endsWith("LOGOUT"));
    }

    void aFailedExpungeTakesItsFlagsBack()
    {
        imap->setRemoval(ImapClient::Removal::Delete);
        listThree();
        const quint32 uid = server->uids().at(0);
        imap->MarkForDelete(0);
        server->failAt("UID EXPUNGE", "NO not now");
        QVERIFY_THROWS_EXCEPTION(EServerError, imap->ProcessMarks());
        QVERIFY(server->commands().last().endsWith(QStringLiteral("UID STORE %1 -FLAGS.SILENT (\\Deleted)").arg(uid)));
        QVERIFY(!server->flags(uid).contains("\\Deleted"));
        QCOMPARE(server->uids().size(), 3);
    }

    void theJunkFolderIsFoundByNameWithoutSpecialUse()
    {
        server->setCapabilities({"IMAP4rev1", "UIDPLUS", "MOVE"});
        server->addFolder(QStringLiteral("Archive/Spam"));
        server->addFolder(QStringLiteral("SPAM"));
        server->setMessages({}, QStringLiteral("Junk"));
        listThree();
        imap->setJunkFolder({});
        imap->MarkForDelete(0);
        imap->ProcessMarks();
        // The server's own Junk folder shows its special use anyway.
        QCOMPARE(imap->junkFolderUsed(), QStringLiteral("Junk"));
    }

    void aListedFolderNameThatWouldEndTheCommandIsRefused()
    {
        // Sent in a quoted string, the name would end the command line and
        // start a plain EXPUNGE of its own.
        server->addFolder(QStringLiteral("Junk"));
        server->addFolder(QStringLiteral("Junk\"\r\nX1 EXPUNGE\r\nX2 NOOP \""), QStringLiteral("\\Junk"));
        listThree();
        const quint32 othersDeleted = server->addMessage(mail("flagged by another program"));
        server->setFlags(othersDeleted, {"\\Deleted"});
        imap->MarkForDelete(0);
        const QString text = failure<ESocketError>([this] { imap->ProcessMarks(); });
        QVERIFY2(text.contains("line break or NUL character"), qPrintable(text));
        QVERIFY(!server->commands().join('\n').contains("EXPUNGE"));
        QCOMPARE(server->uids().size(), 4);
        QVERIFY(server->uids().contains(othersDeleted));
        QVERIFY(!imap->committed());
    }

    void aListedEightBitJunkFolderGoesBackByteForByte_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("verb");
        QTest::newRow("move") << QStringList{"IMAP4rev1", "UIDPLUS", "MOVE", "SPECIAL-USE"} << "UID MOVE";
        QTest::newRow("copy") << QStringList{"IMAP4rev1", "UIDPLUS", "SPECIAL-USE"} << "UID COPY";
    }

    void aListedEightBitJunkFolderGoesBackByteForByte()
    {
        // A server that lists its names in UTF-8 instead of modified UTF-7.
        QFETCH(QStringList, capabilities);
        QFETCH(QString, verb);
        const QString junk = QStringLiteral("Courrier ind\u00e9sirable");
        server->setCapabilities(capabilities);
        server->addFolder(QStringLiteral("Junk"));
        server->addFolder(junk, QStringLiteral("\\Junk"));
        listThree();
        const quint32 uid = server->uids().at(0);
        imap->MarkForDelete(0);
        imap->ProcessMarks();
        QVERIFY(server->commands().contains(
            QStringLiteral("a7 %1 %2 {%3}\r\n").arg(verb).arg(uid).arg(junk.toUtf8().size()) + junk));
        QCOMPARE(server->messages(junk).size(), 1);
        QCOMPARE(server->uids().size(), 2);
        QCOMPARE(imap->junkFolderUsed(), junk);
        QCOMPARE(imap->Info().Items(0).MovedTo, junk);
    }

    void copiesAreTakenBackWhenTheOriginalsStay_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<int>("copiesLeft");
        QTest::newRow("STORE") << "UID STORE" << 1 << 0;
        QTest::newRow("EXPUNGE") << "UID EXPUNGE" << 1 << 0;
        QTest::newRow("EXPUNGE, also of the copies") << "UID EXPUNGE" << int(ScriptedImapServer::Every) << 2;
    }

    void copiesAreTakenBackWhenTheOriginalsStay()
    {
        QFETCH(QString, refused);
        QFETCH(int, occurrence);
        QFETCH(int, copiesLeft);
        server->setCapabilities({"IMAP4rev1", "UIDPLUS", "SPECIAL-USE"});
        listThree();
        imap->MarkForDelete(0);
        imap->MarkForDelete(2);
        server->failAt(refused, "NO [CANNOT] not now", occurrence);
        const QString text = failure<EServerError>([this] { imap->ProcessMarks(); });
        QVERIFY2(text.startsWith(QStringLiteral("The server refused %1: ").arg(refused)), qPrintable(text));
        QCOMPARE(text.endsWith("Copies of the messages were left in the folder Junk."), copiesLeft > 0);
        QCOMPARE(server->uids().size(), 3);
        for (const quint32 uid : server->uids())
            QVERIFY(server->flags(uid).isEmpty());
        QCOMPARE(server->messages(QStringLiteral("Junk")).size(), copiesLeft);
        for (const quint32 uid : server->uids(QStringLiteral("Junk")))
            QVERIFY(server->flags(uid, QStringLiteral("Junk")).isEmpty());
        QVERIFY(!imap->committed());
    }

    void noJunkFolderAsksTheUserToChooseOne()
    {
        server->setCapabilities({"IMAP4rev1", "UIDPLUS", "MOVE"});
        listThree();
        imap->setJunkFolder(QStringLiteral("INBOX"));
        imap->MarkForDelete(0);
        QVERIFY(failure<ESocketError>([this] { imap->ProcessMarks(); }).contains("the folder being cleaned"));
        QCOMPARE(server->uids().size(), 3);
    }

    void aRetrievedBodyIsPeekedAndSaved()
    {
        listThree();
        QByteArray saved;
        imap->OnUserMessageSave = [&saved](int, const QByteArray &contents) { saved = contents; };
        imap->MarkForRetrieve(1);
        imap->ProcessMarks();
        QCOMPARE(saved, server->messages().at(1));
        const QString uid = QString::number(server->uids().at(1));
        QCOMPARE(verbsAfterSignIn(*server), (QStringList{"EXAMINE \"INBOX\"", "UID FETCH " + uid + " (UID RFC822.SIZE)",
                                                         "UID FETCH " + uid + " (UID BODY.PEEK[])", "LOGOUT"}));
        QCOMPARE(events, (QStringList{"Retrieving 1", "Retrieved 1"}));
        QCOMPARE(server->seenSettings(), 0);
    }

    void aRetrievedBodyGoesToItsFileOnlyWhenWhole()
    {
        QTemporaryDir dir;
        imap->setMessageDirectory(dir.path());
        listThree();
        imap->MarkForRetrieve(0);
        imap->ProcessMarks();
        QFile file(dir.filePath("msg_0.eml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), server->messages().at(0));

        imap->ClearMarks(0);
        imap->MarkForRetrieve(2);
        server->closeMidLiteralAt("UID FETCH", 2); // the recheck passes, the body is cut
        QVERIFY_THROWS_EXCEPTION(ESocketError, imap->ProcessMarks());
        QVERIFY(!QFile::exists(dir.filePath("msg_2.eml")));
    }
};

QTEST_GUILESS_MAIN(TestImapClient)
#include "tst_imapclient.moc"
