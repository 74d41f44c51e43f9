#pragma once
// The header rule editor: a test of the header lines, one of the special
// conditions on the sender and the To field, or what the user's receiving
// server found.

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
    QRadioButton *const rbServerFinding;
    QLineEdit *const edTo;
    QLabel *const lblMailbox;
    QComboBox *const cbMailbox;
    QComboBox *const cbOperator;
    QComboBox *const edHeader;
    QCheckBox *const cbCase;
    QComboBox *const cbFinding;
    QLabel *const lblLevel;
    QLineEdit *const edLevel;
    QLabel *const lblServerNote;
    MarkChoicePanel *const pnlMark;

protected:
    bool checkInput() override;

private:
    void rbChoiceClick();
    ruleeditors::HeaderChoice choice() const;
    QRadioButton *buttonOf(ruleeditors::HeaderChoice choice) const;
    QWidget *fieldOf(ruleeditors::HeaderRule::Field field) const;
};
