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
      rbMessageHeader(new QRadioButton(tr("Message &Header"), this)),
      rbServerFinding(new QRadioButton(tr("Your &receiving server found:"), this)), edTo(new QLineEdit(this)),
      lblMailbox(new QLabel(tr("For Mail&box:"), this)), cbMailbox(new QComboBox(this)),
      cbOperator(makeOperatorList(textOperatorCount, this)), edHeader(makeSuggestionBox(headerSuggestions(), this)),
      cbCase(new QCheckBox(tr("&Check if case matters (upper/lower)"), this)), cbFinding(new QComboBox(this)),
      lblLevel(new QLabel(tr("&Level (0 to 9):"), this)), edLevel(new QLineEdit(this)),
      lblServerNote(
          new QLabel(tr("These read only what the mailbox's trusted server (General settings) wrote."), this)),
      pnlMark(new MarkChoicePanel(tr("check &mark"), tr("&question mark"), this))
{
    auto *group = new QButtonGroup(this);
    for (QRadioButton *button : {rbReplyTo, rbSenderTo, rbToNotContain, rbMessageHeader, rbServerFinding})
        group->addButton(button);

    for (const OperatorChoice &finding : serverFindingChoices())
        cbFinding->addItem(finding.shown);
    cbFinding->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    lblLevel->setBuddy(edLevel);
    edLevel->setToolTip(tr("The bulk level (BCL) your server wrote, from 0 to 9; higher is more like bulk mail"));
    edLevel->setFixedWidth(fontMetrics().averageCharWidth() * 6);
    // Anyone can write such fields into a message; only the trusted server's count.
    lblServerNote->setWordWrap(true);

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
    grid->addWidget(rbServerFinding, 7, 0, 1, 2);
    grid->addWidget(cbFinding, 7, 2);
    grid->addWidget(lblLevel, 8, 1, Qt::AlignRight);
    grid->addWidget(edLevel, 8, 2, Qt::AlignLeft);
    grid->addWidget(lblServerNote, 9, 1, 1, 2);
    body()->addLayout(grid);
    body()->addWidget(pnlMark);
    for (QWidget *w : std::initializer_list<QWidget *>{edTo, lblMailbox, cbMailbox, cbOperator, edHeader, cbCase,
                                                       cbFinding, lblLevel, edLevel})
        keepPlaceWhenHidden(w);

    setTabOrder(rbMessageHeader, cbOperator);
    setTabOrder(cbOperator, edHeader);
    setTabOrder(edHeader, cbCase);
    setTabOrder(rbToNotContain, edTo);
    setTabOrder(edTo, cbMailbox);
    setTabOrder(rbServerFinding, cbFinding);
    setTabOrder(cbFinding, edLevel);

    connect(group, &QButtonGroup::buttonToggled, this, [this](QAbstractButton *, bool on) {
        if (on)
            rbChoiceClick();
    });
    connect(cbFinding, &QComboBox::currentIndexChanged, this, &TfrmHeaders::rbChoiceClick);
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
    if (rbServerFinding->isChecked())
        return HeaderChoice::ServerFinding;
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
    case HeaderChoice::ServerFinding:
        return rbServerFinding;
    case HeaderChoice::MessageHeader:
        break;
    }
    return rbMessageHeader;
}

QWidget *TfrmHeaders::fieldOf(HeaderRule::Field field) const
{
    switch (field) {
    case HeaderRule::Field::ToText:
        return edTo;
    case HeaderRule::Field::BulkLevel:
        return edLevel;
    case HeaderRule::Field::HeaderText:
        break;
    }
    return edHeader;
}

void TfrmHeaders::setRule(const HeaderRule &rule)
{
    cbOperator->setCurrentIndex(rule.operatorPos);
    edHeader->setEditText(rule.headerText);
    cbCase->setChecked(rule.caseSensitive);
    pnlMark->setCheckMark(rule.checkMark);
    edTo->setText(rule.toText);
    cbFinding->setCurrentIndex(rule.findingPos);
    edLevel->setText(rule.bulkLevel);
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
    rule.findingPos = cbFinding->currentIndex();
    rule.bulkLevel = edLevel->text();
    rule.checkMark = pnlMark->isCheckMark();
    return rule;
}

bool TfrmHeaders::checkInput()
{
    if (const auto problem = rule().problem()) {
        refuse(problem->message, fieldOf(problem->field));
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
    const bool server = rbServerFinding->isChecked();
    const bool level = server && findingTakesLevel(cbFinding->currentIndex());
    cbFinding->setVisible(server);
    lblLevel->setVisible(level);
    edLevel->setVisible(level);
}
