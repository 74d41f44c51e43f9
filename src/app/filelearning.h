#pragma once
// Learning from mail the user already sorted, kept in files or on the
// server: every message is taught to the learner as its label (or taken
// back) in one write. Only header blocks are read; a file or folder that
// cannot be read, or a message without header lines, is skipped with a
// problem reported.

#include "app/messagelearner.h"
#include "mail/imapclient.h"

#include <QStringList>

#include <functional>

struct LearningRun
{
    int messages = 0; // read from the files
    int learned = 0; // new lessons, and lessons whose label changed
    int alreadyKnown = 0; // learnt before as this label, or classified right already
    int skipped = 0; // no header lines
    bool ok = true; // false: nothing of the run was kept (problem said why)
};

LearningRun learnFromFiles(MessageLearner &learner, const QStringList &paths, Label label, bool unlearn,
                           const std::function<void(const QString &)> &problem);

// The same from mail sorted on an IMAP server, read by client (logged in
// to the mailbox): the newest messages of its junk folder as spam and of
// each of hamFolders as good mail, at most newest of each folder. A folder
// that cannot be read is a problem; what was read of the others is learnt.
// trustedServer names the mailbox's receiving server (empty: none).
LearningRun learnFromServer(MessageLearner &learner, ImapClient &client, const QString &trustedServer,
                            const QStringList &hamFolders, int newest,
                            const std::function<void(const QString &)> &problem);

// The header lines of a stored header block; empty when it has none a
// header could be read from.
TmsHeaders storedHeaderLines(const QByteArray &block);
