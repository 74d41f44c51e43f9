// Signing in to a POP3 mailbox: the SASL messages, APOP digest and local
// network rule on their own, then the exact wire exchange of every sign-in
// against the scripted server, its refusals and the UTF8 request.

#include "mail/apop.h"
#include "mail/localnetwork.h"
#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "mail/sasl.h"
#include "mail/tlssecurity.h"
#include "support/failuretext.h"
#include "support/scriptedpop3server.h"

#include <QNetworkInterface>
#include <QTest>

namespace {

using AuthMethod = TmsCustomPOP::AuthMethod;

QString base64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

// A client whose server counts as beyond the local network.
class FarAwayPop : public TmsRemotePOP
{
protected:
    bool serverOnLocalNetwork() const override { return false; }
};

} // namespace

class TestSignIn : public QObject
{
    Q_OBJECT

private:
    ScriptedPop3Server *server = nullptr;
    TmsRemotePOP *pop = nullptr;

    void usePop(TmsRemotePOP *client)
    {
        delete pop;
        pop = client;
        server->logIn(*pop);
        pop->setTimeOut(5);
    }

    // What the client sent after CAPA and its reply, up to STAT.
    QStringList signInDialogue() const
    {
        const QStringList dialogue = server->dialogue();
        const qsizetype from = dialogue.indexOf("S: +OK Capability list follows") + 1;
        const qsizetype to = dialogue.indexOf("C: STAT");
        return dialogue.mid(from, (to < 0 ? dialogue.size() : to) - from);
    }

    // The address the texts name the scripted server by.
    QString where() const { return server->address(); }

    void useToken(const QString &token)
    {
        pop->setAuthMethod(AuthMethod::OAuth2);
        pop->accessTokenSource = [token] { return token; };
    }

    void requireDroppedSession()
    {
        QVERIFY(!pop->Connected());
        QVERIFY(!server->commands().contains("STAT"));
        QVERIFY(!server->commands().contains("QUIT"));
    }

private slots:
    void init()
    {
        server = new ScriptedPop3Server(this);
        QVERIFY(server->listen());
        usePop(new TmsRemotePOP);
    }

    void cleanup()
    {
        delete pop;
        pop = nullptr;
        delete server;
    }

    // --- The messages ------------------------------------------------------

    void saslResponsesHoldTheExactBytes()
    {
        const SaslMechanism plain = saslPlain(QStringLiteral("j\u00f6rg"), QStringLiteral("p w"));
        QCOMPARE(plain.name, QStringLiteral("PLAIN"));
        QCOMPARE(plain.response, QByteArray("\0j\xc3\xb6rg\0p w", 10));
        QVERIFY(!plain.errorChallengeAnswer);

        const SaslMechanism bearer = saslOAuthBearer(QStringLiteral("a,b=c@example.com"),
                                                     QStringLiteral("mail.example.com"), 995, QStringLiteral("tok.en"));
        QCOMPARE(bearer.response, QByteArray("n,a=a=2Cb=3Dc@example.com,\x01host=mail.example.com\x01port=995\x01"
                                             "auth=Bearer tok.en\x01\x01"));
        QCOMPARE(bearer.errorChallengeAnswer.value_or("none"), QByteArray("\x01"));

        const SaslMechanism xoauth2 = saslXOAuth2(QStringLiteral("a,b@example.com"), QStringLiteral("tok"));
        QCOMPARE(xoauth2.response, QByteArray("user=a,b@example.com\x01"
                                              "auth=Bearer tok\x01\x01"));
        QCOMPARE(xoauth2.errorChallengeAnswer.value_or("none"), QByteArray());
    }

    void bearerTokensKeepToTheirAlphabet()
    {
        QVERIFY(isBearerToken(QStringLiteral("ya29.a0-_~+/Zz09==")));
        for (const QString &bad : {QString(), QStringLiteral("a b"), QStringLiteral("a\x01"), QStringLiteral("a\r\nb"),
                                   QStringLiteral("=abc"), QStringLiteral("ab=c"), QStringLiteral("abc\n")})
            QVERIFY2(!isBearerToken(bad), qPrintable(bad));
    }

