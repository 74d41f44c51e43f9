#pragma once
// "Learn from folders...": the user names mail already sorted on this
// computer (a maildir or folder of message files, or an mbox or message
// file) as spam, as good mail, or both, and the learner learns their header
// blocks (learnFromFiles). The dialog only gathers the paths.

#include "app/filelearning.h"

#include <QDialog>

class Prompts;
class QLineEdit;

class LearnFromFoldersDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LearnFromFoldersDialog(QWidget *parent = nullptr);

    QLineEdit *edSpam = nullptr;
    QLineEdit *edHam = nullptr;
};

// Runs the dialog (run: exec, or a test's stand-in) and learns what it
// names; the outcome goes to prompts.
void learnFromFolders(MessageLearner &learner, Prompts &prompts, const std::function<int(QDialog &)> &run,
                      QWidget *parent);
