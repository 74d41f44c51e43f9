#pragma once
// The mailbox chooser of a manual check: which configured mailbox to check.

#include "settings/generalsettings.h"
#include "settings/ruleeditors.h"
#include "settings/ruleeditorwidgets.h"

#include <optional>

class QComboBox;

class TfrmWhichMailbox : public RuleEditorDialog
{
    Q_OBJECT

public:
    // Lists the mailboxes that have a server and selects the current one.
    TfrmWhichMailbox(const QList<ruleeditors::MailboxChoice> &mailboxes, int currentMailbox, QWidget *parent = nullptr);

    // The selected entry's number; the current mailbox when none is selected.
    int chosenMailbox() const;

    // Shows the chooser modally: the chosen number, or nothing on Cancel.
    static std::optional<int> choose(const MailboxTable &mailboxes, int currentMailbox, QWidget *parent = nullptr);

    QComboBox *const cbMailbox;

private:
    int current_;
};
