// Authentication-Results fields: the grammar with its comments, quoted
// strings and versions, bounds on hostile fields, which instances of a
// header block are believed, and the result for a From domain.

#include "mail/authresults.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

// "id: method=result(reason){ptype.property=value ...}; ..." or "-".
QString render(const std::optional<AuthResults> &parsed)
{
    if (!parsed)
        return QStringLiteral("-");
    QStringList results;
    for (const AuthResult &result : parsed->results) {
        QStringList properties;
        for (const auto &[name, value] : result.properties)
            properties << name + u'=' + value;
        results << result.method + u'=' + result.result
                       + (result.reason.isEmpty() ? QString() : u'(' + result.reason + u')')
                       + (properties.isEmpty() ? QString() : u'{' + properties.join(u' ') + u'}');
    }
    return parsed->authservId + u':' + (results.isEmpty() ? QString() : u' ' + results.join(u"; "));
}

const QString TrustedId = QStringLiteral("mx.example.net");

} // namespace

class TestAuthResults : public QObject
{
    Q_OBJECT

private slots:
    void grammar_data();
    void grammar();
    void hostileFieldIsBounded_data();
    void hostileFieldIsBounded();
    void trust_data();
    void trust();
    void proposal_data();
    void proposal();
    void resultForFromDomain_data();
    void resultForFromDomain();
};

void TestAuthResults::grammar_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QString &value, const QString &expected) {
        QTest::newRow(name) << value << expected;
    };
    row("plain", "mx.example.net; spf=pass smtp.mailfrom=a@b.example",
        "mx.example.net: spf=pass{smtp.mailfrom=a@b.example}");
    row("names fold, values stay", "MX.Example.NET; SPF=Pass SMTP.MailFrom=A@B.example",
        "mx.example.net: spf=pass{smtp.mailfrom=A@B.example}");
    row("comments", "mx (border; 1) ; spf (x) = (y) pass (ok; fine) smtp (a) . (b) mailfrom (c) = (d) a@b.example",
        "mx: spf=pass{smtp.mailfrom=a@b.example}");
    row("nested comment, quoted pair", "mx (a (b \\) c) d); dkim=pass header.d=x.example",
        "mx: dkim=pass{header.d=x.example}");
    row("quoted strings", "\"mx.example.net\"; dkim=pass header.s=\"sel \\\"1\\\"\"",
        "mx.example.net: dkim=pass{header.s=sel \"1\"}");
    row("versions", "mx 1; dkim/1=pass header.d=x.example", "mx: dkim=pass{header.d=x.example}");
    row("none", "mx 1 ; none", "mx:");
    row("several per method", "mx; dkim=pass header.d=a.example; dkim=fail header.d=b.example",
        "mx: dkim=pass{header.d=a.example}; dkim=fail{header.d=b.example}");
    row("reason", "mx; dmarc=fail reason=\"p=reject\" header.from=x.example",
        "mx: dmarc=fail(p=reject){header.from=x.example}");
    row("addresses", "mx; dkim=pass header.i=@x.example; spf=pass smtp.mailfrom=\"j doe\"@x.example",
        "mx: dkim=pass{header.i=@x.example}; spf=pass{smtp.mailfrom=\"j doe\"@x.example}");
    row("bare name, base64", "mx; dmarc=pass action=none header.b=ab/c+d=;compauth=pass reason=100",
        "mx: dmarc=pass{action=none header.b=ab/c+d=}; compauth=pass(100)");
    row("trailing semicolon, folding", "mx;\r\n\tspf=pass;\r\n", "mx: spf=pass");
    row("comment smuggles no result", "mx; dmarc=fail (dmarc=pass)", "mx: dmarc=fail");
    row("comment only", "mx; (dmarc=pass)", "-");
    row("id only", "mx.example.net", "-");
    row("no result", "mx; spf=", "-");
    row("no equals", "mx; spf pass", "-");
    row("property without value", "mx; spf=pass smtp.mailfrom=", "-");
    row("none among results", "mx; spf=pass; none", "-");
    row("comment left open", "mx; spf=pass (open", "-");
    row("quote left open", "mx; spf=pass smtp.mailfrom=\"a", "-");
    row("escape at end", "mx; spf=pass (\\", "-");
}

void TestAuthResults::grammar()
{
    QFETCH(QString, value);
    QTEST(render(parseAuthenticationResults(value)), "expected");
}

