#include "settings/frmoptionssubject.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace ruleeditors;

TfrmOptionsSubject::TfrmOptionsSubject(Prompts &prompts, QWidget *parent)
    : RuleEditorDialog(tr("Subject line options"), tr("The Subject line characteristics"),
                       tr("If text in the subject line follows any of these patterns it will be "
                          "marked for deletion since it looks like a potential spam."),
                       &prompts, parent),
      cbOperator(makeOperatorList(subjectOperatorCount, this)),
      edPattern(makeSuggestionBox(subjectSuggestions(), this)),
      cbCase(new QCheckBox(tr("&Check if case matters (upper/lower)"), this)),
      pnlMark(new MarkChoicePanel(tr("check &mark"), tr("&question mark"), this))
{
    auto *form = new QFormLayout;
    auto *label = new QLabel(tr("The &subject line:"), this);
    label->setBuddy(cbOperator);
    form->addRow(label, cbOperator);
    form->addRow(QString(), edPattern);
    form->addRow(QString(), cbCase);
    body()->addLayout(form);
    body()->addWidget(pnlMark);
    keepPlaceWhenHidden(edPattern);
    keepPlaceWhenHidden(cbCase);
    setTabOrder(cbOperator, edPattern);

    connect(cbOperator, &QComboBox::currentIndexChanged, this, &TfrmOptionsSubject::cbOperatorChange);
    cbOperator->setCurrentIndex(-1);
    cbOperatorChange();
    edPattern->setFocus();
}

void TfrmOptionsSubject::setRule(const SubjectRule &rule)
{
    cbOperator->setCurrentIndex(rule.operatorPos);
    edPattern->setEditText(rule.pattern);
    cbCase->setChecked(rule.caseSensitive);
    pnlMark->setCheckMark(rule.checkMark);
}

SubjectRule TfrmOptionsSubject::rule() const
{
    SubjectRule rule;
    rule.operatorPos = cbOperator->currentIndex();
    rule.pattern = edPattern->currentText();
    rule.caseSensitive = cbCase->isChecked();
    rule.checkMark = pnlMark->isCheckMark();
    return rule;
}

bool TfrmOptionsSubject::checkInput()
{
    if (const auto problem = rule().problem()) {
        refuse(*problem, edPattern);
        return false;
    }
    edPattern->setEditText(trimmedText(edPattern->currentText()));
    return true;
}

void TfrmOptionsSubject::cbOperatorChange()
{
    const bool takesPattern = operatorTakesPattern(cbOperator->currentIndex());
    edPattern->setVisible(takesPattern);
    cbCase->setVisible(takesPattern);
}
