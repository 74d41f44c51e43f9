#include "settings/frmoptionsfrom.h"

#include "rules/ruletexts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace ruleeditors;

namespace {
enum PartIndex { EmailAddressPart, DomainNamePart };
}

TfrmOptionsFROM::TfrmOptionsFROM(Prompts &prompts, QWidget *parent)
    : RuleEditorDialog(tr("Sender characteristics"), tr("The Sender characteristics"),
                       tr("If the sender matches the distinguishing characteristics below it will "
                          "be marked for deletion."),
                       &prompts, parent),
      cbPart(new QComboBox(this)), cbOperator(makeOperatorList(senderOperatorCount, this)),
      edPattern(makeSuggestionBox(senderSuggestions(), this)),
      pnlMark(new MarkChoicePanel(tr("&check mark"), tr("&question mark"), this))
{
    cbPart->addItems({RuleText::EmailAddress, RuleText::DomainName});
    auto *label = new QLabel(tr("The sender's e-mail/domain &address (as viewed on the main screen):"), this);
    label->setWordWrap(true);
    label->setBuddy(cbPart);
    auto *hint = new QLabel(tr("An e-mail address includes the domain name; the domain name is the "
                               "part after the @ sign."),
                            this);
    hint->setWordWrap(true);
    auto *numericNotes = new QLabel(tr("An all numeric sender looks like 12345678@example.com\n"
                                       "A 1/2 numeric sender looks like jd48213@example.com"),
                                    this);
    numericNotes->setEnabled(false);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(2, 1);
    grid->addWidget(label, 0, 0, 1, 3);
    grid->addWidget(cbPart, 1, 0);
    grid->addWidget(cbOperator, 1, 1);
    grid->addWidget(edPattern, 1, 2);
    grid->addWidget(hint, 2, 0, 1, 3);
    grid->addWidget(numericNotes, 3, 0, 1, 3);
    body()->addLayout(grid);
    body()->addWidget(pnlMark);
    keepPlaceWhenHidden(edPattern);

    connect(cbOperator, &QComboBox::currentIndexChanged, this, &TfrmOptionsFROM::cbOperatorChange);
    cbPart->setCurrentIndex(DomainNamePart);
    cbOperator->setCurrentIndex(-1);
    cbOperatorChange();
    cbOperator->setFocus();
}

void TfrmOptionsFROM::setRule(const SenderRule &rule)
{
    cbPart->setCurrentIndex(rule.emailAddress ? EmailAddressPart : DomainNamePart);
    cbOperator->setCurrentIndex(rule.operatorPos);
    edPattern->setEditText(rule.pattern);
    pnlMark->setCheckMark(rule.checkMark);
}

SenderRule TfrmOptionsFROM::rule() const
{
    SenderRule rule;
    rule.emailAddress = cbPart->currentIndex() == EmailAddressPart;
    rule.operatorPos = cbOperator->currentIndex();
    rule.pattern = edPattern->currentText();
    rule.checkMark = pnlMark->isCheckMark();
    return rule;
}

bool TfrmOptionsFROM::checkInput()
{
    if (const auto problem = rule().problem()) {
        refuse(*problem, edPattern);
        return false;
    }
    const bool takesPattern = operatorTakesPattern(cbOperator->currentIndex());
    edPattern->setEditText(takesPattern ? trimmedText(edPattern->currentText()) : QString());
    return true;
}

void TfrmOptionsFROM::cbOperatorChange()
{
    edPattern->setVisible(operatorTakesPattern(cbOperator->currentIndex()));
}
