#pragma once
// The sender rule editor: which part of the sender address is tested, how,
// against what, and the mark.

#include "settings/ruleeditors.h"
#include "settings/ruleeditorwidgets.h"

class QComboBox;

class TfrmOptionsFROM : public RuleEditorDialog
{
    Q_OBJECT

public:
    explicit TfrmOptionsFROM(Prompts &prompts, QWidget *parent = nullptr);

    void setRule(const ruleeditors::SenderRule &rule);
    ruleeditors::SenderRule rule() const;

    QComboBox *const cbPart;
    QComboBox *const cbOperator;
    QComboBox *const edPattern;
    MarkChoicePanel *const pnlMark;

protected:
    bool checkInput() override;

private:
    void cbOperatorChange();
};
