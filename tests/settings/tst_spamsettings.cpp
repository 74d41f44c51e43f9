// The Spam settings window over a RuleSet in a temporary folder: where
// Insert, Delete and the arrows put rows, imports, OK and Cancel against
// the files, typing into cells, printing, the size and BlackList pages.

#include "rules/listfiles.h"
#include "rules/ruletablemodel.h"
#include "settings/frmalwaysaccept.h"
#include "settings/frmimportspam.h"
#include "settings/frmoptionsfrom.h"
#include "settings/frmoptionsmain.h"
#include "settings/frmoptionssubject.h"
#include "settings/generalsettings.h"
#include "settings/learningpage.h"
#include "support/scriptedprompts.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace ruleeditors;

namespace {

// A subject rule row: Contains <pattern>, check mark, the given hits.
void addSubjectRule(RuleList &table, const QString &pattern, const QString &hits = "0")
{
    const int row = makeAppendTarget(table);
    RowCells cells = rowCells(table, row);
    SubjectRule rule;
    rule.pattern = pattern;
    rule.writeTo(cells);
    cells[SubjectCol::Hits] = hits;
    setRowCells(table, row, cells);
    CheckGridAdv(table, row, true);
}

QStringList subjectPatterns(const RuleList &table)
{
    QStringList patterns;
    for (int row = 1; row < table.rowCount(); ++row)
        patterns << table.cell(SubjectCol::Matches, row);
    return patterns;
}

} // namespace

class TestSpamSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<RuleSet> rules;
    std::unique_ptr<GeneralSettings> general;
    std::unique_ptr<ScriptedPrompts> prompts;
    std::unique_ptr<TfrmOptionsMain> window;

    RuleList &subject() { return rules->SubjectRules; }
    QString countOf(RuleTable table) { return window->page(table).lblCount->text(); }
    void refresh(RuleTable table) { window->page(table).model->refresh(); }

    // Answers the next subject editor with a pattern, or cancels it.
    void answerSubjectEditor(const QString &pattern, bool accept = true)
    {
        window->runDialog = [pattern, accept](QDialog &dialog) {
            auto &editor = dynamic_cast<TfrmOptionsSubject &>(dialog);
            if (!accept)
                return int(QDialog::Rejected);
            editor.edPattern->setEditText(pattern);
            editor.btOKClick();
            return editor.result();
        };
    }

    void answerImport(const QString &typed)
    {
        window->runDialog = [typed](QDialog &dialog) {
            auto &import = dynamic_cast<TfrmImportSpam &>(dialog);
            import.memo->setPlainText(typed);
            import.btOKClick();
            return import.result();
        };
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        rules = std::make_unique<RuleSet>();
        general = std::make_unique<GeneralSettings>();
        prompts = std::make_unique<ScriptedPrompts>();
        window = std::make_unique<TfrmOptionsMain>(*rules, dir->path(), *general, *prompts);
    }

    void cleanup() { window.reset(); }

    void pagesInOrder()
    {
        QCOMPARE(window->windowTitle(), QString("Spam Settings"));
        QStringList names;
        for (int i = 0; i < window->pages->count(); ++i)
            names << window->pages->tabText(i);
        QCOMPARE(names, QStringList({"Subject", "Headers", "Sender", "Size", "Exceptions", "BlackList", "Learning"}));
        QCOMPARE(window->pages->currentIndex(), 0);
        QVERIFY(window->page(RuleTable::Subject).btImport);
        QVERIFY(window->page(RuleTable::Exception).btImport);
        QVERIFY(!window->page(RuleTable::Header).btImport);
        QVERIFY(!window->page(RuleTable::Sender).btImport);
        QCOMPARE(window->page(RuleTable::Subject).grid->columnWidth(2), 231 * window->logicalDpiX() / 96);
    }

    void insertIntoTheOneEmptyRow()
    {
        answerSubjectEditor("free");
        window->insertClick(RuleTable::Subject);
        QCOMPARE(subject().rowCount(), 2);
        QCOMPARE(rowCells(subject(), 1), RowCells({"", "Contains", "free", "No", "Yes", "0"}));
        QCOMPARE(subject().picture(1), MarkState::Check);
        QCOMPARE(countOf(RuleTable::Subject), QString("1"));
    }

    void insertAtSelectedRow()
    {
        for (const char *p : {"a", "b", "c", "d"})
            addSubjectRule(subject(), p);
        refresh(RuleTable::Subject);
        window->selectRow(RuleTable::Subject, 3);

        answerSubjectEditor("new");
        window->insertClick(RuleTable::Subject);
        QCOMPARE(subjectPatterns(subject()), QStringList({"a", "b", "new", "c", "d"}));
        QCOMPARE(window->selectedRow(RuleTable::Subject), 3);
        QCOMPARE(countOf(RuleTable::Subject), QString("5"));

        // A cancelled editor adds no row.
        answerSubjectEditor("never", false);
        window->insertClick(RuleTable::Subject);
        QCOMPARE(subject().rowCount(), 6);
    }

    void insertSenderRuleWithEditorDefaults()
    {
        window->runDialog = [](QDialog &dialog) {
            auto &editor = dynamic_cast<TfrmOptionsFROM &>(dialog);
            editor.edPattern->setEditText("casino.example");
            editor.btOKClick();
            return editor.result();
        };
        window->insertClick(RuleTable::Sender);
        QCOMPARE(rowCells(rules->SenderRules, 1),
                 RowCells({"", "Domain name", "Equals", "casino.example", "Yes", "0"}));
    }

    void deleteTheLastRuleRowEmptiesIt()
    {
        addSubjectRule(subject(), "only");
        refresh(RuleTable::Subject);
        window->selectRow(RuleTable::Subject, 1);
        window->deleteClick(RuleTable::Subject);
        QCOMPARE(subject().rowCount(), 2);
        QCOMPARE(rowCells(subject(), 1), RowCells(6));
        QCOMPARE(countOf(RuleTable::Subject), QString("1"));

        for (const char *p : {"b", "c", "d"})
            addSubjectRule(subject(), p);
        refresh(RuleTable::Subject);
        window->selectRow(RuleTable::Subject, 2);
        window->deleteClick(RuleTable::Subject);
        QCOMPARE(subjectPatterns(subject()), QStringList({"b", "d"}));
        QCOMPARE(countOf(RuleTable::Subject), QString("2"));
    }

    void moveAtBothEnds()
    {
        for (const char *p : {"a", "b", "c"})
            addSubjectRule(subject(), p);
        CheckGridAdv(subject(), 2, false);
        refresh(RuleTable::Subject);

        window->selectRow(RuleTable::Subject, 1);
        window->moveUpClick(RuleTable::Subject);
        QCOMPARE(subjectPatterns(subject()), QStringList({"a", "b", "c"}));
        QCOMPARE(window->selectedRow(RuleTable::Subject), 1);

        window->selectRow(RuleTable::Subject, 3);
        window->page(RuleTable::Subject).btDown->click();
        QCOMPARE(subjectPatterns(subject()), QStringList({"a", "b", "c"}));
        QCOMPARE(window->selectedRow(RuleTable::Subject), 3);

        window->selectRow(RuleTable::Subject, 2);
        window->page(RuleTable::Subject).btUp->click();
        QCOMPARE(subjectPatterns(subject()), QStringList({"b", "a", "c"}));
        QCOMPARE(subject().picture(1), MarkState::Question); // the picture moves with its row
        QCOMPARE(window->selectedRow(RuleTable::Subject), 1);

        window->moveDownClick(RuleTable::Subject);
        window->moveDownClick(RuleTable::Subject);
        QCOMPARE(subjectPatterns(subject()), QStringList({"a", "c", "b"}));
        QCOMPARE(window->selectedRow(RuleTable::Subject), 3);
    }

    void editNeedsARule()
    {
        window->runDialog = [](QDialog &) -> int {
            QTest::qFail("no editor expected", __FILE__, __LINE__);
            return QDialog::Rejected;
        };
        window->selectRow(RuleTable::Subject, 1);
        window->editClick(RuleTable::Subject);
        window->selectRow(RuleTable::Sender, 1);
        window->editClick(RuleTable::Sender);
        QCOMPARE(prompts->textsOf(ScriptedPrompts::Kind::Error), QStringList{"Error: nothing selected to edit"});
        QCOMPARE(prompts->textsOf(ScriptedPrompts::Kind::Information), QStringList{"Error: nothing selected to edit"});
    }

    void editWritesBackKeepingHits()
    {
        addSubjectRule(subject(), "old", "12");
        refresh(RuleTable::Subject);
        window->selectRow(RuleTable::Subject, 1);
        window->runDialog = [](QDialog &dialog) {
            auto &editor = dynamic_cast<TfrmOptionsSubject &>(dialog);
            if (editor.edPattern->currentText() != "old" || editor.cbOperator->currentText() != "Contains")
                return int(QDialog::Rejected);
            editor.edPattern->setEditText("new");
            editor.pnlMark->setCheckMark(false);
            editor.btOKClick();
            return editor.result();
        };
        window->editClick(RuleTable::Subject);
        QCOMPARE(rowCells(subject(), 1), RowCells({"", "Contains", "new", "No", "No", "12"}));
        QCOMPARE(subject().picture(1), MarkState::Question);
    }

    // The cut-offs keep their order as the user moves them; Cancel takes
    // the page back to what was saved, OK saves it.
    void learningPageKeepsItsOptionsInOrder()
    {
        LearningPage &page = *window->learningPage;
        page.edHamCutoff->setValue(0.95);
        QCOMPARE(rules->learning.spamCutoff, 0.95);
        QCOMPARE(rules->learning.deletionScore, 0.995);
        page.edDeletionScore->setValue(0.5);
        QCOMPARE(rules->learning.deletionScore, 0.95);
        QVERIFY(!page.edDeletionScore->isEnabled());
        page.cbMarkForDeletion->setChecked(true);
        QVERIFY(page.edDeletionScore->isEnabled());
        window->btCancelClick();
        QVERIFY(rules->learning == LearningOptions());
        QCOMPARE(page.edHamCutoff->value(), 0.2);

        page.cbLearn->setChecked(false);
        QVERIFY(!page.edSpamCutoff->isEnabled());
        window->btOKClick();
        RuleSet reloaded;
        QVERIFY(readSettings(reloaded, dir->path()).ok());
        QVERIFY(!reloaded.learning.enabled);
    }

    void importKeywordsThenCancelKeepsThem()
    {
        answerImport("free\n   free  \n      \n");
        window->importClick(RuleTable::Subject);
        QCOMPARE(subjectPatterns(subject()), QStringList({"free", "free"}));
        QCOMPARE(rowCells(subject(), 2), RowCells({"", "Contains (whole word)", "free", "No", "Yes", ""}));
        QCOMPARE(subject().picture(2), MarkState::Check);
        QCOMPARE(countOf(RuleTable::Subject), QString("2"));

        // The import saved the tables, so Cancel's reload keeps the rows.
        window->btCancelClick();
        QCOMPARE(subjectPatterns(subject()), QStringList({"free", "free"}));

        // OK removes the second: it equals the row above it.
        window->btOKClick();
        QCOMPARE(subjectPatterns(subject()), QStringList({"free"}));
        RuleSet reloaded;
        QVERIFY(readSettings(reloaded, dir->path()).ok());
        QCOMPARE(subjectPatterns(reloaded.SubjectRules), QStringList({"free"}));
    }

    void cancelledImportStillSaves()
    {
        addSubjectRule(subject(), "in memory");
        window->runDialog = [](QDialog &) { return int(QDialog::Rejected); };
        window->importClick(RuleTable::Subject);
        RuleSet reloaded;
        QVERIFY(readSettings(reloaded, dir->path()).ok());
        QCOMPARE(subjectPatterns(reloaded.SubjectRules), QStringList({"in memory"}));
    }

    void importAddresses()
    {
        answerImport("a@example.org\nb@example.org, c@example.org");
        window->importClick(RuleTable::Exception);
        QCOMPARE(rules->ExceptionRules.rowCount(), 3);
        QCOMPARE(rowCells(rules->ExceptionRules, 2),
                 RowCells({"E-mail address", "Equals", "b@example.org, c@example.org", "No", "", ""}));
        QCOMPARE(countOf(RuleTable::Exception), QString("2"));
    }

    void okRemovesOnlyAdjacentIdenticalRows()
    {
        addSubjectRule(subject(), "a");
        addSubjectRule(subject(), "b");
        addSubjectRule(subject(), "a");
        addSubjectRule(subject(), "c", "1");
        addSubjectRule(subject(), "c", "2");
        addSubjectRule(subject(), "d", "3");
        addSubjectRule(subject(), "d", "3");
        addSubjectRule(subject(), "d", "3");
        window->btOKClick();
        QCOMPARE(subjectPatterns(subject()), QStringList({"a", "b", "a", "c", "c", "d"}));
        QCOMPARE(window->result(), int(QDialog::Accepted));
    }

    void hitsCellTakesOnlyNonNegativeIntegers()
    {
        window->show(); // showing reloads the tables
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        addSubjectRule(subject(), "free", "5");
        refresh(RuleTable::Subject);
        QTableView *grid = window->page(RuleTable::Subject).grid;
        grid->setFocus();

        auto typeInto = [&](int column, const QString &text) {
            grid->setCurrentIndex(grid->model()->index(0, column));
            grid->edit(grid->currentIndex());
            auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
            QVERIFY(editor);
            editor->selectAll();
            editor->setText(text);
            QPointer<QLineEdit> open(editor);
            QTest::keyClick(editor, Qt::Key_Return);
            // The cell is taken and the editor closed once the event loop runs.
            QTRY_VERIFY(open.isNull());
        };
        for (const QString &refused : {QString("-1"), QString("1.5"), QString(""), QString("x")}) {
            typeInto(SubjectCol::Hits, refused);
            QCOMPARE(subject().cell(SubjectCol::Hits, 1), QString("5"));
        }
        typeInto(SubjectCol::Hits, "007");
        QCOMPARE(subject().cell(SubjectCol::Hits, 1), QString("007"));

        // Matches takes any text, and Enter moves on to the cell to the right.
        typeInto(SubjectCol::Matches, "money");
        QCOMPARE(subject().cell(SubjectCol::Matches, 1), QString("money"));
        QCOMPARE(grid->currentIndex().column(), SubjectCol::Case);
        // Only the listed columns are typed in.
        QVERIFY(!(grid->model()->flags(grid->model()->index(0, SubjectCol::What)) & Qt::ItemIsEditable));
    }

    void headingClickSortsSortableColumns()
    {
        addSubjectRule(subject(), "b", "10");
        addSubjectRule(subject(), "A", "9");
        addSubjectRule(subject(), "c", "100");
        refresh(RuleTable::Subject);
        QHeaderView *header = window->page(RuleTable::Subject).grid->horizontalHeader();
        emit header->sectionClicked(SubjectCol::Hits);
        QCOMPARE(subjectPatterns(subject()), QStringList({"A", "b", "c"}));
        emit header->sectionClicked(SubjectCol::Matches);
        QCOMPARE(subjectPatterns(subject()), QStringList({"A", "b", "c"}));
        emit header->sectionClicked(SubjectCol::What); // not sortable
        QCOMPARE(subjectPatterns(subject()), QStringList({"A", "b", "c"}));
    }

    void printLongTableToPdf()
    {
        for (int i = 0; i < 300; ++i)
            addSubjectRule(subject(), QString("keyword number %1").arg(i), QString::number(i));
        const QString pdf = dir->filePath("subject.pdf");
        window->choosePrinter = [pdf](QPrinter &printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        };
        window->printClick(RuleTable::Subject);
        const QByteArray bytes = readFile(pdf);
        QVERIFY(bytes.startsWith("%PDF"));
        const qsizetype pages = QString::fromLatin1(bytes).count(QRegularExpression("/Type\\s*/Page(?!s)"));
        QVERIFY2(pages >= 4, qPrintable(QString::number(pages)));
        QVERIFY(prompts->asked.isEmpty());

        // A cancelled print dialog prints nothing.
        QFile::remove(pdf);
        window->choosePrinter = [](QPrinter &) { return false; };
        window->printClick(RuleTable::Subject);
        QVERIFY(!QFile::exists(pdf));
    }

    void sizePage()
    {
        window->show();
        QVERIFY(!window->edSmaller->isEnabled());
        QVERIFY(!window->rbLargerQuestion->isEnabled());
        window->cbSmaller->click();
        QVERIFY(window->edSmaller->isEnabled() && window->rbSmallerCheck->isEnabled());
        QVERIFY(!window->edLarger->isEnabled());
        window->edSmaller->setValue(300);
        window->rbSmallerQuestion->click();
        QCOMPARE(window->edLarger->maximum(), 99999999);
        QCOMPARE(window->edLarger->singleStep(), 100);
        QVERIFY(rules->sizeRules.smallerEnabled);
        QCOMPARE(rules->sizeRules.smallerLimit, 300);
        QVERIFY(!rules->sizeRules.smallerCheck);

        window->btOKClick();
        RuleSet reloaded;
        QVERIFY(readSettings(reloaded, dir->path()).ok());
        QCOMPARE(reloaded.sizeRules, rules->sizeRules);
    }

    void cancelAndEscapeReloadButTitleBarCloseKeeps()
    {
        window->show();
        addSubjectRule(subject(), "unsaved");
        window->reject(); // Escape
        QCOMPARE(subject().cell(SubjectCol::Matches, 1), QString());

        window->show();
        addSubjectRule(subject(), "unsaved");
        window->close();
        QCOMPARE(subject().cell(SubjectCol::Matches, 1), QString("unsaved"));
        // Showing again reloads from disk.
        window->show();
        QCOMPARE(subject().cell(SubjectCol::Matches, 1), QString());
        QCOMPARE(countOf(RuleTable::Subject), QString("1"));
    }

    void keyboard()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        // Alt+I is Insert on the page shown.
        answerSubjectEditor("typed");
        QTest::keyClick(window.get(), Qt::Key_I, Qt::AltModifier);
        QTRY_COMPARE(subject().cell(SubjectCol::Matches, 1), QString("typed")); // the button animates its click

        // Enter in the grid moves along the row and does not close the window.
        QTableView *grid = window->page(RuleTable::Subject).grid;
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, SubjectCol::What));
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(grid->currentIndex().column(), SubjectCol::Matches);
        QVERIFY(window->isVisible());

        // Escape is the window's Cancel: the unsaved rule goes.
        QTest::keyClick(grid, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QCOMPARE(subject().cell(SubjectCol::Matches, 1), QString());
    }

    void helpOpensTopic100()
    {
        int topic = 0;
        window->showHelp = [&topic](int t) { topic = t; };
        window->btHelp->click();
        QCOMPARE(topic, 100);
    }

    void missingKnownList()
    {
        window->show();
        QCOMPARE(window->knownStack->currentWidget(), window->pnlRebuild);
        QCOMPARE(window->pnlRebuild->text(), QString("Could not locate the known spammer blacklist!"));
        QVERIFY(!window->btKnownEdit->isVisible() && !window->btKnownSave->isVisible());
        QCOMPARE(window->lblKnownCount->text(), QString("0"));
    }

    void knownListEditSaveCancel()
    {
        QFile file(dir->filePath("known.lst"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("zeta.example\r\nalpha.example\r\n");
        file.close();
        window->show();
        QCOMPARE(window->knownStack->currentWidget(), window->memoKnown);
        QVERIFY(window->memoKnown->isReadOnly());
        QVERIFY(window->btKnownEdit->isEnabled() && !window->btKnownSave->isEnabled()
                && !window->btKnownCancel->isEnabled());
        QCOMPARE(window->lblKnownCount->text(), QString("2"));

        window->btKnownEditClick();
        QVERIFY(!window->memoKnown->isReadOnly());
        QVERIFY(window->btKnownSave->isEnabled() && window->btKnownCancel->isEnabled());
        window->memoKnown->setPlainText("zeta.example\nalpha.example\n12345@spam.example\nmid.example\n");
        window->btKnownCancelClick();
        QVERIFY(window->memoKnown->isReadOnly());
        QCOMPARE(window->memoKnown->toPlainText(), QString("zeta.example\nalpha.example\n"));

        window->btKnownEditClick();
        window->memoKnown->setPlainText("zeta.example\nalpha.example\n12345@spam.example\nmid.example\n");
        window->btKnownSaveClick();
        QVERIFY(window->memoKnown->isReadOnly() && !window->btKnownSave->isEnabled());
        QCOMPARE(readFile(dir->filePath("known.lst")), QByteArray("alpha.example\r\nmid.example\r\nzeta.example\r\n"));
        QCOMPARE(window->lblKnownCount->text(), QString("3"));
        QCOMPARE(rules->knownList.count(), 3);

        // OK finishes a pending edit.
        window->btKnownEditClick();
        window->memoKnown->setPlainText("only.example\n");
        window->btOKClick();
        QCOMPARE(readFile(dir->filePath("known.lst")), QByteArray("only.example\r\n"));
    }
};

QTEST_MAIN(TestSpamSettings)
#include "tst_spamsettings.moc"
