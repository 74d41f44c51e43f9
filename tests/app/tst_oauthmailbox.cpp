// A stored mailbox that signs in with OAuth 2.0, end to end: "mailsieve
// --sign-in 1" through the test provider (the user's browser played by the
// test), then "--check --delete" against Dovecot, which asks the provider
// about every access token. No password is stored anywhere; the refresh
// token lives in a private desktop keyring.
#include "app/appfixture.h"
#include "app/consolecheck.h"
#include "settings/mailboxpasswords.h"
#include "settings/passwordvault.h"
#include "signin/refreshtokens.h"
#include "support/dovecotserver.h"
#include "support/oauthprovider.h"
#include "support/secretservice.h"
#include "support/testbrowser.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace appfixture;

namespace {

struct Console
{
    int code = -1;
    QStringList out;
    QString err;
};

// Runs the command line in this process, so the provider and the browser
// are served by the event loop the program waits in. browser, when given,
// follows the first address the program prints.
Console runProgram(const QStringList &arguments, TestBrowser *browser = nullptr)
{
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    QTimer follower;
    bool followed = false;
    if (browser) {
        QObject::connect(&follower, &QTimer::timeout, [&] {
            for (const QString &line : outText.split(QLatin1Char('\n'))) {
                if (!followed && line.startsWith(QStringLiteral("http://127.0.0.1:"))) {
                    followed = true;
                    browser->open(QUrl(line.trimmed()));
                }
            }
        });
        follower.start(20);
    }
    Console result;
    result.code = runConsoleCheck(QStringList{QStringLiteral("mailsieve")} + arguments, out, err);
    out.flush();
    err.flush();
    result.out = outText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    result.err = errText;
    return result;
}

} // namespace

class TestOAuthMailbox : public QObject
{
    Q_OBJECT
private slots:
    void signsInChecksAndDeletesWithoutAPassword();
};

void TestOAuthMailbox::signsInChecksAndDeletesWithoutAPassword()
{
    SecretService keyring;
    MS_START_SECRET_SERVICE(keyring);
    TestOAuthProvider provider;
    QVERIFY(provider.listen());
    DovecotServer dovecot;
    provider.userName = dovecot.userName();
    dovecot.setAuthMechanisms({QStringLiteral("oauthbearer"), QStringLiteral("xoauth2")});
    dovecot.setOAuth2Introspection(provider.introspectionUrl());
    dovecot.addMessages(mailbox(10));
    MS_START_DOVECOT(dovecot);

    QTemporaryDir home;
    qputenv("MAILSIEVE_HOME", home.path().toUtf8());
    storeRules(home.path());
    storeSettings([&](GeneralSettings &s) {
        MailboxConfig &box = s.mailboxes[0];
        box.server = dovecot.server();
        box.mailbox = dovecot.userName();
        box.security = MailSecurity::None; // loopback: the token may go without TLS
        box.signIn = SignInMethod::OAuthOther;
        box.oauth = provider.clientConfig();
    });

    TestBrowser browser;
    const Console signIn = runProgram({QStringLiteral("--sign-in"), QStringLiteral("1")}, &browser);
    QVERIFY2(signIn.code == 0, qPrintable(signIn.err + provider.lastRefusal()));
    QCOMPARE(signIn.out.last(),
             QStringLiteral("Signed in to mailbox 1 (%1 at %2)").arg(dovecot.userName(), dovecot.server()));
    QCOMPARE(provider.codeExchanges(), 1);
    QTRY_COMPARE(browser.loopbackStatus(), 200); // read by this process once the program is done
    QVERIFY2(browser.loopbackPage().contains(u"Mailsieve is signed in."), qPrintable(browser.loopbackPage()));

    // The grant is in the keyring; the settings file holds no secret at all.
    QFile conf(home.filePath(QStringLiteral("mailsieve.conf")));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    const QByteArray stored = conf.readAll();
    QVERIFY2(stored.contains("\nPasswd1=\n") && !stored.contains("\nToken1="), stored.constData());
    PasswordVault vault;
    const PasswordVault::Lookup entry = vault.read(refreshTokenEntryName(dovecot.server(), dovecot.userName()));
    QCOMPARE(entry.answer, PasswordVault::Answer::Ok);
    QVERIFY(provider.isLiveRefreshToken(entry.secret));

    // Every session gets a fresh access token, which Dovecot checks with the provider.
    const Console check = runProgram({QStringLiteral("--check"), QStringLiteral("--delete")});
    QVERIFY2(check.code == 0, qPrintable(check.err + dovecot.logText()));
    QCOMPARE(check.out.size(), 10 + 3);
    QCOMPARE(check.out[11], QStringLiteral("There were 3 messages deleted"));
    QCOMPARE(numbersIn(dovecot.storedMessages()), (QList<int>{1, 2, 3, 5, 7, 9, 10}));
    QCOMPARE(provider.refreshRequests(), 3); // the check, the delete pass, the new list
    QVERIFY(provider.introspections() >= 3);

    // A revoked grant: the check neither opens a browser nor reaches the server.
    provider.expireRefreshTokens();
    const int introspections = provider.introspections();
    const Console again = runProgram({QStringLiteral("--check")});
    QCOMPARE(again.code, 1);
    QVERIFY2(again.err.startsWith(
                 QStringLiteral("mailsieve: Sign in again to %1 at %2").arg(dovecot.userName(), dovecot.server())),
             qPrintable(again.err));
    QVERIFY2(again.err.trimmed().endsWith(QStringLiteral(": run mailsieve --sign-in 1")), qPrintable(again.err));
    QCOMPARE(provider.introspections(), introspections);
    QCOMPARE(dovecot.storedMessageCount(), 7);
}

QTEST_MAIN(TestOAuthMailbox)
#include "tst_oauthmailbox.moc"
