#pragma once
// The header blocks of messages kept in files, for learning from mail the
// user already sorted: a single message file (.eml and the like), a folder
// of such files, a maildir (its cur/ and new/; tmp/ holds mail still being
// delivered) or an mbox file (one whose first line starts with "From ").
// Only header blocks are read, each at most MaxHeaderBytes, and an mbox is
// streamed line by line, so a mailbox of gigabytes costs no more memory
// than its largest header block.

#include <QByteArray>
#include <QString>

#include <functional>

namespace MessageFiles {
constexpr qsizetype MaxHeaderBytes = 256 * 1024;
} // namespace MessageFiles

struct MessageFileEntry
{
    QString name; // the file's path, or "path:N" for the N-th message (from 1) of an mbox
    QByteArray headerBlock; // the lines before the first empty line, with their line ends, as stored
};

// Calls found for each message under path, files in the order of their
// names, and problem with "path: reason" for each file that could not be
// read; the walk goes on after a problem. False when path itself does not
// exist or cannot be read (after telling problem why).
bool readMessageFiles(const QString &path, const std::function<void(const MessageFileEntry &)> &found,
                      const std::function<void(const QString &)> &problem);
