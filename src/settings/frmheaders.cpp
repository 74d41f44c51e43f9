#include "settings/frmheaders.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace ruleeditors;

TfrmHeaders::TfrmHeaders(const QList<MailboxChoice> &mailboxes, Prompts &prompts, QWidget *parent)
    : RuleEditorDialog(tr("Header characteristics"), tr("The E-mail header characteristics"),
                       tr("If text in the e-mail header line follows any of these patterns it will "
                          "be marked for deletion since it looks like a potential spam."),
                       &prompts, parent),
      rbReplyTo(new QRadioButton(tr("The &Sender address does not match the 'Reply-to' address"), this)),
      rbSenderTo(new QRadioButton(tr("The Sender address &equals the 'To' address field"), this)),
      rbToNotContain(new QRadioButton(tr("The '&To' address does not contain:"), this)),
      rbMessageHeader(new QRadioButton(tr("Message &Header"), this)), edTo(new QLineEdit(this)),
      lblMailbox(new QLabel(tr("For Mail&box:"), this)), cbMailbox(new QComboBox(this)),
      cbOperator(makeOperatorList(textOperatorCount, this)), edHeader(makeSuggestionBox(headerSuggestions(), this)),
      cbCase(new QCheckBox(tr("&Check if case matters (upper/lower)"), this)),
      pnlMark(new MarkChoicePanel(tr("check &mark"), tr("&question mark"), this))
{
    auto *group = new QButtonGroup(this);
    for (QRadioButton *button : {rbReplyTo, rbSenderTo, rbToNotContain, rbMessageHeader})
        group->addButton(button);

    for (const MailboxChoice &box : mailboxes)
        cbMailbox->addItem(headerMailboxEntry(box));
    cbMailbox->setCurrentIndex(cbMailbox->count() > 0 ? 0 : -1);
    cbMailbox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    lblMailbox->setBuddy(cbMailbox);

    // Each choice's fields sit indented under its radio button.
    auto *grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, 20);
    grid->setColumnStretch(2, 1);
    grid->addWidget(rbReplyTo, 0, 0, 1, 3);
    grid->addWidget(rbSenderTo, 1, 0, 1, 3);
    grid->addWidget(rbToNotContain, 2, 0, 1, 2);
    grid->addWidget(edTo, 2, 2);
    grid->addWidget(lblMailbox, 3, 1, Qt::AlignRight);
    grid->addWidget(cbMailbox, 3, 2);
    grid->addWidget(rbMessageHeader, 4, 0, 1, 3);
    grid->addWidget(cbOperator, 5, 1);
    grid->addWidget(edHeader, 5, 2);
    grid->addWidget(cbCase, 6, 1, 1, 2);
    body()->addLayout(grid);
    body()->addWidget(pnlMark);
    for (QWidget *w : std::initializer_list<QWidget *>{edTo, lblMailbox, cbMailbox, cbOperator, edHeader, cbCase})
        keepPlaceWhenHidden(w);

    setTabOrder(rbMessageHeader, cbOperator);
    setTabOrder(cbOperator, edHeader);
    setTabOrder(edHeader, cbCase);
    setTabOrder(rbToNotContain, edTo);
    setTabOrder(edTo, cbMailbox);

    connect(group, &QButtonGroup::buttonToggled, this, [this](QAbstractButton *, bool on) {
        if (on)
            rbChoiceClick();
    });
    rbMessageHeader->setChecked(true);
    cbOperator->setCurrentIndex(-1);
    rbChoiceClick();
}

HeaderChoice TfrmHeaders::choice() const
{
    if (rbReplyTo->isChecked())
        return HeaderChoice::ReplyToMismatch;
    if (rbSenderTo->isChecked())
        return HeaderChoice::SenderEqualsTo;
    if (rbToNotContain->isChecked())
        return HeaderChoice::ToDoesNotContain;
    return HeaderChoice::MessageHeader;
}

QRadioButton *TfrmHeaders::buttonOf(HeaderChoice choice) const
{
    switch (choice) {
    case HeaderChoice::ReplyToMismatch:
        return rbReplyTo;
    case HeaderChoice::SenderEqualsTo:
        return rbSenderTo;
    case HeaderChoice::ToDoesNotContain:
        return rbToNotContain;
    case HeaderChoice::MessageHeader:
        break;
    }
    return rbMessageHeader;
}

void TfrmHeaders::setRule(const HeaderRule &rule)
{
    cbOperator->setCurrentIndex(rule.operatorPos);
    edHeader->setEditText(rule.headerText);
    cbCase->setChecked(rule.caseSensitive);
    pnlMark->setCheckMark(rule.checkMark);
    edTo->setText(rule.toText);
    // A rule without a known mailbox keeps the first entry selected.
    for (int i = 0; i < cbMailbox->count(); ++i) {
        if (rule.mailbox > 0 && leadingMailboxNumber(cbMailbox->itemText(i)) == rule.mailbox)
            cbMailbox->setCurrentIndex(i);
    }
    buttonOf(rule.choice)->setChecked(true);
}

HeaderRule TfrmHeaders::rule() const
{
    HeaderRule rule;
    rule.choice = choice();
    rule.operatorPos = cbOperator->currentIndex();
    rule.headerText = edHeader->currentText();
    rule.caseSensitive = cbCase->isChecked();
    rule.toText = edTo->text();
    rule.mailbox = leadingMailboxNumber(cbMailbox->currentText());
    rule.checkMark = pnlMark->isCheckMark();
    return rule;
}

bool TfrmHeaders::checkInput()
{
    if (const auto problem = rule().problem()) {
        refuse(problem->message, problem->field == HeaderRule::Field::ToText ? static_cast<QWidget *>(edTo)
                                                                             : static_cast<QWidget *>(edHeader));
        return false;
    }
    return true;
}

void TfrmHeaders::rbChoiceClick()
{
    const bool header = rbMessageHeader->isChecked();
    const bool to = rbToNotContain->isChecked();
    cbOperator->setVisible(header);
    edHeader->setVisible(header);
    cbCase->setVisible(header);
    edTo->setVisible(to);
    lblMailbox->setVisible(to);
    cbMailbox->setVisible(to);
}
