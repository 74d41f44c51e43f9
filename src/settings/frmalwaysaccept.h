#pragma once
// The exception rule editor: always accept mail from an address, a domain,
// or with a subject that matches.

#include "settings/ruleeditors.h"
#include "settings/ruleeditorwidgets.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

class TfrmAlwaysAccept : public RuleEditorDialog
{
    Q_OBJECT

public:
    explicit TfrmAlwaysAccept(Prompts &prompts, QWidget *parent = nullptr);

    void setRule(const ruleeditors::ExceptionRule &rule);
    ruleeditors::ExceptionRule rule() const;

    QRadioButton *const rbAddress;
    QRadioButton *const rbDomain;
    QRadioButton *const rbSubject;
    QLineEdit *const edAddress;
    QLineEdit *const edDomain;
    QComboBox *const cbOperator;
    QLineEdit *const edSubject;
    QCheckBox *const cbCase;
    QCheckBox *const cbDmarc;

protected:
    bool checkInput() override;

private:
    void rbChoiceClick();
    ruleeditors::ExceptionKind kind() const;
    QLineEdit *fieldOf(ruleeditors::ExceptionKind kind) const;
};