    void errorChallengeStatusIsReadSafely_data()
    {
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<QString>("status");
        QTest::newRow("word") << QByteArray(R"({"status":"invalid_token","scope":"mail"})").toBase64()
                              << "invalid_token";
        QTest::newRow("number") << QByteArray(R"({"status":401})").toBase64() << "401";
        QTest::newRow("control characters")
            << QByteArray("{\"status\":\"bad\\u001b[2Jtoken\"}").toBase64() << "bad [2Jtoken";
        QTest::newRow("no status") << QByteArray(R"({"scope":"mail"})").toBase64() << "";
        QTest::newRow("not json") << QByteArray("status=400").toBase64() << "";
        QTest::newRow("not base64") << QByteArray("!!{}") << "";
        QTest::newRow("array") << QByteArray(R"(["status"])").toBase64() << "";
    }

    void errorChallengeStatusIsReadSafely()
    {
        QFETCH(QByteArray, challenge);
        QFETCH(QString, status);
        QCOMPARE(oauthErrorStatus(challenge), status);
    }

    void apopDigestFollowsRfc1939()
    {
        const QString timestamp =
            apopTimestamp(QStringLiteral("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"));
        QCOMPARE(timestamp, QStringLiteral("<1896.697170952@dbc.mtview.ca.us>"));
        QCOMPARE(apopDigest(timestamp, QStringLiteral("tanstaaf")), QByteArray("c4c9334bac560ecc979e58001b3e22fb"));
        QCOMPARE(apopTimestamp(QStringLiteral("+OK ready")), QString());
        QCOMPARE(apopTimestamp(QStringLiteral("+OK <> ready")), QString());
        QCOMPARE(apopTimestamp(QStringLiteral("+OK <a b@c> ready")), QString());
        QCOMPARE(apopTimestamp(QStringLiteral("+OK <1.2@h\u00e9> ready")), QString());
    }

