// Signing in to a real server: a private Dovecot that takes SASL PLAIN, APOP,
// XOAUTH2 and OAUTHBEARER, the last two checked by token introspection. Every
// sign-in must carry a whole check: the listing, then a delete pass in a
// session of its own. A refused secret must end the login at once with a text
// that names the user and the server.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "settings/generalsettings.h"
#include "settings/settingsstore.h"
#include "signin/accesstokens.h"
#include "signin/oauthsignin.h"
#include "support/dovecotserver.h"
#include "support/failuretext.h"
#include "support/messagebuilder.h"
#include "support/oauthprovider.h"
#include "support/testbrowser.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using AuthMethod = TmsCustomPOP::AuthMethod;
Q_DECLARE_METATYPE(AuthMethod)

namespace {

// A mailbox that signs in with "OAuth 2.0 (other)" at the test provider, the
// way the program does: the interactive sign-in once, with the test browser
// in the user's place, keeps a refresh token, and each session trades it for
// a fresh access token.
class OAuthMailbox
{
public:
    OAuthMailbox(const TestOAuthProvider &provider, const DovecotServer &server)
        : m_store(m_dir.filePath(QStringLiteral("mailsieve.conf"))),
          m_login(provider.login(1, server.server(), server.userName()))
    {
        m_login.security = MailSecurity::None;
    }

    SignInResult signIn()
    {
        OAuthSignIn signIn(m_store);
        signIn.openBrowser = m_browser.opener();
        return signIn.run(m_login, 10000);
    }
    QString freshAccessToken() { return AccessTokens(m_store).fresh(m_login); }
    // Sets the client up the way a check does, with this mailbox as the
    // source of its tokens.
    void connect(TmsRemotePOP &pop)
    {
        applyMailboxLogin(m_login, pop);
        pop.setTimeOut(10);
        pop.accessTokenSource = [this] { return freshAccessToken(); };
    }

private:
    QTemporaryDir m_dir;
    SettingsStore m_store;
    TestBrowser m_browser;
    MailboxLogin m_login;
};

const QStringList allMechanisms{QStringLiteral("plain"), QStringLiteral("apop"), QStringLiteral("xoauth2"),
                                QStringLiteral("oauthbearer")};

// Three messages: one to delete, two to stay.
QList<QByteArray> mailbox()
{
    QList<QByteArray> raws;
    for (const GeneratedMessage &message : MessageBuilder(15).messages(3))
        raws << message.raw;
    return raws;
}

// Server, user name and password of the fixture, signing in with method.
void signInWith(TmsRemotePOP &pop, const DovecotServer &server, AuthMethod method)
{
    server.logIn(pop);
    pop.setAuthMethod(method);
    pop.setTimeOut(10);
}

// A whole check through the sign-in: list every message, then delete the
// first in a session of its own; the server must hold exactly the others.
void listAndDeleteFirst(TmsRemotePOP &pop, DovecotServer &server)
{
    const QList<QByteArray> before = server.storedMessages();
    pop.UpdateInfo();
    QCOMPARE(pop.Info().Count(), before.size());
    for (int i = 0; i < before.size(); ++i)
        QCOMPARE(pop.Info().Items(i).Size, before.at(i).size());

    pop.MarkForDelete(0);
    pop.ProcessMarks();
    QVERIFY(pop.committed());
    QVERIFY(pop.Info().Items(0).Deleted);
    QCOMPARE(server.storedMessages(), before.mid(1));
}

// The SASL mechanism (or APOP) of each login the server took, from its log.
QStringList loginMethods(const DovecotServer &server)
{
    QStringList methods;
    for (const QString &line : server.logText().split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String(": Login: ")))
            continue;
        const qsizetype at = line.indexOf(QLatin1String("method="));
        if (at >= 0)
            methods << line.mid(at + 7).section(QLatin1Char(','), 0, 0);
    }
    return methods;
}

} // namespace

