// The rule editor dialogs, the import dialog and the mailbox chooser driven
// through their widgets: defaults, what a choice shows, refusals with the
// focus, and what they hand back.

#include "rules/rulelist.h"
#include "settings/frmalwaysaccept.h"
#include "settings/frmheaders.h"
#include "settings/frmimportspam.h"
#include "settings/frmoptionsfrom.h"
#include "settings/frmoptionssubject.h"
#include "settings/frmwhichmailbox.h"
#include "support/scriptedprompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QtTest>

using namespace ruleeditors;

namespace {

void showActive(QWidget &w)
{
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

MailboxTable mailboxesOneAndThree()
{
    MailboxTable boxes;
    for (int i = 0; i < kMailboxCount; ++i)
        boxes[i].number = i + 1;
    boxes[0].server = "pop.one.example";
    boxes[0].mailbox = "ann";
    boxes[2].server = "pop.three.example";
    boxes[2].mailbox = "bob";
    return boxes;
}

} // namespace

class TestFrmEditors : public QObject
{
    Q_OBJECT

private slots:
    void subjectEditorDefaultsAndVisibility()
    {
        ScriptedPrompts prompts;
        TfrmOptionsSubject dialog(prompts);
        QCOMPARE(dialog.windowTitle(), QString("Subject line options"));
        dialog.setRule(SubjectRule{});
        showActive(dialog);
        QCOMPARE(dialog.cbOperator->currentText(), QString("Contains"));
        QCOMPARE(dialog.cbOperator->count(), 7);
        QVERIFY(dialog.edPattern->hasFocus());
        QVERIFY(dialog.pnlMark->isCheckMark());

        dialog.cbOperator->setCurrentIndex(5);
        QVERIFY(!dialog.edPattern->isVisible());
        QVERIFY(!dialog.cbCase->isVisible());
        dialog.cbOperator->setCurrentIndex(4);
        QVERIFY(dialog.edPattern->isVisible());
        QVERIFY(dialog.cbCase->isVisible());
    }

