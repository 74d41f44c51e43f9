#pragma once
// The Learning page of the Spam settings window: whether the learner learns
// from what the user does and judges what the rules leave unmarked, what it
// learnt so far, the two cut-offs, and whether a high score marks a message
// for deletion. The controls write the options back as they change, as the
// size rules do; the window's OK saves them, its Cancel reads them again.

#include "rules/learningoptions.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

// What the learner learnt, for the page to show.
struct LearnedCounts
{
    quint32 spam = 0;
    quint32 ham = 0;
    int tokens = 0;
};

class LearningPage : public QWidget
{
    Q_OBJECT
public:
    LearningPage(LearningOptions &options, QWidget *parent = nullptr);

    // Where the counts come from and what "Learn from folders..." does;
    // the program sets them, and a page without them shows no counts and
    // no command.
    std::function<LearnedCounts()> learnedCounts;
    std::function<void()> learnFromFolders;

    // Shows the options and the counts as they are now.
    void showOptions();
    // The counts line: "Learned from 25 spam and 31 ham messages (1830 clues)".
    static QString countsText(const LearnedCounts &counts);

    QCheckBox *cbLearn = nullptr;
    QLabel *lblCounts = nullptr;
    QDoubleSpinBox *edHamCutoff = nullptr;
    QDoubleSpinBox *edSpamCutoff = nullptr;
    QCheckBox *cbMarkForDeletion = nullptr;
    QDoubleSpinBox *edDeletionScore = nullptr;
    QPushButton *btLearnFromFolders = nullptr;

private:
    void readControls();
    void enableControls();

    LearningOptions &m_options;
    bool m_showing = false; // controls being set from the options
};