void TestAuthResults::hostileFieldIsBounded_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("results"); // -1: does not parse
    QTest::newRow("100,000 semicolons") << "mx" + QString(100000, u';') << -1;
    QTest::newRow("64 results") << "mx" + QString("; spf=pass").repeated(64) << 64;
    QTest::newRow("65 results") << "mx" + QString("; spf=pass").repeated(65) << -1;
    QTest::newRow("32 properties") << "mx; spf=pass" + QString(" a.b=c").repeated(32) << 1;
    QTest::newRow("33 properties") << "mx; spf=pass" + QString(" a.b=c").repeated(33) << -1;
    QTest::newRow("deep nesting") << "mx; spf=pass " + QString(8000, u'(') + QString(8000, u')') << 1;
    QTest::newRow("nesting left open") << "mx; spf=pass " + QString(16000, u'(') << -1;
    QTest::newRow("over 16 KB") << "mx; spf=pass smtp.mailfrom=" + QString(16 * 1024, u'a') << -1;
}

void TestAuthResults::hostileFieldIsBounded()
{
    QFETCH(QString, value);
    QElapsedTimer timer;
    timer.start();
    const std::optional<AuthResults> parsed = parseAuthenticationResults(value);
    QVERIFY(timer.elapsed() < 2000);
    QTEST(parsed ? int(parsed->results.size()) : -1, "results");
}

void TestAuthResults::trust_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QString>("trustedId");
    QTest::addColumn<QString>("trusted");
    QTest::addColumn<QString>("reasons");
    const QString real = "Authentication-Results: mx.example.net; dmarc=fail header.from=a.example\n";
    const QString own = "Received: from relay.example by mx.example.net\n";
    const QString earlier = "Received: from spammer by relay.example\n";
    QTest::newRow("above own hop") << real + own + earlier << TrustedId
                                   << "mx.example.net: dmarc=fail{header.from=a.example}"
                                   << "";
    QTest::newRow("below own hop") << own + real + earlier << TrustedId.toUpper() << ""
                                   << "below the receiving server's Received line";
    QTest::newRow("under the provider's inner hop")
        << "Received: by 2002:a05:6a10:1 with SMTP id x\n" + real + own + earlier << TrustedId
        << "mx.example.net: dmarc=fail{header.from=a.example}"
        << "";
    QTest::newRow("a server that does not name itself")
        << "Received: from relay.example by 192.0.2.1\n" + real + earlier << TrustedId
        << "mx.example.net: dmarc=fail{header.from=a.example}"
        << "";
    QTest::newRow("forged below the real one")
        << real + own + "Authentication-Results: mx.example.net; dmarc=pass header.from=a.example\n" + earlier
        << TrustedId << "mx.example.net: dmarc=fail{header.from=a.example}"
        << "below the receiving server's Received line";
    QTest::newRow("wrong id") << "Authentication-Results: evil.example; dmarc=pass\n" + own << TrustedId << ""
                              << "authserv-id evil.example is not mx.example.net";
    QTest::newRow("look-alike id") << "Authentication-Results: MX.example.net.evil.example; dmarc=pass\n" + own
                                   << TrustedId << ""
                                   << "authserv-id mx.example.net.evil.example is not mx.example.net";
    QTest::newRow("no field") << own + "From: a@a.example" << TrustedId << ""
                              << "";
    QTest::newRow("no trusted server") << real << ""
                                       << ""
                                       << "no trusted server is set";
    QTest::newRow("folded, no Received")
        << "Authentication-Results: mx.example.net;\n\tdkim=pass header.d=a.example;\n dmarc=pass header.from=a.example"
        << TrustedId << "mx.example.net: dkim=pass{header.d=a.example}; dmarc=pass{header.from=a.example}"
        << "";
    QTest::newRow("comment hides a pass") << "Authentication-Results: mx.example.net (dmarc=pass); none\n"
                                          << TrustedId << "mx.example.net:"
                                          << "";
    QTest::newRow("does not parse") << "Authentication-Results: mx.example.net; dmarc=pass (x\n"
                                    << TrustedId << ""
                                    << "does not parse";
    QTest::newRow("look-alike field names")
        << QStringLiteral("X-Received: by x\nReceived-SPF: pass\nARC-Authentication-Results: i=1; mx.example.net; "
                          "dmarc=pass\nAuthentication-Results: mx.example.net; spf=pass\n")
               + own + earlier
        << TrustedId << "mx.example.net: spf=pass"
        << "";
    // Microsoft's form: no authserv-id, above the border hop its own host names.
    const QString idless = "Authentication-Results: spf=pass (sender IP is 192.0.2.9) smtp.mailfrom=a.example; "
                           "dmarc=pass action=none header.from=a.example\n";
    const QString border = "Received: from relay.example by A1.mail.protection.outlook.com\n";
    const QString inner = "Received: from B2.prod.outlook.com by C3.prod.outlook.com\n";
    QTest::newRow("no id above a named border hop")
        << inner + idless + border + earlier << "protection.outlook.com"
        << ": spf=pass{smtp.mailfrom=a.example}; dmarc=pass{action=none header.from=a.example}"
        << "";
    QTest::newRow("no id, hop not named") << idless + own + earlier << "protection.outlook.com"
                                          << ""
                                          << "carries no authserv-id and no Received line names protection.outlook.com";
    QTest::newRow("no id below the border hop") << inner + border + idless + earlier << "protection.outlook.com"
                                                << ""
                                                << "below the receiving server's Received line";
    QTest::newRow("a host that only ends like the name")
        << idless + "Received: from x by evilprotection.outlook.com\n" + earlier << "protection.outlook.com"
        << ""
        << "carries no authserv-id and no Received line names protection.outlook.com";
}

