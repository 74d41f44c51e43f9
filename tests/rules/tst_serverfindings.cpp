// What the receiving server wrote, through the marking decision: only the
// fields the trusted server wrote above its own Received line change a
// mark; every forged, misplaced or look-alike field leaves it as it was.

#include "rules/explanation.h"
#include "rules/ruletexts.h"
#include "support/markingrows.h"

#include <QTest>

namespace {

const QString Trusted = QStringLiteral("mx.example.net");
const QString Own = QStringLiteral("Received: from relay.example by mx.example.net; Mon, 7 Dec 2026 10:00:00 +0000");
const QString Earlier = QStringLiteral("Received: from spammer by relay.example");
const QString Bank = QStringLiteral("alerts@mybank.example");

QString authResults(const QString &id, const QString &dmarc, const QString &domain = QStringLiteral("mybank.example"))
{
    return QStringLiteral("Authentication-Results: %1; dmarc=%2 header.from=%3").arg(id, dmarc, domain);
}

TmsHeaders block(const QStringList &lines)
{
    return lines + QStringList{"From: " + Bank, "Subject: Your statement"};
}

} // namespace

class TestServerFindings : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheTrustedServerChangesAMark_data()
    {
        QTest::addColumn<QString>("trusted");
        QTest::addColumn<TmsHeaders>("headers");
        QTest::addColumn<MarkState>("mark");
        const QString pass = authResults(Trusted, "pass");
        const QString fail = authResults(Trusted, "fail");
        const MarkState none = MarkState::None;
        QTest::newRow("genuine pass") << Trusted << block({pass, Own, Earlier}) << MarkState::Exception;
        QTest::newRow("genuine, folded over lines")
            << Trusted.toUpper()
            << block({"Authentication-Results: mx.example.net;", "\tdkim=pass header.d=mybank.example;",
                      " dmarc=pass (p=reject) header.from=mybank.example", Own})
            << MarkState::Exception;
        QTest::newRow("no Authentication-Results") << Trusted << block({Own, Earlier}) << none;
        QTest::newRow("no trusted server") << "" << block({pass, Own}) << none;
        QTest::newRow("genuine fail") << Trusted << block({fail, Own}) << MarkState::Question;
        QTest::newRow("forged pass below the genuine fail")
            << Trusted << block({fail, Own, pass, Earlier}) << MarkState::Question;
        QTest::newRow("forged pass below the server's hop") << Trusted << block({Own, pass, Earlier}) << none;
        QTest::newRow("forged fail below the server's hop") << Trusted << block({Own, fail}) << none;
        QTest::newRow("forged, folded, below the hop")
            << Trusted
            << block({Own, "Authentication-Results: mx.example.net;", " dmarc=pass header.from=mybank.example"})
            << none;
        QTest::newRow("wrong authserv-id above the hop")
            << Trusted << block({authResults("mx.google.com", "pass"), Own}) << none;
        QTest::newRow("look-alike id") << Trusted << block({authResults("mx.example.net.evil.example", "pass"), Own})
                                       << none;
        QTest::newRow("comment hides a pass")
            << Trusted
            << block({"Authentication-Results: mx.example.net (dmarc=pass header.from=mybank.example); none", Own})
            << none;
        QTest::newRow("pass for another domain")
            << Trusted << block({authResults(Trusted, "pass", "evil.example"), Own}) << none;
        QTest::newRow("spam verdict of the server") << Trusted << block({"X-Spam-Flag: YES", Own}) << MarkState::Check;
        QTest::newRow("forged spam verdict below the hop")
            << Trusted << block({Own, "X-Spam-Flag: YES", "X-Spam-Status: Yes, score=20"}) << none;
        QTest::newRow("Microsoft report: bulk and spam")
            << "protection.outlook.com"
            << block({"X-Forefront-Antispam-Report: CIP:192.0.2.1;CTRY:;SFV:NSPM;SCL:1;BCL:8;",
                      "Received: from relay by A1.mail.protection.outlook.com", Earlier})
            << MarkState::Question;
        QTest::newRow("Microsoft: id-less pass above its border hop")
            << "protection.outlook.com"
            << block({"Received: from B2.prod.outlook.com by C3.prod.outlook.com",
                      "Authentication-Results: spf=pass (sender IP is 192.0.2.1) smtp.mailfrom=mybank.example; "
                      "dmarc=pass action=none header.from=mybank.example",
                      "Received: from relay by A1.mail.protection.outlook.com", Earlier})
            << MarkState::Exception;
        QTest::newRow("Microsoft: id-less pass without its hop")
            << "protection.outlook.com"
            << block({"Authentication-Results: dmarc=pass action=none header.from=mybank.example", Own}) << none;
    }

    void onlyTheTrustedServerChangesAMark()
    {
        QFETCH(QString, trusted);
        QFETCH(TmsHeaders, headers);
        QFETCH(MarkState, mark);
        RuleSet rules;
        setRules(rules.ExceptionRules, {{RuleText::DomainName, RuleText::Equals, "mybank.example", "No", "0", "Yes"}});
        setRules(rules.HeaderRules, {{"", RuleText::HasSpamVerdict, "", "No", "Yes", "0"},
                                     {"", RuleText::FailsDmarc, "", "No", "No", "0"},
                                     {"", RuleText::BulkLevelAtLeast, "7", "No", "No", "0"}});
        FakeSource source;
        source.trusted = trusted;
        source.rows = {{"Your statement", Bank, "1000", MarkState::None, headers}};
        MarkingEngine engine(rules, source);
        engine.MarkForDeletion(-1);
        QCOMPARE(source.rows[0].mark, mark);
    }

    void whyNamesWhatItBelievedAndWhatNot()
    {
        RuleSet rules;
        setRules(rules.ExceptionRules, {{RuleText::DomainName, RuleText::Equals, "mybank.example", "No", "0", "Yes"}});
        FakeSource source;
        source.trusted = Trusted;
        source.rows = {{"Your statement", Bank, "1000", MarkState::None,
                        block({authResults(Trusted, "fail"), Own, authResults(Trusted, "pass"),
                               authResults(Trusted, "pass"), Earlier})}};
        MarkingEngine engine(rules, source);
        const QStringList lines = explainRow(engine, source, 0);
        QCOMPARE(lines.mid(3), QStringList({
                                   Explanation::NothingMatched,
                                   QString(),
                                   "Not used : the exception for \"mybank.example\" accepts only mail that passes "
                                   "DMARC, and the trusted server says dmarc=fail",
                                   "Server   : Authentication-Results of mx.example.net: dmarc=fail "
                                   "header.from=mybank.example",
                                   "Not trusted: 2 Authentication-Results fields, below the receiving server's "
                                   "Received line",
                               }));

        source.rows[0].headers = block({authResults(Trusted, "pass"), Own});
        QCOMPARE(explainRow(engine, source, 0).at(3),
                 "Exception :  Domain name (DMARC passed) Equals \"mybank.example\" ");
        QCOMPARE(rules.ExceptionRules.cell(ExceptCol::Hits, 1), "0");
    }

    // Quick-add asks a new exception for DMARC when the domain publishes it.
    void domainPublishesDmarc_data()
    {
        QTest::addColumn<TmsHeaders>("headers");
        QTest::addColumn<bool>("publishes");
        QTest::newRow("pass") << block({authResults(Trusted, "pass"), Own}) << true;
        QTest::newRow("fail") << block({authResults(Trusted, "fail"), Own}) << true;
        QTest::newRow("no policy") << block({authResults(Trusted, "none"), Own}) << false;
        QTest::newRow("forged below the hop") << block({Own, authResults(Trusted, "pass")}) << false;
    }

    void domainPublishesDmarc()
    {
        QFETCH(TmsHeaders, headers);
        QFETCH(bool, publishes);
        QCOMPARE(ServerFindings::of(headers, Trusted).senderPublishesDmarc(Bank), publishes);
    }

    void keptDecisionsFollowTheTrustedServer()
    {
        RuleSet rules;
        setRules(rules.HeaderRules, {{"", RuleText::HasSpamVerdict, "", "No", "Yes", "0"}});
        FakeSource source;
        source.rows = {{"Offer", "a@spam.example", "1000", MarkState::None, block({"X-Spam-Flag: YES", Own})}};
        RowMemo memo;
        MarkingEngine engine(rules, source);
        engine.setMemo(&memo);
        engine.MarkForDeletion(-1);
        QCOMPARE(source.rows[0].mark, MarkState::None);
        source.trusted = Trusted;
        source.rows[0].mark = MarkState::None;
        engine.MarkForDeletion(-1);
        QCOMPARE(source.rows[0].mark, MarkState::Check);
    }
};

QTEST_GUILESS_MAIN(TestServerFindings)
#include "tst_serverfindings.moc"
