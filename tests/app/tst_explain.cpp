// "Why was this e-mail marked?" on the main window: the reasons viewer for
// the first selected message, the notes on marks set by hand, and that
// neither marks nor hit counters move.

#include "app/inspectionrig.h"
#include "rules/explanation.h"

#include <QAction>
#include <QToolButton>

using namespace appfixture;
using namespace inspectionrig;

namespace {

QStringList hitsOf(const RuleList &table)
{
    QStringList hits;
    for (int r = 1; r < table.rowCount(); ++r)
        hits << table.cell(table.layout().hitsColumn, r);
    return hits;
}

QStringList opening(int i)
{
    return {QStringLiteral("Message from ") + senderOf(i), QStringLiteral("Subject of   ") + subjectOf(i), QString()};
}

} // namespace

class TestExplain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void reasonsOfASpamMessage()
    {
        InspectionRig rig;
        rig.start(mailbox(10), [](GeneralSettings &s) { s.automatic = true; });
        rig.check();
        const QStringList hits = hitsOf(rig.core->rules.SubjectRules);
        rig.select({3});
        rig.timerChanges.clear();
        rig.commands->Why1()->trigger();

        QCOMPARE(rig.viewers.size(), 1);
        QCOMPARE(rig.viewers[0].mode, TfrmViewHeader::Mode::Reasons);
        QCOMPARE(rig.viewers[0].title, QStringLiteral("Reasons that e-mail is marked or not marked"));
        QCOMPARE(rig.viewers[0].lines, opening(4) << QStringLiteral("Delete   :  Subject Contains \"viagra\" "));
        QCOMPARE(hitsOf(rig.core->rules.SubjectRules), hits);
        QCOMPARE(rig.core->list.mark(3), MarkState::Check);
        QCOMPARE(rig.timerChanges, QList<bool>({false, true}));
    }

    void exceptionIsASingleLine()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        RuleList &exceptions = rig.core->rules.ExceptionRules;
        exceptions.setCell(ExceptCol::What, 1, QStringLiteral("E-mail address"));
        exceptions.setCell(ExceptCol::Condition, 1, QStringLiteral("Equals"));
        exceptions.setCell(ExceptCol::Matches, 1, senderOf(4));
        rig.window->btRemark()->click();
        QCOMPARE(rig.core->list.mark(3), MarkState::Exception);
        rig.select({3});
        rig.commands->explain().Why1Click();
        QCOMPARE(rig.viewers[0].lines,
                 opening(4) << QStringLiteral("Exception :  E-mail address Equals \"%1\" ").arg(senderOf(4)));
    }

    void messageMatchingNothing()
    {
        InspectionRig rig;
        rig.start(mailbox(3));
        rig.check();
        rig.select({1});
        rig.commands->explain().Why1Click();
        QCOMPARE(rig.viewers[0].lines,
                 opening(2) << QStringLiteral("Message was neither on the exception list nor on the list of matching "
                                              "criteria"));
    }

    void handMarksAreNotedAndKept()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        rig.select({0, 3});
        rig.window->btMark()->click(); // row 0 marked, row 3 un-marked by hand
        const QList<MarkState> marks = rig.marks();

        rig.select({0});
        rig.commands->explain().Why1Click();
        QCOMPARE(rig.viewers[0].lines.last(), QStringLiteral("** You marked this message **"));
        rig.select({3});
        rig.commands->explain().Why1Click();
        QCOMPARE(rig.viewers[1].lines.last(), QStringLiteral("** You un-marked this message **"));
        QCOMPARE(rig.marks(), marks);
    }

    void handMarkOfAnEarlierCheckSaysWhoSetIt()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        const QDateTime markedAt(QDate(2026, 12, 7), QTime(9, 30), Qt::UTC);
        rig.core->memory.now = [&] { return markedAt; };
        rig.check();
        rig.select({0});
        rig.window->btMark()->click();
        rig.check();
        rig.select({0});
        rig.commands->explain().Why1Click();
        QCOMPARE(rig.viewers[0].lines, QStringList{Explanation::byYou(MarkState::Check, markedAt)}
                                           << opening(1) << Explanation::NothingMatched << Explanation::YouMarked);
        QVERIFY(rig.viewers[0].lines[0].startsWith(QStringLiteral("Marked by you on ")));
    }

    void severalSelectedExplainTheUpperOne()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        rig.select({7, 3});
        rig.commands->explain().Why1Click();
        QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information).size(), 1);
        QCOMPARE(rig.viewers[0].lines.mid(0, 3), opening(4));
    }
};

QTEST_MAIN(TestExplain)
#include "tst_explain.moc"
