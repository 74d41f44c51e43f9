#pragma once
// The header rule editor: a test of the header lines, or one of the special
// conditions on the sender and the To field.

#include "settings/ruleeditors.h"
#include "settings/ruleeditorwidgets.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

class TfrmHeaders : public RuleEditorDialog
{
    Q_OBJECT

public:
    // The mailbox list offers the given mailboxes (those with a server).
    TfrmHeaders(const QList<ruleeditors::MailboxChoice> &mailboxes, Prompts &prompts, QWidget *parent = nullptr);

    void setRule(const ruleeditors::HeaderRule &rule);
    ruleeditors::HeaderRule rule() const;

    QRadioButton *const rbReplyTo;
    QRadioButton *const rbSenderTo;
    QRadioButton *const rbToNotContain;
    QRadioButton *const rbMessageHeader;
    QLineEdit *const edTo;
    QLabel *const lblMailbox;
    QComboBox *const cbMailbox;
    QComboBox *const cbOperator;
    QComboBox *const edHeader;
    QCheckBox *const cbCase;
    MarkChoicePanel *const pnlMark;

protected:
    bool checkInput() override;

private:
    void rbChoiceClick();
    ruleeditors::HeaderChoice choice() const;
    QRadioButton *buttonOf(ruleeditors::HeaderChoice choice) const;
};