void TestAuthResults::proposal_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("topmost id") << "Received: by 2002::1\nAuthentication-Results: MX.Google.com; dmarc=pass\n"
                                   "Authentication-Results: forged.example; dmarc=pass"
                                << "mx.google.com";
    QTest::newRow("no id: the next hop's domain")
        << "Authentication-Results: spf=pass smtp.mailfrom=a.example\nReceived-SPF: Pass\n"
           "Received: from x (192.0.2.1) by A1.mail.protection.outlook.com (10.0.0.1)"
        << "mail.protection.outlook.com";
    QTest::newRow("none") << "Received: by mx.example.net\nFrom: a@a.example"
                          << "";
    QTest::newRow("topmost does not parse") << "Authentication-Results: mx; dmarc\nAuthentication-Results: b; none"
                                            << "";
}

void TestAuthResults::proposal()
{
    QFETCH(QString, block);
    QTEST(proposedTrustedServer(block.split(u'\n')), "proposed");
}

void TestAuthResults::trust()
{
    QFETCH(QString, block);
    QFETCH(QString, trustedId);
    const TrustedAuthResults found = trustedAuthResults(block.split(u'\n'), trustedId);
    QStringList trusted;
    for (const AuthResults &field : found.trusted)
        trusted << render(field);
    QTEST(trusted.join(u" | "), "trusted");
    QTEST(found.untrustedReasons.join(u" | "), "reasons");
}

void TestAuthResults::resultForFromDomain_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("fromDomain");
    QTest::addColumn<QString>("expected");
    QTest::newRow("spf, first") << "spf"
                                << "a.example"
                                << "softfail";
    QTest::newRow("dmarc of the From domain") << "DMARC"
                                              << "A.EXAMPLE"
                                              << "pass";
    QTest::newRow("dmarc of another domain") << "dmarc"
                                             << "b.example"
                                             << "";
    QTest::newRow("dkim pass wins") << "dkim"
                                    << "news.a.example"
                                    << "pass";
    QTest::newRow("dkim child signer does not count") << "dkim"
                                                      << "a.example"
                                                      << "fail";
    QTest::newRow("dkim parent signer") << "dkim"
                                        << "mail.other.example"
                                        << "pass";
    QTest::newRow("dkim suffix without dot") << "dkim"
                                             << "xother.example"
                                             << "";
    QTest::newRow("method absent") << "arc"
                                   << "a.example"
                                   << "";
}

void TestAuthResults::resultForFromDomain()
{
    QFETCH(QString, method);
    QFETCH(QString, fromDomain);
    const TrustedAuthResults trusted = trustedAuthResults(
        {"Authentication-Results: mx.example.net; spf=softfail smtp.mailfrom=b@bounce.example; dkim=fail "
         "header.d=a.example;",
         " dkim=pass header.i=@news.a.example; dkim=pass header.d=other.example; dmarc=fail header.from=other.example;",
         " dmarc=pass header.from=a.example", "Authentication-Results: mx.example.net; spf=pass"},
        TrustedId);
    QTEST(trustedResult(trusted, method, fromDomain), "expected");
}

QTEST_APPLESS_MAIN(TestAuthResults)
#include "tst_authresults.moc"