    void subjectEditorRefusesBlankPattern()
    {
        ScriptedPrompts prompts;
        TfrmOptionsSubject dialog(prompts);
        dialog.setRule(SubjectRule{});
        showActive(dialog);
        dialog.edPattern->setEditText("   ");
        dialog.cbCase->setFocus();
        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error),
                 QStringList{"Please enter the text to look for in the subject line."});
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.edPattern->hasFocus());

        // Enter in the pattern box is the OK button; the pattern is trimmed.
        dialog.edPattern->setEditText("  free ");
        QTest::keyClick(dialog.edPattern, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.edPattern->currentText(), QString("free"));
        // Typing did not add to the suggestions.
        QCOMPARE(dialog.edPattern->count(), subjectSuggestions().size());
    }

    void subjectEditorEscapeCancels()
    {
        ScriptedPrompts prompts;
        TfrmOptionsSubject dialog(prompts);
        showActive(dialog);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(prompts.asked.isEmpty());
    }

    void subjectEditorBlankOperatorIgnoresPattern()
    {
        ScriptedPrompts prompts;
        TfrmOptionsSubject dialog(prompts);
        dialog.setRule(SubjectRule{});
        dialog.cbOperator->setCurrentIndex(5);
        dialog.edPattern->setEditText("hidden text");
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        RowCells cells;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"", "Is blank", "", "", "Yes", "0"}));
    }

    void headerEditorMailboxListAndChoices()
    {
        ScriptedPrompts prompts;
        TfrmHeaders dialog(mailboxesWithServer(mailboxesOneAndThree()), prompts);
        dialog.setRule(HeaderRule{});
        showActive(dialog);
        QCOMPARE(dialog.cbMailbox->count(), 2);
        QCOMPARE(dialog.cbMailbox->itemText(1), QString("3) bob - server pop.three.example"));
        QCOMPARE(dialog.cbMailbox->currentIndex(), 0);
        QVERIFY(dialog.rbMessageHeader->isChecked());
        QCOMPARE(dialog.edHeader->currentText(), QString("X-1"));
        QVERIFY(dialog.cbOperator->isVisible() && !dialog.edTo->isVisible() && !dialog.cbMailbox->isVisible());

        dialog.rbToNotContain->click();
        QVERIFY(!dialog.cbOperator->isVisible() && !dialog.edHeader->isVisible() && !dialog.cbCase->isVisible());
        QVERIFY(dialog.edTo->isVisible() && dialog.cbMailbox->isVisible() && dialog.lblMailbox->isVisible());

        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList{"The TO field cannot be blank"});
        QVERIFY(dialog.edTo->hasFocus());
        QVERIFY(dialog.isVisible());

        dialog.edTo->setText("me@example.org - MailBox #7");
        dialog.cbMailbox->setCurrentIndex(1);
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        RowCells cells;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"", "To does not contain", "me@example.org - MailBox #3", "No", "Yes", "0"}));
    }

    void headerEditorRefusesEmptyHeaderText()
    {
        ScriptedPrompts prompts;
        TfrmHeaders dialog({}, prompts);
        dialog.setRule(HeaderRule{});
        showActive(dialog);
        dialog.edHeader->setEditText("");
        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList{"The header text cannot be blank"});
        QVERIFY(dialog.edHeader->hasFocus());

        // A single blank is refused the same way: it would match nearly every header line.
        prompts.asked.clear();
        dialog.edHeader->setEditText(" ");
        dialog.cbCase->setFocus();
        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList{"The header text cannot be blank"});
        QVERIFY(dialog.edHeader->hasFocus());
        QVERIFY(dialog.isVisible());
    }

    void headerEditorFilledFromToRows()
    {
        ScriptedPrompts prompts;
        const QList<MailboxChoice> boxes = mailboxesWithServer(mailboxesOneAndThree());
        {
            TfrmHeaders dialog(boxes, prompts);
            dialog.setRule(HeaderRule::fromRow({"", "To does not contain", "me@x.org - MailBox #3", "No", "No", "5"}));
            QVERIFY(dialog.rbToNotContain->isChecked());
            QCOMPARE(dialog.edTo->text(), QString("me@x.org"));
            QCOMPARE(dialog.cbMailbox->currentIndex(), 1);
            QVERIFY(!dialog.pnlMark->isCheckMark());
        }
        // No number stored (no mailbox was configured then), or one no longer
        // listed: the first mailbox is selected and the row stays usable.
        for (const QString &matches : {QString("me@x.org - MailBox #"), QString("me@x.org - MailBox #9")}) {
            TfrmHeaders dialog(boxes, prompts);
            dialog.setRule(HeaderRule::fromRow({"", "To does not contain", matches, "No", "Yes", ""}));
            QVERIFY(dialog.rbToNotContain->isChecked());
            QCOMPARE(dialog.cbMailbox->currentIndex(), 0);
            dialog.btOKClick();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.rule().mailbox, 1);
        }
        QVERIFY(prompts.asked.isEmpty());
    }

    void headerEditorReplyToRowUnchanged()
    {
        ScriptedPrompts prompts;
        TfrmHeaders dialog({}, prompts);
        const RowCells stored{"", "Sender", "does not match Reply-to", "No", "Yes", "4"};
        dialog.setRule(HeaderRule::fromRow(stored));
        QVERIFY(dialog.rbReplyTo->isChecked());
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        RowCells cells = stored;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, stored);
    }

    void headerEditorServerFinding()
    {
        ScriptedPrompts prompts;
        TfrmHeaders dialog({}, prompts);
        dialog.setRule(HeaderRule{});
        showActive(dialog);
        QVERIFY(!dialog.cbFinding->isVisible() && !dialog.edLevel->isVisible());
        QVERIFY(dialog.lblServerNote->text().contains("trusted server"));

        dialog.rbServerFinding->click();
        QCOMPARE(dialog.cbFinding->count(), 6);
        QVERIFY(dialog.cbFinding->isVisible() && !dialog.edLevel->isVisible() && !dialog.edHeader->isVisible());
        dialog.cbFinding->setCurrentIndex(serverFindingPosition("bulk level at least"));
        QVERIFY(dialog.edLevel->isVisible() && dialog.lblLevel->isVisible());
        dialog.edLevel->setText("12");
        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error),
                 QStringList{"The bulk level must be a number from 0 to 9"});
        QVERIFY(dialog.edLevel->hasFocus());
        QVERIFY(dialog.isVisible());

        dialog.edLevel->setText("4");
        dialog.pnlMark->setCheckMark(false);
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        RowCells cells;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"", "bulk level at least", "4", "No", "No", "0"}));

        TfrmHeaders again({}, prompts);
        again.setRule(HeaderRule::fromRow({"", "fails SPF", "", "No", "Yes", "2"}));
        QVERIFY(again.rbServerFinding->isChecked());
        QCOMPARE(again.cbFinding->currentIndex(), serverFindingPosition("fails SPF"));
        QVERIFY(!again.edLevel->isVisibleTo(&again));
        again.setRule(HeaderRule::fromRow(cells));
        QCOMPARE(again.cbFinding->currentIndex(), serverFindingPosition("bulk level at least"));
        QCOMPARE(again.edLevel->text(), QString("4"));
        QVERIFY(again.edLevel->isVisibleTo(&again));
    }

    void senderEditor()
    {
        ScriptedPrompts prompts;
        TfrmOptionsFROM dialog(prompts);
        dialog.setRule(SenderRule{});
        showActive(dialog);
        QVERIFY(dialog.cbOperator->hasFocus());
        QCOMPARE(dialog.cbPart->currentText(), QString("Domain name"));
        QCOMPARE(dialog.cbOperator->currentText(), QString("Equals (exact match)"));
        QVERIFY(dialog.pnlMark->isCheckMark());

        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList{"The Sender field cannot be left blank."});
        QVERIFY(dialog.edPattern->hasFocus());

        dialog.cbOperator->setCurrentIndex(8);
        QVERIFY(!dialog.edPattern->isVisible());
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        RowCells cells;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"", "Domain name", "50% numeric", "", "Yes", "0"}));
    }

    void exceptionEditor()
    {
        ScriptedPrompts prompts;
        TfrmAlwaysAccept dialog(prompts);
        showActive(dialog);
        QVERIFY(dialog.rbAddress->isChecked());
        QCOMPARE(dialog.cbOperator->currentText(), QString("Contains"));
        QVERIFY(dialog.edAddress->isVisible() && !dialog.edDomain->isVisible() && !dialog.edSubject->isVisible());
        QVERIFY(dialog.edAddress->hasFocus());

        dialog.rbDomain->click();
        QVERIFY(dialog.edDomain->isVisible() && !dialog.edAddress->isVisible() && !dialog.cbCase->isVisible());
        QVERIFY(dialog.edDomain->hasFocus());
        dialog.rbAddress->setFocus();
        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList{"The domain line cannot be blank"});
        QVERIFY(dialog.edDomain->hasFocus());

        // One blank is accepted: only an empty field is refused.
        dialog.rbAddress->click();
        dialog.edAddress->setText(" ");
        dialog.btOKClick();
        QCOMPARE(prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList{"The domain line cannot be blank"});
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.rule().address, QString(" "));

        // Texts are stored as typed.
        dialog.edAddress->setText(" joe@example.org");
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        RowCells cells;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"E-mail address", "Equals", " joe@example.org", "No", "0", ""}));
    }

    void exceptionEditorFilledFromSubjectRow()
    {
        ScriptedPrompts prompts;
        TfrmAlwaysAccept dialog(prompts);
        dialog.setRule(ExceptionRule::fromRow({"Subject", "Ends with", "[list]", "Yes", "3"}));
        showActive(dialog);
        QVERIFY(dialog.rbSubject->isChecked());
        QVERIFY(dialog.edSubject->isVisible() && dialog.cbCase->isVisible() && dialog.cbCase->isChecked());
        QCOMPARE(dialog.cbOperator->currentText(), QString("Ends with"));
        QCOMPARE(dialog.edSubject->text(), QString("[list]"));
    }

    void exceptionEditorDmarcOnlyForSenders()
    {
        ScriptedPrompts prompts;
        TfrmAlwaysAccept dialog(prompts);
        dialog.setRule(ExceptionRule::fromRow({"Domain name", "Equals", "bank.example", "No", "2", "Yes"}));
        QVERIFY(dialog.rbDomain->isChecked());
        QVERIFY(dialog.cbDmarc->isChecked() && dialog.cbDmarc->isEnabled());
        QVERIFY(dialog.cbDmarc->toolTip().contains("General settings"));

        dialog.rbSubject->click();
        QVERIFY(!dialog.cbDmarc->isEnabled());
        dialog.edSubject->setText("statement");
        RowCells cells;
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"Subject", "Equals", "statement", "No", "0", ""}));

        dialog.rbAddress->click();
        QVERIFY(dialog.cbDmarc->isEnabled());
        dialog.edAddress->setText("alerts@bank.example");
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        dialog.rule().writeTo(cells);
        QCOMPARE(cells, RowCells({"E-mail address", "Equals", "alerts@bank.example", "No", "0", "Yes"}));
    }

    void importHandsOverTypedLines()
    {
        TfrmImportSpam dialog("Import spam keywords");
        QCOMPARE(dialog.windowTitle(), QString("Import new keywords"));
        showActive(dialog);
        const QString longLine = QString("averyveryverylongkeyword ").repeated(10).trimmed();
        dialog.memo->setPlainText("free\nfree\nFREE\nfree\n" + longLine);
        // The box shows the long line over several screen lines ...
        QVERIFY(dialog.memo->document()->lastBlock().layout()->lineCount() > 1);
        dialog.btOKClick();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // ... but it arrives whole.
        QCOMPARE(dialog.lines(), QStringList({"free", "FREE", "free", longLine}));
        QCOMPARE(dialog.memo->toPlainText(), QString("free\nFREE\nfree\n") + longLine);
    }

    void mailboxChooserSelectsCurrent()
    {
        const QList<MailboxChoice> boxes = mailboxesWithServer(mailboxesOneAndThree());
        TfrmWhichMailbox dialog(boxes, 3);
        QCOMPARE(dialog.windowTitle(), QString("Which Mail Box?"));
        QCOMPARE(dialog.cbMailbox->count(), 2);
        QCOMPARE(dialog.cbMailbox->itemText(0), QString("1) Mailbox ann - Server pop.one.example"));
        QCOMPARE(dialog.cbMailbox->currentIndex(), 1);
        QCOMPARE(dialog.chosenMailbox(), 3);
        dialog.cbMailbox->setCurrentIndex(0);
        QCOMPARE(dialog.chosenMailbox(), 1);

        // A current mailbox without an entry: none selected, and it stays chosen.
        TfrmWhichMailbox other(boxes, 5);
        QCOMPARE(other.cbMailbox->currentIndex(), -1);
        QCOMPARE(other.chosenMailbox(), 5);
    }

    void mailboxChooserModal()
    {
        const MailboxTable boxes = mailboxesOneAndThree();
        QTimer::singleShot(0, [] {
            auto *dialog = qobject_cast<TfrmWhichMailbox *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->cbMailbox->setCurrentIndex(0);
            QTest::keyClick(dialog->cbMailbox, Qt::Key_Return);
        });
        QCOMPARE(TfrmWhichMailbox::choose(boxes, 3), std::optional<int>(1));

        QTimer::singleShot(0, [] {
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QCOMPARE(TfrmWhichMailbox::choose(boxes, 3), std::nullopt);
    }
};

QTEST_MAIN(TestFrmEditors)
#include "tst_frmeditors.moc"