class TestDovecotSignIn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No desktop keyring: the refresh tokens stay in each test's own
        // settings file, and the developer's keyring is never touched.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    void init()
    {
        m_provider = std::make_unique<TestOAuthProvider>();
        m_provider->userName = QStringLiteral("tester");
        QVERIFY(m_provider->listen());
    }

    void cleanup() { m_provider.reset(); }

    void greetingCarriesApopTimestampOnlyWhenApopIsOffered()
    {
        DovecotServer plainOnly;
        MS_START_DOVECOT(plainOnly);
        QVERIFY(plainOnly.greeting().startsWith("+OK "));
        QVERIFY(!plainOnly.greeting().contains('<'));

        DovecotServer withApop;
        withApop.setAuthMechanisms({QStringLiteral("plain"), QStringLiteral("apop")});
        MS_START_DOVECOT(withApop);
        QVERIFY(QRegularExpression(QStringLiteral("^\\+OK .*<[^<>]+@[^<>]+>$"))
                    .match(QString::fromLatin1(withApop.greeting()))
                    .hasMatch());
    }

    void passwordSignInChecksAndDeletes_data()
    {
        QTest::addColumn<AuthMethod>("method");
        QTest::addColumn<QStringList>("mechanisms");
        QTest::addColumn<bool>("tokensToo");
        QTest::addColumn<QString>("loggedMethod");
        QTest::newRow("SASL PLAIN") << AuthMethod::SaslPlain << QStringList{QStringLiteral("plain")} << false
                                    << QStringLiteral("PLAIN");
        QTest::newRow("APOP") << AuthMethod::Apop << QStringList{QStringLiteral("plain"), QStringLiteral("apop")}
                              << false << QStringLiteral("APOP");
        QTest::newRow("SASL PLAIN beside tokens")
            << AuthMethod::SaslPlain << allMechanisms << true << QStringLiteral("PLAIN");
        QTest::newRow("APOP beside tokens") << AuthMethod::Apop << allMechanisms << true << QStringLiteral("APOP");
    }

    void passwordSignInChecksAndDeletes()
    {
        QFETCH(AuthMethod, method);
        QFETCH(QStringList, mechanisms);
        QFETCH(bool, tokensToo);
        QFETCH(QString, loggedMethod);
        DovecotServer server;
        prepare(server, mechanisms, tokensToo);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        signInWith(pop, server, method);
        listAndDeleteFirst(pop, server);
        if (QTest::currentTestFailed())
            return;
        // The server logs each login a moment after it answered.
        QTRY_COMPARE_WITH_TIMEOUT(loginMethods(server), (QStringList{loggedMethod, loggedMethod}), 5000);
        // A password is never shown to the provider.
        QCOMPARE(m_provider->introspections(), 0);
    }

    void wrongPasswordIsRefusedByName_data()
    {
        QTest::addColumn<AuthMethod>("method");
        QTest::newRow("SASL PLAIN") << AuthMethod::SaslPlain;
        QTest::newRow("APOP") << AuthMethod::Apop;
    }

    void wrongPasswordIsRefusedByName()
    {
        QFETCH(AuthMethod, method);
        DovecotServer server;
        prepare(server, allMechanisms, true);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        signInWith(pop, server, method);
        pop.setPassword(QStringLiteral("not the password"));
        const QString text = failure<ELoginRefusedError>([&] { pop.UpdateInfo(); });
        QVERIFY2(text.startsWith(
                     QStringLiteral("The server refused the password for tester at %1: -ERR ").arg(server.server())),
                 qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("[AUTH]")), qPrintable(text));
        QVERIFY(!text.contains(QLatin1String("not the password")));
        QVERIFY(!pop.Connected());
        QCOMPARE(pop.Info().Count(), 0);
        QCOMPARE(loginMethods(server), QStringList());
        QCOMPARE(m_provider->introspections(), 0);
        QCOMPARE(server.storedMessageCount(), 3);
    }

    void tokenFromSignInChecksAndDeletes_data() { tokenMechanismRows(); }

    void tokenFromSignInChecksAndDeletes()
    {
        QFETCH(QStringList, mechanisms);
        QFETCH(QString, loggedMethod);
        DovecotServer server;
        prepare(server, mechanisms, true);
        MS_START_DOVECOT(server);
        OAuthMailbox mailbox(*m_provider, server);
        const SignInResult signIn = mailbox.signIn();
        QVERIFY2(signIn.ok, qPrintable(signIn.error + QStringLiteral(" / provider: ") + m_provider->lastRefusal()));

        TmsRemotePOP pop;
        mailbox.connect(pop);
        listAndDeleteFirst(pop, server);
        if (QTest::currentTestFailed())
            return;
        // The server logs each login a moment after it answered.
        QTRY_COMPARE_WITH_TIMEOUT(loginMethods(server), (QStringList{loggedMethod, loggedMethod}), 5000);
        // A fresh token for each session, and the server had each one checked.
        QCOMPARE(m_provider->refreshRequests(), 2);
        QCOMPARE(m_provider->introspections(), 2);
    }

    void refusedTokenEndsTheLoginAtOnce_data() { tokenMechanismRows(); }

    // The server answers a refused token with an error challenge, which the
    // client must answer before the "-ERR" comes; a client that waited for
    // the "-ERR" instead would only end at its time-out.
    void refusedTokenEndsTheLoginAtOnce()
    {
        QFETCH(QStringList, mechanisms);
        DovecotServer server;
        prepare(server, mechanisms, true);
        MS_START_DOVECOT(server);
        OAuthMailbox mailbox(*m_provider, server);
        QVERIFY(mailbox.signIn().ok);
        const QString token = mailbox.freshAccessToken();
        m_provider->expireAccessTokens();

        TmsRemotePOP pop;
        mailbox.connect(pop);
        pop.accessTokenSource = [token] { return token; };
        QElapsedTimer clock;
        clock.start();
        const QString text = failure<ELoginRefusedError>([&] { pop.UpdateInfo(); });
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(
            text.startsWith(
                QStringLiteral("The server refused the access token for tester at %1: -ERR ").arg(server.server())),
            qPrintable(text));
        QVERIFY(!text.contains(token));
        QVERIFY(!pop.Connected());
        QCOMPARE(m_provider->introspections(), 1);
        QCOMPARE(loginMethods(server), QStringList());
        QCOMPARE(server.storedMessageCount(), 3);
    }

    void revokedGrantAsksForSignIn()
    {
        DovecotServer server;
        prepare(server, allMechanisms, true);
        MS_START_DOVECOT(server);
        OAuthMailbox mailbox(*m_provider, server);
        QVERIFY(mailbox.signIn().ok);
        m_provider->expireRefreshTokens();

        TmsRemotePOP pop;
        mailbox.connect(pop);
        const QString text = failure<ESignInNeededError>([&] { pop.UpdateInfo(); });
        QVERIFY2(text.startsWith(QStringLiteral("Sign in again to tester at %1").arg(server.server())),
                 qPrintable(text));
        QVERIFY(!pop.Connected());
        QCOMPARE(m_provider->introspections(), 0);
        QCOMPARE(server.storedMessageCount(), 3);
    }

    // Each secret goes to its own database: a live token typed as the
    // password neither opens the mailbox nor reaches the provider.
    void liveTokenIsNoPassword()
    {
        DovecotServer server;
        prepare(server, allMechanisms, true);
        MS_START_DOVECOT(server);
        OAuthMailbox mailbox(*m_provider, server);
        QVERIFY(mailbox.signIn().ok);
        const QString token = mailbox.freshAccessToken();
        QVERIFY(m_provider->isLiveAccessToken(token));

        TmsRemotePOP pop;
        signInWith(pop, server, AuthMethod::SaslPlain);
        pop.setPassword(token);
        QVERIFY(failure<ELoginRefusedError>([&] {
                    pop.UpdateInfo();
                }).startsWith(QLatin1String("The server refused the password")));
        QCOMPARE(m_provider->introspections(), 0);
        QCOMPARE(loginMethods(server), QStringList());
    }

    void missingMechanismIsRefusedBeforeAnySecret_data()
    {
        QTest::addColumn<AuthMethod>("method");
        QTest::addColumn<QStringList>("mechanisms");
        QTest::newRow("APOP, greeting without timestamp") << AuthMethod::Apop << QStringList{QStringLiteral("plain")};
        QTest::newRow("OAuth 2.0, no token mechanism") << AuthMethod::OAuth2 << QStringList{QStringLiteral("plain")};
        QTest::newRow("SASL PLAIN, APOP only") << AuthMethod::SaslPlain << QStringList{QStringLiteral("apop")};
    }

    void missingMechanismIsRefusedBeforeAnySecret()
    {
        QFETCH(AuthMethod, method);
        QFETCH(QStringList, mechanisms);
        DovecotServer server;
        prepare(server, mechanisms, false);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        signInWith(pop, server, method);
        pop.accessTokenSource = [] { return QStringLiteral("never-sent"); };
        QString text;
        try {
            pop.UpdateInfo();
            QFAIL("the login went through");
        } catch (const EMailsieveError &error) {
            text = error.message();
        }
        QVERIFY2(text.contains(server.server()), qPrintable(text));
        QVERIFY(!pop.Connected());
        QCOMPARE(server.storedMessageCount(), 3);
        // No secret went out, in no form: the server saw no attempt at all.
        QTRY_VERIFY_WITH_TIMEOUT(server.logText().contains(QLatin1String("no auth attempts")), 5000);
        QVERIFY2(!server.logText().contains(QLatin1String("auth failed")), qPrintable(server.logText()));
    }

private:
    // The mailbox of three messages; with tokens, XOAUTH2 and OAUTHBEARER
    // are checked at the test provider.
    void prepare(DovecotServer &server, const QStringList &mechanisms, bool tokens) const
    {
        server.addMessages(mailbox());
        server.setAuthMechanisms(mechanisms);
        if (tokens)
            server.setOAuth2Introspection(m_provider->introspectionUrl());
    }

    static void tokenMechanismRows()
    {
        QTest::addColumn<QStringList>("mechanisms");
        QTest::addColumn<QString>("loggedMethod");
        QTest::newRow("OAUTHBEARER when offered") << allMechanisms << QStringLiteral("OAUTHBEARER");
        QTest::newRow("XOAUTH2 without OAUTHBEARER")
            << QStringList{QStringLiteral("plain"), QStringLiteral("xoauth2")} << QStringLiteral("XOAUTH2");
    }

    std::unique_ptr<TestOAuthProvider> m_provider;
};

QTEST_GUILESS_MAIN(TestDovecotSignIn)
#include "tst_dovecot_signin.moc"
