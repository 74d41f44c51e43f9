#pragma once
// "Learn from folders...": the user names mail already sorted on this
// computer (a maildir or folder of message files, or an mbox or message
// file) as spam, as good mail, or both, and, for an IMAP mailbox, folders on
// its server: its junk folder as spam and chosen folders as good mail (the
// newest of each). The learner learns their header blocks. The dialog only
// gathers the choices.

#include "app/filelearning.h"

#include <QDialog>

#include <memory>

class ProgramCore;
class Prompts;
class QGroupBox;
class QLineEdit;
class QSpinBox;

class LearnFromFoldersDialog : public QDialog
{
    Q_OBJECT
public:
    // server: the mailbox whose server is offered ("mailbox 1 (IMAP)"), or
    // empty for none.
    explicit LearnFromFoldersDialog(const QString &server, QWidget *parent = nullptr);

    static constexpr int DefaultNewest = 500;

    QLineEdit *edSpam = nullptr;
    QLineEdit *edHam = nullptr;
    QGroupBox *gbServer = nullptr; // checkable; absent without a server
    QLineEdit *edHamFolders = nullptr; // comma-separated
    QSpinBox *edNewest = nullptr;
};

// The default mailbox's server, read for learning when that mailbox is an
// IMAP one (client null otherwise), and the name of its trusted receiving
// server.
struct SortedMailServer
{
    std::unique_ptr<ImapClient> client;
    QString trustedServer;
};
SortedMailServer sortedMailClient(ProgramCore &core);

// Runs the dialog (run: exec, or a test's stand-in) and learns what it
// names; the outcome goes to prompts.
void learnFromFolders(MessageLearner &learner, Prompts &prompts, const std::function<int(QDialog &)> &run,
                      SortedMailServer server, QWidget *parent);
