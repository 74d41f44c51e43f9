// "Why was this e-mail marked?" on the rule side: the lines of an
// explanation, the notes on marks set by hand, and that explaining leaves
// marks and hit counters untouched.

#include "rules/explanation.h"
#include "rules/marking.h"
#include "support/markingrows.h"

#include <QTest>

namespace {

QStringList opening(const Message &m)
{
    return {QStringLiteral("Message from ") + m.sender, QStringLiteral("Subject of   ") + m.subject, QString()};
}

} // namespace

class TestExplanation : public QObject
{
    Q_OBJECT

    RuleSet rules;
    FakeSource source;

private slots:
    void init()
    {
        rules = RuleSet();
        // Subject: "viagra" is spam, "offer" possible spam (case-sensitive).
        setRules(rules.SubjectRules,
                 {{"", "Contains", "viagra", "No", "Yes", "3"}, {"", "Starts with", "Offer", "Yes", "No", "0"}});
        setRules(rules.SenderRules, {{"", "Domain name", "Ends with", "bad.example", "Yes", "5"}});
        setRules(rules.ExceptionRules, {{"E-mail address", "Equals", "mum@home.example", "No", "7"}});
        source.rows.clear();
    }

    void exceptionIsOneLineEvenWhenOtherRulesMatch()
    {
        MarkingEngine engine(rules, source);
        // As a check leaves it: accepted.
        source.rows = {Message{"cheap viagra", "mum@home.example", "1000", MarkState::Exception}};
        const QStringList lines = explainRow(engine, source, 0);
        QCOMPARE(lines, opening(source.rows[0])
                            << QStringLiteral("Exception :  E-mail address Equals \"mum@home.example\" "));
    }

    void everyMatchingRuleIsListedWithItsPrefix()
    {
        MarkingEngine engine(rules, source);
        source.rows = {Message{"Offer: viagra", "x@bad.example", "1000", MarkState::Check}};
        const QStringList lines = explainRow(engine, source, 0);
        QCOMPARE(lines, opening(source.rows[0])
                            << QStringLiteral("Delete   :  Subject Contains \"viagra\" ")
                            << QStringLiteral("Question :  Subject Starts with \"Offer\"  (Case Sensitive)")
                            << QStringLiteral("Delete   :  Domain name Ends with \"bad.example\" "));
    }

    void aCheckSenderRowKeepsItsMarkPastAMatchingQuestionRow()
    {
        setRules(rules.SenderRules, {{"", "Domain name", "Ends with", "bad.example", "Yes", "5"},
                                     {"", "E-mail address", "Starts with", "promo", "No", "0"}});
        MarkingEngine engine(rules, source);
        source.rows = {Message{"Lunch?", "promo@bad.example", "1000", MarkState::Check}};
        const QStringList lines = explainRow(engine, source, 0);
        // Both rows speak, and the rules still give the check mark: no note on a hand mark.
        QCOMPARE(lines.mid(3), QStringList({QStringLiteral("Delete   :  Domain name Ends with \"bad.example\" "),
                                            QStringLiteral("Question :  E-mail address Starts with \"promo\" ")}));
        QCOMPARE(source.rows[0].mark, MarkState::Check);

        source.rows[0].mark = MarkState::None;
        engine.setExplainMode(true);
        engine.MarkForDeletion(0);
        engine.setExplainMode(false);
        QCOMPARE(source.rows[0].mark, MarkState::Check);
    }

    void nothingMatchedGetsItsLine()
    {
        MarkingEngine engine(rules, source);
        source.rows = {Message{"Lunch?", "friend@good.example"}};
        QCOMPARE(explainRow(engine, source, 0), opening(source.rows[0]) << Explanation::NothingMatched);
        QCOMPARE(engine.memoWhy().size(), 4);
    }

    void handMarkIsNotedAndKept()
    {
        MarkingEngine engine(rules, source);
        source.rows = {Message{"Lunch?", "friend@good.example", "1000", MarkState::Check}};
        const QStringList lines = explainRow(engine, source, 0);
        QCOMPARE(lines.mid(3), QStringList({Explanation::NothingMatched, Explanation::YouMarked}));
        QCOMPARE(source.rows[0].mark, MarkState::Check);
    }

    void handUnmarkIsNotedAndKept()
    {
        MarkingEngine engine(rules, source);
        source.rows = {Message{"Offer inside", "x@good.example", "1000", MarkState::None}};
        const QStringList lines = explainRow(engine, source, 0);
        QCOMPARE(lines.mid(3),
                 QStringList({QStringLiteral("Question :  Subject Starts with \"Offer\"  (Case Sensitive)"),
                              Explanation::YouUnmarked}));
        QCOMPARE(source.rows[0].mark, MarkState::None);
    }

    void questionMarkKeptByTheRulesGetsNoNote()
    {
        MarkingEngine engine(rules, source);
        source.rows = {Message{"Offer inside", "x@good.example", "1000", MarkState::Question}};
        const QStringList lines = explainRow(engine, source, 0);
        QVERIFY(!lines.contains(Explanation::YouMarked));
        QVERIFY(!lines.contains(Explanation::YouUnmarked));
    }

    void explainingMovesNoHitCounter()
    {
        MarkingEngine engine(rules, source);
        const RuleList subjects = rules.SubjectRules;
        const RuleList senders = rules.SenderRules;
        const RuleList exceptions = rules.ExceptionRules;
        source.rows = {Message{"Offer: viagra", "x@bad.example"}, Message{"viagra", "mum@home.example"}};
        explainRow(engine, source, 0);
        explainRow(engine, source, 1);
        QVERIFY(rules.SubjectRules == subjects);
        QVERIFY(rules.SenderRules == senders);
        QVERIFY(rules.ExceptionRules == exceptions);

        // Afterwards the engine counts again and writes no lines.
        QVERIFY(!engine.explainMode());
        engine.memoWhy().clear();
        engine.MarkForDeletion(0);
        QCOMPARE(rules.SubjectRules.cell(SubjectCol::Hits, 1), QStringLiteral("4"));
        QVERIFY(engine.memoWhy().isEmpty());
    }

    void anotherExplanationReplacesTheLast()
    {
        MarkingEngine engine(rules, source);
        source.rows = {Message{"viagra", "a@b.example"}, Message{"Lunch?", "c@d.example"}};
        explainRow(engine, source, 0);
        const QStringList second = explainRow(engine, source, 1);
        QCOMPARE(second.size(), 4);
        QCOMPARE(engine.memoWhy(), second);
    }
};

QTEST_GUILESS_MAIN(TestExplanation)
#include "tst_explanation.moc"
