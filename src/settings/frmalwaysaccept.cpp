#include "settings/frmalwaysaccept.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace ruleeditors;

TfrmAlwaysAccept::TfrmAlwaysAccept(Prompts &prompts, QWidget *parent)
    : RuleEditorDialog(tr("Accept e-mail from"), tr("Always accept e-mail when:"), QString(), &prompts, parent),
      rbAddress(new QRadioButton(tr("The &explicit e-mail address is:"), this)),
      rbDomain(new QRadioButton(tr("The &domain name is:"), this)),
      rbSubject(new QRadioButton(tr("When the &subject line "), this)), edAddress(new QLineEdit(this)),
      edDomain(new QLineEdit(this)), cbOperator(makeOperatorList(textOperatorCount, this)),
      edSubject(new QLineEdit(this)), cbCase(new QCheckBox(tr("&Check if case matters (upper/lower)"), this)),
      cbDmarc(new QCheckBox(tr("Only when DMARC &passes"), this))
{
    edAddress->setToolTip(tr("Enter the sender's e-mail address, for example friend@example.com"));
    edAddress->setPlaceholderText(tr("friend@example.com"));
    edDomain->setToolTip(tr("The domain name is the part of the address after the @ sign, "
                            "for example example.com"));
    edDomain->setPlaceholderText(tr("example.com"));
    edSubject->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
    // A From address is easily forged; DMARC at the user's own server ties it to its domain.
    cbDmarc->setToolTip(tr("Accept the message only when your receiving server says the sender's domain "
                           "passed DMARC. Needs a trusted server in the General settings."));

    auto *group = new QButtonGroup(this);
    for (QRadioButton *button : {rbAddress, rbDomain, rbSubject})
        group->addButton(button);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(2, 1);
    grid->addWidget(rbAddress, 0, 0);
    grid->addWidget(edAddress, 0, 1, 1, 2);
    grid->addWidget(rbDomain, 1, 0);
    grid->addWidget(edDomain, 1, 1, 1, 2);
    grid->addWidget(rbSubject, 2, 0);
    grid->addWidget(cbOperator, 2, 1);
    grid->addWidget(edSubject, 2, 2);
    grid->addWidget(cbCase, 3, 1, 1, 2);
    grid->addWidget(cbDmarc, 4, 0, 1, 3);
    body()->addLayout(grid);
    for (QWidget *w : std::initializer_list<QWidget *>{edAddress, edDomain, cbOperator, edSubject, cbCase})
        keepPlaceWhenHidden(w);

    setTabOrder(rbAddress, edAddress);
    setTabOrder(edAddress, rbDomain);
    setTabOrder(rbDomain, edDomain);
    setTabOrder(edDomain, rbSubject);
    setTabOrder(rbSubject, cbOperator);
    setTabOrder(cbOperator, edSubject);
    setTabOrder(edSubject, cbCase);
    setTabOrder(cbCase, cbDmarc);

    connect(group, &QButtonGroup::buttonToggled, this, [this](QAbstractButton *, bool on) {
        if (on)
            rbChoiceClick();
    });
    cbOperator->setCurrentIndex(0);
    rbAddress->setChecked(true);
}

ExceptionKind TfrmAlwaysAccept::kind() const
{
    if (rbDomain->isChecked())
        return ExceptionKind::Domain;
    if (rbSubject->isChecked())
        return ExceptionKind::Subject;
    return ExceptionKind::Address;
}

QLineEdit *TfrmAlwaysAccept::fieldOf(ExceptionKind kind) const
{
    switch (kind) {
    case ExceptionKind::Address:
        return edAddress;
    case ExceptionKind::Domain:
        return edDomain;
    case ExceptionKind::Subject:
        break;
    }
    return edSubject;
}

void TfrmAlwaysAccept::setRule(const ExceptionRule &rule)
{
    edAddress->setText(rule.address);
    edDomain->setText(rule.domain);
    edSubject->setText(rule.subject);
    cbOperator->setCurrentIndex(rule.operatorPos);
    cbCase->setChecked(rule.caseSensitive);
    cbDmarc->setChecked(rule.dmarcOnly);
    switch (rule.kind) {
    case ExceptionKind::Address:
        rbAddress->setChecked(true);
        break;
    case ExceptionKind::Domain:
        rbDomain->setChecked(true);
        break;
    case ExceptionKind::Subject:
        rbSubject->setChecked(true);
        break;
    }
    rbChoiceClick();
}

ExceptionRule TfrmAlwaysAccept::rule() const
{
    ExceptionRule rule;
    rule.kind = kind();
    rule.address = edAddress->text();
    rule.domain = edDomain->text();
    rule.subject = edSubject->text();
    rule.operatorPos = cbOperator->currentIndex();
    rule.caseSensitive = cbCase->isChecked();
    rule.dmarcOnly = cbDmarc->isChecked();
    return rule;
}

bool TfrmAlwaysAccept::checkInput()
{
    const ExceptionRule current = rule();
    if (const auto problem = current.problem()) {
        refuse(*problem, fieldOf(current.kind));
        return false;
    }
    return true;
}

void TfrmAlwaysAccept::rbChoiceClick()
{
    const ExceptionKind chosen = kind();
    edAddress->setVisible(chosen == ExceptionKind::Address);
    edDomain->setVisible(chosen == ExceptionKind::Domain);
    cbOperator->setVisible(chosen == ExceptionKind::Subject);
    edSubject->setVisible(chosen == ExceptionKind::Subject);
    cbCase->setVisible(chosen == ExceptionKind::Subject);
    cbDmarc->setEnabled(kindTakesDmarc(chosen));
    fieldOf(chosen)->setFocus();
}
