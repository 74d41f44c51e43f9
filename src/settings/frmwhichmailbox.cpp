#include "settings/frmwhichmailbox.h"

#include <QComboBox>
#include <QVBoxLayout>

using namespace ruleeditors;

TfrmWhichMailbox::TfrmWhichMailbox(const QList<MailboxChoice> &mailboxes, int currentMailbox, QWidget *parent)
    : RuleEditorDialog(tr("Which Mail Box?"), tr("Which mailbox do you wish to check?"), QString(), nullptr, parent),
      cbMailbox(new QComboBox(this)), current_(currentMailbox)
{
    cbMailbox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbMailbox->setMinimumContentsLength(32);
    for (const MailboxChoice &box : mailboxes)
        cbMailbox->addItem(chooserMailboxEntry(box));
    cbMailbox->setCurrentIndex(-1);
    for (int i = 0; i < cbMailbox->count(); ++i) {
        if (leadingMailboxNumber(cbMailbox->itemText(i)) == currentMailbox)
            cbMailbox->setCurrentIndex(i);
    }
    body()->addWidget(cbMailbox);
    cbMailbox->setFocus();
}

int TfrmWhichMailbox::chosenMailbox() const
{
    const int number = leadingMailboxNumber(cbMailbox->currentText());
    return number > 0 ? number : current_;
}

std::optional<int> TfrmWhichMailbox::choose(const MailboxTable &mailboxes, int currentMailbox, QWidget *parent)
{
    TfrmWhichMailbox dialog(mailboxesWithServer(mailboxes), currentMailbox, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenMailbox();
}
