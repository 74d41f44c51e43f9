#pragma once
// The subject rule editor: operator, pattern, case and mark of one subject rule.

#include "settings/ruleeditors.h"
#include "settings/ruleeditorwidgets.h"

class QCheckBox;
class QComboBox;

class TfrmOptionsSubject : public RuleEditorDialog
{
    Q_OBJECT

public:
    explicit TfrmOptionsSubject(Prompts &prompts, QWidget *parent = nullptr);

    void setRule(const ruleeditors::SubjectRule &rule);
    ruleeditors::SubjectRule rule() const;

    QComboBox *const cbOperator;
    QComboBox *const edPattern;
    QCheckBox *const cbCase;
    MarkChoicePanel *const pnlMark;

protected:
    bool checkInput() override;

private:
    void cbOperatorChange();
};
