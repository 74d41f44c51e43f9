#include "settings/ruleeditorwidgets.h"

#include "settings/prompts.h"
#include "settings/ruleeditors.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
MarkPictureSource &pictureSource()
{
    static MarkPictureSource source;
    return source;
}
} // namespace

void setRuleMarkPictureSource(MarkPictureSource source)
{
    pictureSource() = std::move(source);
}

QPixmap ruleMarkPicture(MarkState mark)
{
    return pictureSource() ? pictureSource()(mark) : QPixmap();
}

RuleEditorDialog::RuleEditorDialog(const QString &caption, const QString &heading, const QString &explanation,
                                   Prompts *prompts, QWidget *parent)
    : QDialog(parent), prompts_(prompts), body_(new QVBoxLayout)
{
    setWindowTitle(caption);
    auto *outer = new QVBoxLayout(this);

    auto *headingLabel = new QLabel(heading, this);
    QFont bold = headingLabel->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    headingLabel->setFont(bold);
    outer->addWidget(headingLabel);
    if (!explanation.isEmpty()) {
        auto *text = new QLabel(explanation, this);
        text->setWordWrap(true);
        outer->addWidget(text);
    }
    outer->addSpacing(4);
    outer->addLayout(body_);
    outer->addStretch(1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(tr("OK"));
    ok->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    connect(ok, &QPushButton::clicked, this, &RuleEditorDialog::btOKClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
}

void RuleEditorDialog::btOKClick()
{
    if (checkInput())
        accept();
}

void RuleEditorDialog::refuse(const QString &message, QWidget *field)
{
    if (prompts_)
        prompts_->error(message);
    field->setFocus(Qt::OtherFocusReason);
}

QComboBox *makeOperatorList(int count, QWidget *parent)
{
    auto *list = new QComboBox(parent);
    list->addItems(ruleeditors::shownOperators(count));
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return list;
}

QComboBox *makeSuggestionBox(const QStringList &suggestions, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(suggestions);
    box->setMaxVisibleItems(15);
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    box->setMinimumContentsLength(24);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Completion would replace what the user typed with a longer suggestion.
    box->setCompleter(nullptr);
    return box;
}

void keepPlaceWhenHidden(QWidget *widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

MarkChoicePanel::MarkChoicePanel(const QString &checkCaption, const QString &questionCaption, QWidget *parent)
    : QGroupBox(tr("Mark message with :"), parent), check_(new QRadioButton(checkCaption, this)),
      question_(new QRadioButton(questionCaption, this))
{
    check_->setIcon(ruleMarkPicture(MarkState::Check));
    question_->setIcon(ruleMarkPicture(MarkState::Question));
    check_->setChecked(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(check_);
    buttons->addSpacing(16);
    buttons->addWidget(question_);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    auto *note = new QLabel(tr("Note: Only messages with a check mark will be deleted."), this);
    note->setWordWrap(true);
    layout->addWidget(note);
}

bool MarkChoicePanel::isCheckMark() const
{
    return check_->isChecked();
}

void MarkChoicePanel::setCheckMark(bool check)
{
    (check ? check_ : question_)->setChecked(true);
}
