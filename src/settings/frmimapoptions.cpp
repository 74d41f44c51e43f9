#include "settings/frmimapoptions.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ImapOptions ImapOptions::of(const MailboxConfig &mailbox)
{
    return {mailbox.folder, mailbox.removal, mailbox.junkFolder};
}

void ImapOptions::applyTo(MailboxConfig &mailbox) const
{
    mailbox.folder = folder;
    mailbox.removal = removal;
    mailbox.junkFolder = junkFolder;
}

TfrmImapOptions::TfrmImapOptions(int mailbox, const ImapOptions &options, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Mailbox %1: IMAP").arg(mailbox));

    edFolder = new QLineEdit(options.folder);
    edFolder->setPlaceholderText(QStringLiteral("INBOX"));
    edFolder->setToolTip(QStringLiteral("The folder whose messages Mailsieve lists and cleans"));

    rbMoveToFolder = new QRadioButton(QStringLiteral("&Move to folder"));
    rbDelete = new QRadioButton(QStringLiteral("&Delete"));
    auto *removal = new QButtonGroup(this);
    removal->addButton(rbMoveToFolder);
    removal->addButton(rbDelete);
    (options.removal == SpamRemoval::Delete ? rbDelete : rbMoveToFolder)->setChecked(true);
    edJunkFolder = new QLineEdit(options.junkFolder);
    edJunkFolder->setPlaceholderText(QStringLiteral("the server's Junk folder"));
    edJunkFolder->setToolTip(QStringLiteral("Left empty: the folder the server marks for junk, else one named "
                                            "Junk or Spam"));
    connect(rbMoveToFolder, &QRadioButton::toggled, this, &TfrmImapOptions::updateJunkFolder);

    auto *moveTo = new QHBoxLayout;
    moveTo->addSpacing(24);
    moveTo->addWidget(edJunkFolder, 1);
    auto *removalBox = new QGroupBox(QStringLiteral("Remove spam"));
    auto *removalLayout = new QVBoxLayout(removalBox);
    removalLayout->addWidget(rbMoveToFolder);
    removalLayout->addLayout(moveTo);
    removalLayout->addWidget(rbDelete);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Folder:"), edFolder);

    auto *buttons = new QDialogButtonBox;
    btOK = buttons->addButton(QDialogButtonBox::Ok);
    btCancel = buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(removalBox);
    layout->addStretch(1);
    layout->addWidget(buttons);
    updateJunkFolder();
    resize(420, sizeHint().height());
}

ImapOptions TfrmImapOptions::options() const
{
    ImapOptions options;
    options.folder = imapFolderOrInbox(edFolder->text().trimmed());
    options.removal = rbDelete->isChecked() ? SpamRemoval::Delete : SpamRemoval::MoveToFolder;
    options.junkFolder = edJunkFolder->text().trimmed();
    return options;
}

// The folder to move to means nothing while spam is deleted.
void TfrmImapOptions::updateJunkFolder()
{
    edJunkFolder->setEnabled(rbMoveToFolder->isChecked());
}
