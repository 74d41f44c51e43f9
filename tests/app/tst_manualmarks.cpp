// The user's own marks on the main window: "Mark messages" and a double
// click toggle the delete mark, "Reset all marks" clears them, "Auto-mark
// messages" lets the rules mark again; the totals follow every change, and
// a click or key in the list silences the alarm.

#include "app/inspectionrig.h"

#include <QTest>
#include <QToolButton>

using namespace appfixture;
using namespace inspectionrig;

namespace {

// mailbox(10): rows 3 and 7 are spam, 4 and 9 possible spam, 5 a known spammer.
QList<MarkState> checkedMarks()
{
    QList<MarkState> marks;
    for (int i = 1; i <= 10; ++i)
        marks << markOf(i);
    return marks;
}

QString totals(int marked)
{
    return QStringLiteral("Message Total: 10 Number Marked: %1").arg(marked);
}

void doubleClickRow(InspectionRig &rig, int row)
{
    QTreeView *list = rig.window->ListView1();
    const QPoint centre = list->visualRect(rig.core->list.index(row, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
}

} // namespace

class TestManualMarks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void doubleClickPromotesAQuestionMarkAndClearsItAgain()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        QCOMPARE(rig.marks(), checkedMarks());
        QCOMPARE(rig.totals(), totals(3));

        doubleClickRow(rig, 4);
        QCOMPARE(rig.core->list.mark(4), MarkState::Check);
        QCOMPARE(rig.totals(), totals(4));
        doubleClickRow(rig, 4);
        QCOMPARE(rig.core->list.mark(4), MarkState::None);
        QCOMPARE(rig.totals(), totals(3));
    }

    void markButtonTogglesEachSelectedRow()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        rig.core->list.setMark(1, MarkState::Exception);
        rig.select({0, 1, 3, 4, 5});
        rig.alarmStops = 0;
        rig.window->btMark()->click();
        QCOMPARE(rig.alarmStops, 1);
        // None, exception and question become check marks; check and known-spammer marks clear.
        QCOMPARE(rig.marks().mid(0, 6), QList<MarkState>({MarkState::Check, MarkState::Check, MarkState::None,
                                                          MarkState::None, MarkState::Check, MarkState::None}));
        QCOMPARE(rig.totals(), totals(4));
    }

    void resetClearsEveryMark()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        rig.window->btResetAll()->click();
        QCOMPARE(rig.marks(), QList<MarkState>(10, MarkState::None));
        QCOMPARE(rig.totals(), totals(0));
    }

    void autoMarkGivesTheRulesMarksAgainAndCountsHits()
    {
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        // Two messages; the check's second pass leaves check-marked rows alone.
        QCOMPARE(rig.core->rules.SubjectRules.cell(SubjectCol::Hits, 1), QStringLiteral("2"));
        rig.select({0, 3});
        rig.window->btMark()->click();
        rig.window->btRemark()->click();
        QCOMPARE(rig.marks(), checkedMarks());
        QCOMPARE(rig.totals(), totals(3));
        QCOMPARE(rig.core->rules.SubjectRules.cell(SubjectCol::Hits, 1), QStringLiteral("4"));
        QVERIFY(rig.prompts.asked.isEmpty());
    }

    void autoMarkWithoutAnyMatchSaysSo()
    {
        InspectionRig rig;
        rig.start(mailbox(3));
        rig.check();
        rig.select({0, 1});
        rig.window->btMark()->click();
        rig.window->btRemark()->click();
        QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information),
                 QStringList{QStringLiteral("None of the messages matched any of the spam criteria.")});
        QCOMPARE(rig.marks(), QList<MarkState>(3, MarkState::None));
        QCOMPARE(rig.totals(), QStringLiteral("Message Total: 3 Number Marked: 0"));
    }

    void handMarksComeBackAtLaterChecks_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("until Reset all marks") << true;
        QTest::newRow("until Auto-mark messages") << false;
    }

    void handMarksComeBackAtLaterChecks()
    {
        QFETCH(bool, reset);
        InspectionRig rig;
        rig.start(mailbox(10));
        rig.check();
        rig.select({3, 4});
        rig.window->btMark()->click(); // spam un-marked, possible spam marked
        rig.check();
        QList<MarkState> byHand = checkedMarks();
        byHand[3] = MarkState::None;
        byHand[4] = MarkState::Check;
        QCOMPARE(rig.marks(), byHand);
        QCOMPARE(rig.totals(), totals(3));

        // Handed back to the rules: the next check marks as they say.
        (reset ? rig.window->btResetAll() : rig.window->btRemark())->click();
        rig.check();
        QCOMPARE(rig.marks(), checkedMarks());
    }

    void clickOrKeyInTheListStopsTheAlarm()
    {
        InspectionRig rig;
        rig.start(mailbox(3));
        rig.check();
        rig.alarmStops = 0;
        QTreeView *list = rig.window->ListView1();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(rig.core->list.index(1, 0)).center());
        QCOMPARE(rig.alarmStops, 1);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(rig.alarmStops, 2);
        // Neither changes a mark.
        QCOMPARE(rig.marks(), QList<MarkState>(3, MarkState::None));
    }
};

QTEST_MAIN(TestManualMarks)
#include "tst_manualmarks.moc"
