#include "settings/frmimportspam.h"

#include "settings/ruleeditors.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

TfrmImportSpam::TfrmImportSpam(const QString &title, QWidget *parent)
    : RuleEditorDialog(tr("Import new keywords"), title, QString(), nullptr, parent), memo(new QPlainTextEdit(this))
{
    // Wrapping is for the eye only: the lines handed over are the typed ones.
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setTabChangesFocus(true);
    memo->setMinimumSize(fontMetrics().averageCharWidth() * 48, fontMetrics().height() * 12);
    auto *text = new QLabel(tr("A quick way to enter new SPAM subject keywords is to paste them into "
                               "the box above or type them in.  They should be entered one per line.  "
                               "This will allow you to quickly expand the number of keywords that "
                               "Mailsieve searches for."),
                            this);
    text->setWordWrap(true);
    body()->addWidget(memo, 1);
    body()->addWidget(text);
    memo->setFocus();
}

bool TfrmImportSpam::checkInput()
{
    lines_ = ruleeditors::importedLines(memo->toPlainText());
    memo->setPlainText(lines_.join(u'\n'));
    return true;
}
