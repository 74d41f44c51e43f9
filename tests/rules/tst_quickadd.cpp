// Rules made from listed messages: where they go in their tables, what
// they hold, and that an empty sender never becomes an exception.

#include "rules/marking.h"
#include "rules/quickadd.h"

#include <QTest>

namespace {

class OneMessage : public MarkingSource
{
public:
    QString subject_, sender_;
    MarkState mark_ = MarkState::None;
    int rowCount() const override { return 1; }
    QString subject(int) const override { return subject_; }
    QString sender(int) const override { return sender_; }
    QString size(int) const override { return QStringLiteral("100"); }
    MarkState mark(int) const override { return mark_; }
    void setMark(int, MarkState mark) override { mark_ = mark; }
    TmsHeaders headerLines(int) const override { return {}; }
    int serverToIndex() const override { return 1; }
};

QStringList rowOf(const RuleList &table, int row)
{
    QStringList cells;
    for (int c = 0; c < table.columnCount(); ++c)
        cells << table.cell(c, row);
    return cells;
}

} // namespace

class TestQuickAdd : public QObject
{
    Q_OBJECT

private slots:
    void rulesGoOnTopAndTheLastMessageStandsFirst()
    {
        RuleSet rules;
        rules.SubjectRules.setRowCount(2);
        rules.SubjectRules.setCell(SubjectCol::What, 1, QStringLiteral("Contains"));
        rules.SubjectRules.setCell(SubjectCol::Matches, 1, QStringLiteral("old"));
        addToList(rules, QStringLiteral("First"), QStringLiteral("a@one.example"), {});
        addToList(rules, QStringLiteral("Second"), QStringLiteral("b@two.example"), {});

        QCOMPARE(rowOf(rules.SubjectRules, 1), QStringList({"", "Equals", "Second", "Yes", "Yes", "1"}));
        QCOMPARE(rules.SubjectRules.cell(SubjectCol::Matches, 2), QStringLiteral("First"));
        QCOMPARE(rules.SubjectRules.cell(SubjectCol::Matches, 3), QStringLiteral("old"));
        QCOMPARE(rules.SubjectRules.picture(1), MarkState::Check);

        QCOMPARE(rowOf(rules.SenderRules, 1),
                 QStringList({"", "E-mail address", "Equals", "b@two.example", "Yes", "1"}));
        QCOMPARE(rules.SenderRules.cell(SenderCol::Matches, 2), QStringLiteral("a@one.example"));
        QCOMPARE(rules.SenderRules.picture(2), MarkState::Check);
    }

    void checkBoxesChooseTheTables()
    {
        RuleSet rules;
        const int subjects = rules.SubjectRules.rowCount();
        const int senders = rules.SenderRules.rowCount();
        addToList(rules, QStringLiteral("S"), QStringLiteral("x@y.example"), {false, true});
        QCOMPARE(rules.SubjectRules.rowCount(), subjects);
        QCOMPARE(rules.SenderRules.rowCount(), senders + 1);
        addToList(rules, QStringLiteral("S"), QStringLiteral("x@y.example"), {true, false});
        QCOMPARE(rules.SubjectRules.rowCount(), subjects + 1);
        QCOMPARE(rules.SenderRules.rowCount(), senders + 1);
    }

    void emptySubjectOrSenderMakesNoRule()
    {
        RuleSet rules;
        const int subjects = rules.SubjectRules.rowCount();
        const int senders = rules.SenderRules.rowCount();
        addToList(rules, QString(), QStringLiteral("x@y.example"), {});
        QCOMPARE(rules.SubjectRules.rowCount(), subjects);
        QCOMPARE(rules.SenderRules.rowCount(), senders + 1);
        addToList(rules, QStringLiteral("Hello"), QStringLiteral(" "), {});
        QCOMPARE(rules.SubjectRules.rowCount(), subjects + 1);
        QCOMPARE(rules.SenderRules.rowCount(), senders + 1);
    }

    void quickSubjectRuleMatchesOnlyTheExactSubjectWithCase()
    {
        RuleSet rules;
        addToList(rules, QStringLiteral("Win Big"), QStringLiteral("x@y.example"), {true, false});
        OneMessage message;
        MarkingEngine engine(rules, message);
        for (const auto &[subject, expected] : QList<std::pair<QString, MarkState>>{
                 {"Win Big", MarkState::Check}, {"win big", MarkState::None}, {"Win Big now", MarkState::None}}) {
            message.subject_ = subject;
            message.mark_ = MarkState::None;
            engine.MarkForDeletion(0);
            QCOMPARE(message.mark_, expected);
        }
    }

    void exceptionReusesTheLoneEmptyRowThenAppends()
    {
        RuleList exceptions(RuleTable::Exception);
        QCOMPARE(exceptions.rowCount(), 2);
        QVERIFY(addExceptionSender(exceptions, QStringLiteral("a@b.example")));
        QCOMPARE(exceptions.rowCount(), 2);
        QCOMPARE(rowOf(exceptions, 1), QStringList({"E-mail address", "Equals", "a@b.example", "No", "0", ""}));
        QVERIFY(addExceptionSender(exceptions, QStringLiteral("a@b.example")));
        QCOMPARE(exceptions.rowCount(), 3);
        QCOMPARE(rowOf(exceptions, 2), rowOf(exceptions, 1));
    }

    void emptySenderAddsNoException()
    {
        RuleList exceptions(RuleTable::Exception);
        QVERIFY(!addExceptionSender(exceptions, QString()));
        QVERIFY(!addExceptionSender(exceptions, QStringLiteral("  ")));
        QCOMPARE(exceptions.rowCount(), 2);
        QVERIFY(exceptions.cell(ExceptCol::What, 1).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestQuickAdd)
#include "tst_quickadd.moc"
