#pragma once
// Pieces the rule editor dialogs share: the dialog frame with its heading and
// OK / Cancel, the operator and suggestion lists, and the mark choice panel.

#include "rules/markstate.h"

#include <QDialog>
#include <QGroupBox>

class Prompts;
class QBoxLayout;
class QComboBox;
class QLabel;
class QRadioButton;
class QVBoxLayout;

#include <functional>

// The mark pictures are the main window's; the program hands them over at
// start-up so every settings window shows the same ones. Until then they
// are empty.
using MarkPictureSource = std::function<QPixmap(MarkState)>;
void setRuleMarkPictureSource(MarkPictureSource source);
QPixmap ruleMarkPicture(MarkState mark);

// A small modal dialog: a bold heading, an optional explanation, the
// dialog's own controls, then OK (the default button) and Cancel. OK asks
// checkInput() first and stays open when it refuses.
class RuleEditorDialog : public QDialog
{
    Q_OBJECT

public:
    // Without prompts the dialog has no input to refuse.
    RuleEditorDialog(const QString &caption, const QString &heading, const QString &explanation, Prompts *prompts,
                     QWidget *parent = nullptr);

    void btOKClick();

protected:
    // Where the dialog's own controls go.
    QVBoxLayout *body() const { return body_; }
    // True to accept; on refusal it has called refuse().
    virtual bool checkInput() { return true; }
    // Shows the error box and puts the focus back into the field.
    void refuse(const QString &message, QWidget *field);

private:
    Prompts *prompts_;
    QVBoxLayout *body_;
};

// The operator list offering the first `count` operators; its current index
// is the operator's position (-1: none chosen).
QComboBox *makeOperatorList(int count, QWidget *parent);
// A text field with a drop-down list of suggestions; typing adds nothing to the list.
QComboBox *makeSuggestionBox(const QStringList &suggestions, QWidget *parent);
// Keeps the place of a widget in its layout while it is hidden, so the
// dialog does not jump when a choice shows or hides fields.
void keepPlaceWhenHidden(QWidget *widget);

// "Mark message with :" and its two radio buttons with pictures, and the
// note that only check-marked messages are deleted.
class MarkChoicePanel : public QGroupBox
{
    Q_OBJECT

public:
    MarkChoicePanel(const QString &checkCaption, const QString &questionCaption, QWidget *parent = nullptr);

    bool isCheckMark() const;
    void setCheckMark(bool check);

    QRadioButton *checkButton() const { return check_; }
    QRadioButton *questionButton() const { return question_; }

private:
    QRadioButton *check_;
    QRadioButton *question_;
};
