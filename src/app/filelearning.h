#pragma once
// Learning from mail the user already sorted, kept in files: every message
// under the paths (message files, folders of them, maildirs, mbox files) is
// taught to the learner as one label, or taken back, in one write. Only
// header blocks are read; a file that cannot be read, or a message without
// header lines, is skipped with a problem reported.

#include "app/messagelearner.h"

#include <QStringList>

#include <functional>

struct FileLearningResult
{
    int messages = 0; // read from the files
    int learned = 0; // new lessons, and lessons whose label changed
    int alreadyKnown = 0; // learnt before as this label, or classified right already
    int skipped = 0; // no header lines
    bool ok = true; // false: nothing of the run was kept (problem said why)
};

FileLearningResult learnFromFiles(MessageLearner &learner, const QStringList &paths, Label label, bool unlearn,
                                  const std::function<void(const QString &)> &problem);

// The header lines of a stored header block; empty when it has none a
// header could be read from.
TmsHeaders storedHeaderLines(const QByteArray &block);