    void localNetworkCoversLoopbackAndPrivateRanges_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("local");
        const std::pair<const char *, bool> cases[] = {
            {"127.0.0.1", true},
            {"127.200.1.1", true},
            {"10.1.2.3", true},
            {"172.16.0.1", true},
            {"172.31.255.255", true},
            {"172.32.0.1", false},
            {"172.15.255.255", false},
            {"192.168.1.20", true},
            {"192.169.0.1", false},
            {"169.254.10.10", true},
            {"8.8.8.8", false},
            {"100.64.0.1", true},
            {"100.127.255.255", true},
            {"100.63.255.255", false},
            {"100.128.0.1", false},
            {"::ffff:100.100.1.2", true},
            {"::1", true},
            {"fe80::1", true},
            {"fd12:3456::1", true},
            {"fc00::1", true},
            {"2001:db8::1", false},
            {"::ffff:10.0.0.1", true},
            {"::ffff:8.8.8.8", false},
        };
        for (const auto &[address, local] : cases)
            QTest::newRow(address) << QString::fromLatin1(address) << local;
        // An address of this computer's own interfaces besides loopback.
        for (const QHostAddress &own : QNetworkInterface::allAddresses()) {
            if (!own.isLoopback() && !own.isLinkLocal()) {
                QTest::newRow("this computer") << own.toString() << true;
                break;
            }
        }
    }

    void localNetworkCoversLoopbackAndPrivateRanges()
    {
        QFETCH(QString, address);
        QFETCH(bool, local);
        QCOMPARE(isOnLocalNetwork(QHostAddress(address)), local);
    }

    // --- Exchanges that sign in --------------------------------------------

    void saslPlainSendsItsResponseOnTheAuthLine()
    {
        server->setCapabilities({"TOP", "SASL PLAIN LOGIN"});
        pop->setAuthMethod(AuthMethod::SaslPlain);
        pop->UpdateInfo();
        QCOMPARE(pop->saslMechanisms(), (QStringList{"PLAIN", "LOGIN"}));
        QCOMPARE(signInDialogue(),
                 (QStringList{"C: AUTH PLAIN " + base64(QByteArray("\0user\0secret", 12)), "S: +OK logged in"}));
        QCOMPARE(server->committedSessions(), 1);
    }

    void longTokenFollowsTheEmptyChallenge()
    {
        // Real access tokens run to a kilobyte or two: far beyond one command line.
        const QString token = QString(2000, QLatin1Char('t'));
        server->setCapabilities({"TOP", "SASL PLAIN XOAUTH2"});
        server->setAccessToken(token);
        useToken(token);
        pop->UpdateInfo();
        QCOMPARE(signInDialogue(), (QStringList{"C: AUTH XOAUTH2", "S: + ",
                                                "C: "
                                                    + base64("user=user\x01"
                                                             "auth=Bearer "
                                                             + token.toLatin1() + "\x01\x01"),
                                                "S: +OK logged in"}));
    }

    void authLineWithResponseStaysWithin255Octets_data()
    {
        QTest::addColumn<QString>("mechanism");
        QTest::addColumn<int>("secretLength");
        QTest::addColumn<bool>("onTheAuthLine");
        // Base64 comes in fours: "AUTH XOAUTH2 " and 240 characters make 253
        // octets and CR LF 255; "AUTH PLAIN " and 244 make 255 and CR LF 257.
        QTest::newRow("XOAUTH2 just fits") << "XOAUTH2" << 156 << true;
        QTest::newRow("XOAUTH2 too long") << "XOAUTH2" << 157 << false;
        QTest::newRow("PLAIN fits") << "PLAIN" << 174 << true;
        QTest::newRow("PLAIN too long with its line end") << "PLAIN" << 175 << false;
    }

    void authLineWithResponseStaysWithin255Octets()
    {
        QFETCH(QString, mechanism);
        QFETCH(int, secretLength);
        QFETCH(bool, onTheAuthLine);
        const QString secret(secretLength, QLatin1Char('t'));
        server->setCapabilities({"SASL PLAIN XOAUTH2"});
        server->setAccessToken(secret);
        server->setCredentials("user", secret);
        server->logIn(*pop);
        QByteArray response;
        if (mechanism == "PLAIN") {
            pop->setAuthMethod(AuthMethod::SaslPlain);
            response = QByteArray("\0user\0", 6) + secret.toLatin1();
        } else {
            useToken(secret);
            response = "user=user\x01"
                       "auth=Bearer "
                       + secret.toLatin1() + "\x01\x01";
        }
        pop->UpdateInfo();
        const QString auth = "AUTH " + mechanism;
        const QStringList exchange =
            onTheAuthLine ? QStringList{"C: " + auth + " " + base64(response), "S: +OK logged in"}
                          : QStringList{"C: " + auth, "S: + ", "C: " + base64(response), "S: +OK logged in"};
        QCOMPARE(signInDialogue(), exchange);
    }

    void oauthBearerIsPreferredWhenListed()
    {
        server->setCapabilities({"SASL XOAUTH2 OAUTHBEARER"});
        server->setAccessToken("abc");
        useToken("abc");
        pop->UpdateInfo();
        const QByteArray response = "n,a=user,\x01host=127.0.0.1\x01port=" + QByteArray::number(server->port())
                                    + "\x01"
                                      "auth=Bearer abc\x01\x01";
        QCOMPARE(signInDialogue(), (QStringList{"C: AUTH OAUTHBEARER " + base64(response), "S: +OK logged in"}));
    }

    void withoutCapaSaslIsTriedAnyway_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("mechanism");
        QTest::newRow("PLAIN") << int(AuthMethod::SaslPlain) << "AUTH PLAIN ";
        QTest::newRow("token") << int(AuthMethod::OAuth2) << "AUTH XOAUTH2 ";
    }

    void withoutCapaSaslIsTriedAnyway()
    {
        QFETCH(int, method);
        QFETCH(QString, mechanism);
        server->setCapaKnown(false);
        server->setAccessToken("abc");
        useToken("abc");
        pop->setAuthMethod(AuthMethod(method));
        pop->UpdateInfo();
        QCOMPARE(server->commands().value(1).left(mechanism.size()), mechanism);
        QCOMPARE(server->committedSessions(), 1);
    }

    void apopProvesThePasswordWithADigest()
    {
        server->setGreeting("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>");
        server->setCredentials("mrose", "tanstaaf");
        server->logIn(*pop);
        pop->setAuthMethod(AuthMethod::Apop);
        pop->UpdateInfo();
        QCOMPARE(signInDialogue(), (QStringList{"C: APOP mrose c4c9334bac560ecc979e58001b3e22fb", "S: +OK logged in"}));
    }

    void utf8IsAskedForBeforeTheSignIn_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QByteArray>("refusal");
        QTest::addColumn<QStringList>("exchange");
        const QStringList signIn = {"C: USER user", "S: +OK send your password", "C: PASS secret", "S: +OK logged in"};
        QTest::newRow("offered") << QStringList{"TOP", "UTF8 USER"} << QByteArray()
                                 << QStringList{"C: UTF8", "S: +OK UTF8 enabled"} + signIn;
        QTest::newRow("refused") << QStringList{"UTF8"} << QByteArray("-ERR not now")
                                 << QStringList{"C: UTF8", "S: -ERR not now"} + signIn;
        QTest::newRow("not offered") << QStringList{"TOP"} << QByteArray() << signIn;
    }

    void utf8IsAskedForBeforeTheSignIn()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QByteArray, refusal);
        QFETCH(QStringList, exchange);
        server->setCapabilities(capabilities);
        if (!refusal.isEmpty())
            server->failAt("UTF8", refusal);
        pop->UpdateInfo();
        QCOMPARE(signInDialogue(), exchange);
        QCOMPARE(server->committedSessions(), 1);
    }

    // --- Refusals ----------------------------------------------------------

    void refusedSignInNamesUserServerAndReply_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("refusedCommand");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        const QString password = QStringLiteral("The server refused the password for user at %1: ");
        QTest::newRow("USER") << int(AuthMethod::UserPass) << "USER" << QByteArray("-ERR [AUTH] Invalid login")
                              << password + "-ERR [AUTH] Invalid login";
        QTest::newRow("PASS") << int(AuthMethod::UserPass) << "PASS" << QByteArray("-ERR [AUTH] Invalid login")
                              << password + "-ERR [AUTH] Invalid login";
        QTest::newRow("PLAIN") << int(AuthMethod::SaslPlain) << "AUTH" << QByteArray("-ERR [AUTH] Invalid login")
                               << password + "-ERR [AUTH] Invalid login";
        QTest::newRow("not a status line")
            << int(AuthMethod::UserPass) << "PASS" << QByteArray("what?") << password + "what?";
        QTest::newRow("control characters and length")
            << int(AuthMethod::UserPass) << "PASS"
            << "-ERR \x1b]0;owned\x07" + QByteArray(300, 'x')
            << password + "-ERR  ]0;owned " + QString(185, QLatin1Char('x')) + "...";
    }

    void refusedSignInNamesUserServerAndReply()
    {
        QFETCH(int, method);
        QFETCH(QString, refusedCommand);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        server->setCapabilities({"SASL PLAIN"});
        pop->setAuthMethod(AuthMethod(method));
        server->failAt(refusedCommand, reply);
        // Still an EServerError for callers that know only that.
        QCOMPARE(failure<EServerError>([this] { pop->UpdateInfo(); }), message.arg(where()));
        server->failAt(refusedCommand, reply);
        QCOMPARE(failure<ELoginRefusedError>([this] { pop->UpdateInfo(); }), message.arg(where()));
        requireDroppedSession();
    }

    void refusedApopSignIn()
    {
        server->setGreeting("+OK ready <7.1@example.org>");
        server->setCredentials("user", "other");
        pop->setAuthMethod(AuthMethod::Apop);
        QCOMPARE(failure<ELoginRefusedError>([this] { pop->UpdateInfo(); }),
                 "The server refused the password for user at " + where() + ": -ERR [AUTH] authentication failed");
        requireDroppedSession();
    }

    void greetingWithoutTimestampSendsNoApop()
    {
        pop->setAuthMethod(AuthMethod::Apop);
        QCOMPARE(
            failure<ESocketError>([this] { pop->UpdateInfo(); }),
            "The server at " + where()
                + " does not offer APOP: its greeting carries no timestamp. Choose another sign-in for this mailbox.");
        QCOMPARE(server->commands(), QStringList{"CAPA"});
    }

    void refusedTokenIsAnsweredThenReported_data()
    {
        QTest::addColumn<QString>("capability");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("status");
        QTest::newRow("OAUTHBEARER") << "SASL OAUTHBEARER"
                                     << "AQ=="
                                     << "invalid_token";
        QTest::newRow("XOAUTH2") << "SASL XOAUTH2"
                                 << ""
                                 << "401";
    }

    void refusedTokenIsAnsweredThenReported()
    {
        QFETCH(QString, capability);
        QFETCH(QString, answer);
        QFETCH(QString, status);
        server->setCapabilities({capability});
        server->setAccessToken("current");
        useToken("expired");
        QCOMPARE(failure<ELoginRefusedError>([this] { pop->UpdateInfo(); }),
                 "The server refused the access token for user at " + where()
                     + ": -ERR [AUTH] Authentication failed (status: " + status + ")");
        const QStringList tail = server->dialogue().mid(server->dialogue().size() - 3);
        QCOMPARE(tail.mid(1), (QStringList{"C: " + answer, "S: -ERR [AUTH] Authentication failed"}));
        QVERIFY(tail.first().startsWith("S: + "));
        requireDroppedSession();
    }

    void unexpectedChallengeIsCancelled_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("challenge");
        QTest::newRow("after PLAIN") << int(AuthMethod::SaslPlain) << ""
                                     << "AUTH" << QByteArray("+ Zm9v");
        QTest::newRow("instead of the empty one")
            << int(AuthMethod::OAuth2) << QString(300, QLatin1Char('t')) << "AUTH" << QByteArray("+ Zm9v");
        QTest::newRow("a second error challenge") << int(AuthMethod::OAuth2) << "abc"
                                                  << "AQ==" << QByteArray("+ Zm9v");
    }

    void unexpectedChallengeIsCancelled()
    {
        QFETCH(int, method);
        QFETCH(QString, token);
        QFETCH(QString, command);
        QFETCH(QByteArray, challenge);
        server->setCapabilities({"SASL PLAIN OAUTHBEARER"});
        useToken(token);
        pop->setAuthMethod(AuthMethod(method));
        server->failAt(command, challenge);
        const QString mechanism = method == int(AuthMethod::SaslPlain) ? "PLAIN" : "OAUTHBEARER";
        QCOMPARE(failure<EProtocolError>([this] { pop->UpdateInfo(); }),
                 "The server's reply to AUTH " + mechanism + " is not valid: \"" + challenge + "\"");
        QCOMPARE(server->commands().last(), QStringLiteral("*"));
        requireDroppedSession();
    }

    void unofferedMechanismFailsBeforeAnythingIsSent_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("missing");
        QTest::newRow("PLAIN") << int(AuthMethod::SaslPlain) << "SASL PLAIN";
        QTest::newRow("token") << int(AuthMethod::OAuth2) << "OAuth 2.0 sign-in (SASL OAUTHBEARER or XOAUTH2)";
    }

    void unofferedMechanismFailsBeforeAnythingIsSent()
    {
        QFETCH(int, method);
        QFETCH(QString, missing);
        server->setCapabilities({"TOP", "SASL LOGIN CRAM-MD5"});
        useToken("abc");
        pop->setAuthMethod(AuthMethod(method));
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }),
                 "The server at " + where() + " does not offer " + missing
                     + ". Choose another sign-in for this mailbox.");
        QCOMPARE(server->commands(), QStringList{"CAPA"});
    }

    // --- Secrets in plain text ---------------------------------------------

    void plainTextSecretsStayOnTheLocalNetwork_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QString>("wayOut");
        const QString allow = " If the server offers no encryption at all, tick \"Send my password without "
                              "encryption\" for this mailbox in the General settings. If the server's greeting "
                              "offers APOP, the sign-in \"APOP\" avoids sending the password.";
        QTest::newRow("USER/PASS") << int(AuthMethod::UserPass) << false << "password" << allow;
        QTest::newRow("PLAIN") << int(AuthMethod::SaslPlain) << false << "password" << allow;
        QTest::newRow("token") << int(AuthMethod::OAuth2) << false << "access token"
                               << "";
        QTest::newRow("token, password allowed") << int(AuthMethod::OAuth2) << true << "access token"
                                                 << "";
    }

    // Decided on the resolved address before connecting: the server never
    // hears from the client.
    void plainTextSecretsStayOnTheLocalNetwork()
    {
        QFETCH(int, method);
        QFETCH(bool, allowed);
        QFETCH(QString, secret);
        QFETCH(QString, wayOut);
        usePop(new FarAwayPop);
        useToken("abc");
        pop->setAuthMethod(AuthMethod(method));
        pop->setPlainTextAllowed(allowed);
        QCOMPARE(failure<ETlsError>([this] { pop->UpdateInfo(); }),
                 "The " + secret + " for user at " + where()
                     + " would go out in plain text: the server is not on this computer or the local network. "
                       "Choose SSL/TLS or STARTTLS for this mailbox."
                     + wayOut);
        QCOMPARE(server->connectionCount(), 0);
        QVERIFY(!pop->Connected());
    }

    void passwordGoesInPlainTextOnlyWhereTheUserAllowedIt_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("USER/PASS") << int(AuthMethod::UserPass);
        QTest::newRow("PLAIN") << int(AuthMethod::SaslPlain);
    }

    void passwordGoesInPlainTextOnlyWhereTheUserAllowedIt()
    {
        QFETCH(int, method);
        usePop(new FarAwayPop);
        server->setCapabilities({"SASL PLAIN"});
        pop->setAuthMethod(AuthMethod(method));
        pop->setPlainTextAllowed(true);
        pop->UpdateInfo();
        QCOMPARE(server->committedSessions(), 1);
    }

    void keyringTextStandsInForTheMissingPassword()
    {
        pop->setPassword(QString());
        pop->setMissingPasswordText(QStringLiteral("Mailbox 2 (user at pop.example.org): its password is kept in "
                                                   "the desktop keyring, which this session cannot reach."));
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }),
                 QStringLiteral("Mailbox 2 (user at pop.example.org): its password is kept in the desktop keyring, "
                                "which this session cannot reach."));
        QCOMPARE(server->connectionCount(), 0);
    }

    void apopMayCrossAnyNetwork()
    {
        usePop(new FarAwayPop);
        server->setGreeting("+OK ready <7.1@example.org>");
        pop->setAuthMethod(AuthMethod::Apop);
        pop->UpdateInfo();
        QCOMPARE(server->committedSessions(), 1);
    }

    // --- The access token --------------------------------------------------

    void tokenIsFetchedBeforeConnecting()
    {
        server->setCapabilities({"SASL XOAUTH2"});
        server->setAccessToken("abc");
        QList<int> connectionsWhenAsked;
        pop->setAuthMethod(AuthMethod::OAuth2);
        pop->accessTokenSource = [this, &connectionsWhenAsked] {
            connectionsWhenAsked << server->connectionCount();
            return QStringLiteral("abc");
        };
        pop->UpdateInfo();
        pop->UpdateInfo();
        // A fresh token for each session, before it connects.
        QCOMPARE(connectionsWhenAsked, (QList<int>{0, 1}));
        QCOMPARE(server->committedSessions(), 2);
    }

    void lostGrantPassesThroughWithoutAConnection()
    {
        pop->setAuthMethod(AuthMethod::OAuth2);
        pop->accessTokenSource = []() -> QString { throw ESignInNeededError("Mailbox 2", "the grant was revoked"); };
        QCOMPARE(failure<ESignInNeededError>([this] { pop->UpdateInfo(); }),
                 QStringLiteral("Sign in again to Mailbox 2 (the grant was revoked)"));
        QCOMPARE(server->connectionCount(), 0);
        QVERIFY(!pop->Connected());
    }

    void unusableTokenIsNotSent_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "No access token for user at %1. Sign in to this mailbox again.";
        QTest::newRow("separator") << "abc\x01user=x"
                                   << "The access token for user at %1 is not valid. Sign in to this mailbox again.";
        QTest::newRow("line break") << "abc\r\nQUIT"
                                    << "The access token for user at %1 is not valid. Sign in to this mailbox again.";
    }

    void unusableTokenIsNotSent()
    {
        QFETCH(QString, token);
        QFETCH(QString, message);
        useToken(token);
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }), message.arg(where()));
        QCOMPARE(server->connectionCount(), 0);
    }

    void tokenSignInNeedsASourceNotAPassword()
    {
        pop->setPassword(QString());
        pop->setAuthMethod(AuthMethod::OAuth2);
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }),
                 QStringLiteral("AccessTokenSource property is required"));
        pop->setUserName(QStringLiteral("us\x01"
                                        "er"));
        useToken("abc");
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }),
                 QStringLiteral("The user name must not contain control characters"));
        pop->setAuthMethod(AuthMethod::SaslPlain);
        QCOMPARE(failure<ESocketError>([this] { pop->UpdateInfo(); }), QStringLiteral("Password property is required"));
        QCOMPARE(server->connectionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSignIn)
#include "tst_signin.moc"
