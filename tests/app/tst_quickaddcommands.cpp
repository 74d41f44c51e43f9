// "Add selected message(s) to spam list" with its dialog and "Add selected
// sender(s) to exceptions list": the rules they make, that they are saved,
// and the re-marking of the list that follows.

#include "app/frmmarkfordeletion.h"
#include "app/inspectionrig.h"
#include "support/testfiles.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

using namespace appfixture;
using namespace inspectionrig;

namespace {

QByteArray plainMessage(const QByteArray &from, const QByteArray &subject)
{
    QList<QByteArray> header;
    if (!from.isEmpty())
        header << "From: " + from;
    header << "To: user@example.org";
    if (!subject.isEmpty())
        header << "Subject: " + subject;
    return MessageBuilder::assemble(header, {"Hello"});
}

RuleSet storedRules(const QString &folder)
{
    RuleSet rules;
    readSettings(rules, folder);
    return rules;
}

QStringList column(const RuleList &table, int column)
{
    QStringList cells;
    for (int r = 1; r < table.rowCount(); ++r)
        cells << table.cell(column, r);
    return cells;
}

} // namespace

class TestQuickAddCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void dialogListsTheMessagesWithBothBoxesTicked()
    {
        RuleSet rules;
        TfrmMarkForDeletion dialog(rules);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Mark e-mail for deletion"));
        QVERIFY(dialog.cbSubjects()->isChecked());
        QVERIFY(dialog.cbSenders()->isChecked());
        QCOMPARE(dialog.cbSubjects()->text(),
                 QStringLiteral("Always &delete mail with these particular subject headings"));
        QCOMPARE(dialog.cbSenders()->text(), QStringLiteral("&Always delete mail from these particular senders"));
        QList<TfrmMarkForDeletion::Message> many;
        for (int i = 0; i < 300; ++i)
            many.append({QStringLiteral("s%1").arg(i), QStringLiteral("f%1").arg(i)});
        dialog.setMessages(many);
        QCOMPARE(dialog.grid()->rowCount(), 249);
        QCOMPARE(dialog.grid()->item(248, 1)->text(), QStringLiteral("f248"));
        QCOMPARE(dialog.grid()->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    void okPutsTheLastMessageFirstSavesAndRemarks()
    {
        InspectionRig rig;
        rig.start(mailbox(5));
        rig.check();
        QStringList listed;
        rig.commands->quickAdd().runDialog = [&](TfrmMarkForDeletion &dialog) {
            for (int r = 0; r < dialog.grid()->rowCount(); ++r)
                listed << dialog.grid()->item(r, 0)->text() + u'|' + dialog.grid()->item(r, 1)->text();
            dialog.btOK()->click();
        };
        rig.select({2, 1});
        rig.commands->AddtoSPAMlist1()->trigger();

        QCOMPARE(listed, QStringList({subjectOf(2) + u'|' + senderOf(2), subjectOf(3) + u'|' + senderOf(3)}));
        const RuleSet &rules = rig.core->rules;
        QCOMPARE(column(rules.SubjectRules, SubjectCol::Matches).mid(0, 3),
                 QStringList({subjectOf(3), subjectOf(2), QStringLiteral("viagra")}));
        QCOMPARE(column(rules.SenderRules, SenderCol::Matches).mid(0, 2), QStringList({senderOf(3), senderOf(2)}));
        // On disk as they were before the re-marking counted.
        const RuleSet saved = storedRules(rig.home.path());
        QCOMPARE(column(saved.SubjectRules, SubjectCol::Matches).mid(0, 2), QStringList({subjectOf(3), subjectOf(2)}));
        QCOMPARE(column(saved.SubjectRules, SubjectCol::Hits).mid(0, 2), QStringList({"1", "1"}));
        QCOMPARE(column(saved.SenderRules, SenderCol::Matches).mid(0, 2), QStringList({senderOf(3), senderOf(2)}));
        // The list is marked again with the new rules.
        QCOMPARE(rig.marks(), QList<MarkState>({MarkState::None, MarkState::Check, MarkState::Check, MarkState::Check,
                                                MarkState::Question}));
        QCOMPARE(rig.totals(), QStringLiteral("Message Total: 5 Number Marked: 3"));
        QCOMPARE(rules.SubjectRules.cell(SubjectCol::Hits, 1), QStringLiteral("2"));
    }

    void cancelAddsNothingButRemarks()
    {
        InspectionRig rig;
        rig.start(mailbox(5));
        rig.check();
        const QStringList subjects = column(rig.core->rules.SubjectRules, SubjectCol::Matches);
        rig.select({0});
        rig.window->btMark()->click();
        QCOMPARE(rig.core->list.mark(0), MarkState::Check);
        rig.commands->quickAdd().runDialog = [](TfrmMarkForDeletion &dialog) { dialog.btCancel()->click(); };
        rig.commands->quickAdd().AddtoSPAMlist1Click();
        QCOMPARE(column(rig.core->rules.SubjectRules, SubjectCol::Matches), subjects);
        QCOMPARE(rig.core->list.mark(0), MarkState::None);
    }

    void boxesChooseTheRulesAndSubjectlessMessagesAreSkipped()
    {
        InspectionRig rig;
        rig.start({plainMessage("a@one.example", "Buy now"), plainMessage("b@two.example", "")});
        rig.check();
        const int subjectRows = rig.core->rules.SubjectRules.rowCount();
        rig.commands->quickAdd().runDialog = [](TfrmMarkForDeletion &dialog) {
            dialog.cbSubjects()->setChecked(false);
            dialog.btOK()->click();
        };
        rig.select({0, 1});
        rig.commands->quickAdd().AddtoSPAMlist1Click();
        QCOMPARE(rig.core->rules.SubjectRules.rowCount(), subjectRows);
        // The subjectless message gives no sender rule either.
        QCOMPARE(column(rig.core->rules.SenderRules, SenderCol::Matches).filter(QStringLiteral("example")),
                 QStringList{QStringLiteral("a@one.example")});
        QCOMPARE(rig.marks(), QList<MarkState>({MarkState::Check, MarkState::None}));
    }

    void oneSenderTwiceGivesTwoExceptionRowsAndOnlyTheFirstCounts()
    {
        InspectionRig rig;
        rig.start({plainMessage("friend@home.example", "Cheap viagra"), plainMessage("friend@home.example", "Hi"),
                   plainMessage("x@other.example", "Hello")});
        rig.check();
        QCOMPARE(rig.core->list.mark(0), MarkState::Check);
        rig.select({0, 1});
        rig.commands->AddtoExceptions1()->trigger();

        const RuleList &exceptions = rig.core->rules.ExceptionRules;
        QCOMPARE(exceptions.rowCount(), 3);
        for (int r : {1, 2}) {
            QCOMPARE(exceptions.cell(ExceptCol::What, r), QStringLiteral("E-mail address"));
            QCOMPARE(exceptions.cell(ExceptCol::Condition, r), QStringLiteral("Equals"));
            QCOMPARE(exceptions.cell(ExceptCol::Matches, r), QStringLiteral("friend@home.example"));
            QCOMPARE(exceptions.cell(ExceptCol::Case, r), QStringLiteral("No"));
        }
        QCOMPARE(column(exceptions, ExceptCol::Hits), QStringList({"2", "0"}));
        QCOMPARE(column(storedRules(rig.home.path()).ExceptionRules, ExceptCol::Matches),
                 QStringList(2, QStringLiteral("friend@home.example")));
        QCOMPARE(rig.marks(), QList<MarkState>({MarkState::Exception, MarkState::Exception, MarkState::None}));
        QCOMPARE(rig.totals(), QStringLiteral("Message Total: 3 Number Marked: 0"));
    }

    void emptySendersNeverBecomeExceptions()
    {
        InspectionRig rig;
        rig.start({plainMessage("", "Cheap viagra"), plainMessage("x@other.example", "Hello")});
        rig.check();
        QCOMPARE(rig.core->list.entry(0).Sender, QString());
        const QByteArray before = readFile(rig.home.path() + QStringLiteral("/except.lst"));

        rig.select({0});
        rig.commands->quickAdd().AddtoExceptions1Click();
        QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Information), QStringList{QuickAddCommands::NoSenderText});
        QVERIFY(rig.core->rules.ExceptionRules.cell(ExceptCol::What, 1).isEmpty());
        QCOMPARE(rig.core->list.mark(0), MarkState::Check);
        QCOMPARE(readFile(rig.home.path() + QStringLiteral("/except.lst")), before);

        rig.select({0, 1});
        rig.commands->quickAdd().AddtoExceptions1Click();
        QCOMPARE(column(rig.core->rules.ExceptionRules, ExceptCol::Matches), QStringList{"x@other.example"});
        // The message without a sender is still spam.
        QCOMPARE(rig.marks(), QList<MarkState>({MarkState::Check, MarkState::Exception}));
    }
};

QTEST_MAIN(TestQuickAddCommands)
#include "tst_quickaddcommands.moc"
