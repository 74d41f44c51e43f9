#pragma once
// The IMAP options of one mailbox: the folder checked, and whether removing
// spam moves it to a folder (a named one, or the server's Junk folder) or
// deletes it.

#include "settings/generalsettings.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QRadioButton;

// The part of a mailbox entry that the dialog edits.
struct ImapOptions
{
    QString folder = QStringLiteral("INBOX");
    SpamRemoval removal = SpamRemoval::MoveToFolder;
    QString junkFolder; // empty: the server's Junk folder

    static ImapOptions of(const MailboxConfig &mailbox);
    void applyTo(MailboxConfig &mailbox) const;
};

class TfrmImapOptions : public QDialog
{
    Q_OBJECT

public:
    TfrmImapOptions(int mailbox, const ImapOptions &options, QWidget *parent = nullptr);

    // The options as the dialog shows them: the names trimmed, no folder
    // named meaning INBOX.
    ImapOptions options() const;

    QLineEdit *edFolder = nullptr;
    QRadioButton *rbMoveToFolder = nullptr;
    QRadioButton *rbDelete = nullptr;
    QLineEdit *edJunkFolder = nullptr;
    QPushButton *btOK = nullptr;
    QPushButton *btCancel = nullptr;

private:
    void updateJunkFolder();
};
