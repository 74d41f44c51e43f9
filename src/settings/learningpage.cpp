#include "settings/learningpage.h"

#include "learning/learner.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QDoubleSpinBox *scoreBox(QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setRange(0.0, 1.0);
    box->setDecimals(3);
    box->setSingleStep(0.005);
    return box;
}

} // namespace

LearningPage::LearningPage(LearningOptions &options, QWidget *parent) : QWidget(parent), m_options(options)
{
    cbLearn =
        new QCheckBox(tr("&Learn from what I delete, mark and keep, and judge what the rules leave unmarked"), this);
    lblCounts = new QLabel(this);
    lblCounts->setWordWrap(true);
    edHamCutoff = scoreBox(this);
    edSpamCutoff = scoreBox(this);
    cbMarkForDeletion = new QCheckBox(tr("Mark for &deletion when the score is at least"), this);
    edDeletionScore = scoreBox(this);
    btLearnFromFolders = new QPushButton(tr("Learn from &folders..."), this);

    auto *note = new QLabel(tr("The learner reads only the header lines. Until it has learned %1 spam and %1 good "
                               "messages it gives no verdict. A spam verdict gives a question mark.")
                                .arg(Learner::MinimumMessages),
                            this);
    note->setWordWrap(true);
    auto *cutoffs = new QFormLayout;
    cutoffs->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    cutoffs->addRow(tr("&Not spam below a score of"), edHamCutoff);
    cutoffs->addRow(tr("&Spam at a score of"), edSpamCutoff);
    auto *deletion = new QHBoxLayout;
    deletion->addWidget(cbMarkForDeletion);
    deletion->addWidget(edDeletionScore);
    deletion->addStretch(1);
    auto *command = new QHBoxLayout;
    command->addWidget(btLearnFromFolders);
    command->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(cbLearn);
    layout->addWidget(lblCounts);
    layout->addLayout(cutoffs);
    layout->addLayout(deletion);
    layout->addWidget(note);
    layout->addLayout(command);
    layout->addStretch(1);

    for (QCheckBox *box : {cbLearn, cbMarkForDeletion})
        connect(box, &QCheckBox::toggled, this, &LearningPage::readControls);
    for (QDoubleSpinBox *box : {edHamCutoff, edSpamCutoff, edDeletionScore})
        connect(box, &QDoubleSpinBox::valueChanged, this, &LearningPage::readControls);
    connect(btLearnFromFolders, &QPushButton::clicked, this, [this] {
        if (learnFromFolders)
            learnFromFolders();
        showOptions();
    });
}

QString LearningPage::countsText(const LearnedCounts &counts)
{
    return tr("Learned from %1 spam and %2 good messages (%3 clues)")
        .arg(counts.spam)
        .arg(counts.ham)
        .arg(counts.tokens);
}

void LearningPage::showOptions()
{
    const LearningOptions options = m_options;
    m_showing = true;
    cbLearn->setChecked(options.enabled);
    edHamCutoff->setValue(options.hamCutoff);
    edSpamCutoff->setValue(options.spamCutoff);
    cbMarkForDeletion->setChecked(options.markForDeletion);
    edDeletionScore->setValue(options.deletionScore);
    m_showing = false;
    lblCounts->setVisible(bool(learnedCounts));
    if (learnedCounts)
        lblCounts->setText(countsText(learnedCounts()));
    btLearnFromFolders->setVisible(bool(learnFromFolders));
    enableControls();
}

void LearningPage::readControls()
{
    if (m_showing)
        return;
    LearningOptions options{cbLearn->isChecked(), edHamCutoff->value(), edSpamCutoff->value(),
                            cbMarkForDeletion->isChecked(), edDeletionScore->value()};
    // The cut-offs keep their order: the one not being moved follows.
    if (options.hamCutoff > options.spamCutoff) {
        if (sender() == edHamCutoff)
            options.spamCutoff = options.hamCutoff;
        else
            options.hamCutoff = options.spamCutoff;
    }
    options.deletionScore = std::max(options.deletionScore, options.spamCutoff);
    m_options = options;
    if (!(options
          == LearningOptions{cbLearn->isChecked(), edHamCutoff->value(), edSpamCutoff->value(),
                             cbMarkForDeletion->isChecked(), edDeletionScore->value()}))
        showOptions();
    enableControls();
}

void LearningPage::enableControls()
{
    for (QWidget *w : std::initializer_list<QWidget *>{edHamCutoff, edSpamCutoff, cbMarkForDeletion})
        w->setEnabled(cbLearn->isChecked());
    edDeletionScore->setEnabled(cbLearn->isChecked() && cbMarkForDeletion->isChecked());
}
