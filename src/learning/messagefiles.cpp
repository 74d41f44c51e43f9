#include "learning/messagefiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using MessageFiles::MaxHeaderBytes;

namespace {

// The lines of a file, each with its line end. A longer line than
// MaxHeaderBytes comes cut to that length and the rest of it is skipped:
// a binary file or a huge line costs no more memory than a header block.
class LineReader
{
public:
    explicit LineReader(QIODevice &device) : m_device(device) {}

    // The next line, valid until the next call; false at the end of the
    // file or on a read error.
    bool next(QByteArrayView &line)
    {
        for (;;) {
            const qint64 length = m_device.readLine(m_buffer.data(), m_buffer.size());
            if (length <= 0)
                return false;
            const bool restOfLongLine = m_inLongLine;
            m_inLongLine = m_buffer[length - 1] != '\n';
            if (!restOfLongLine) {
                line = QByteArrayView(m_buffer.constData(), length);
                return true;
            }
        }
    }

private:
    QIODevice &m_device;
    QByteArray m_buffer = QByteArray(MaxHeaderBytes + 1, Qt::Uninitialized);
    bool m_inLongLine = false; // the last piece read ended inside a line
};

bool isEmptyLine(QByteArrayView line)
{
    return line == "\n" || line == "\r\n";
}

// The line that starts each message of an mbox: at the start of the file,
// or after an empty line (elsewhere, and quoted as ">From ", it is body).
bool isMboxSeparator(QByteArrayView line)
{
    return line.startsWith("From ");
}

// Adds as much of line to block as MaxHeaderBytes leaves room for; false
// once the block is full.
bool appendBounded(QByteArray &block, QByteArrayView line)
{
    block.append(line.first(std::min(line.size(), MaxHeaderBytes - block.size())));
    return block.size() < MaxHeaderBytes;
}

// Whether the block starts with a header field ("Name:", the name of
// printable characters): what tells a message from any other file that
// lies among them (an index, a picture).
bool startsWithField(const QByteArray &block)
{
    const qsizetype colon = block.indexOf(':');
    if (colon <= 0)
        return false;
    return std::all_of(block.cbegin(), block.cbegin() + colon, [](char c) { return c > 32 && c < 127; });
}

class MessageFileWalk
{
public:
    MessageFileWalk(const std::function<void(const MessageFileEntry &)> &found,
                    const std::function<void(const QString &)> &problem)
        : m_found(found), m_problem(problem)
    {
    }

    bool readPath(const QString &path)
    {
        const QFileInfo info(path);
        if (info.isDir())
            return readFolder(path);
        return readFile(info);
    }

private:
    bool readFolder(const QString &path)
    {
        const QDir folder(path);
        if (!folder.isReadable()) {
            m_problem(path + QStringLiteral(": the folder cannot be read"));
            return false;
        }
        const QString cur = folder.filePath(QStringLiteral("cur"));
        const QString fresh = folder.filePath(QStringLiteral("new"));
        if (QFileInfo(cur).isDir() && QFileInfo(fresh).isDir()) {
            readFilesIn(cur);
            readFilesIn(fresh);
        } else {
            readFilesIn(path);
        }
        return true;
    }

    // The files right in folder, in the order of their names. Only paths
    // are held while listing (a QFileInfo each would cost ten times more in
    // a folder of 100,000 messages). Broken links and special files are
    // listed to be reported.
    void readFilesIn(const QString &folder)
    {
        QStringList paths;
        QDirIterator entries(folder, QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        while (entries.hasNext())
            paths.append(entries.next());
        std::sort(paths.begin(), paths.end());
        for (const QString &path : std::as_const(paths))
            readFile(QFileInfo(path));
    }

    bool readFile(const QFileInfo &info)
    {
        const QString path = info.filePath();
        if (!info.exists() && !info.isSymLink()) {
            m_problem(path + QStringLiteral(": no such file or folder"));
            return false;
        }
        // Opening a pipe or a device could wait for ever or never end.
        if (info.exists() && !info.isFile()) {
            m_problem(path + QStringLiteral(": not a regular file"));
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_problem(path + QStringLiteral(": ") + file.errorString());
            return false;
        }
        LineReader lines(file);
        if (isMboxSeparator(file.peek(5)))
            readMbox(lines, path);
        else
            readMessage(lines, path);
        if (file.error() != QFileDevice::NoError) {
            m_problem(path + QStringLiteral(": ") + file.errorString());
            return false;
        }
        return true;
    }

    void readMessage(LineReader &lines, const QString &path)
    {
        QByteArray block;
        QByteArrayView line;
        while (lines.next(line) && !isEmptyLine(line) && appendBounded(block, line)) {}
        deliver(path, block);
    }

    // Streams through the mbox, keeping only the header block of the message
    // at hand. Bodies are skipped whatever they hold.
    void readMbox(LineReader &lines, const QString &path)
    {
        QByteArrayView line;
        lines.next(line); // the separator that made it an mbox
        int number = 1;
        QByteArray block;
        bool inHeader = true;
        bool hasRoom = true;
        bool afterEmptyLine = false;
        const auto endHeader = [&] {
            if (inHeader)
                deliver(path + u':' + QString::number(number), block);
            inHeader = false;
            block.clear();
        };
        while (lines.next(line)) {
            const bool empty = isEmptyLine(line);
            if (afterEmptyLine && isMboxSeparator(line)) {
                endHeader();
                ++number;
                inHeader = true;
                hasRoom = true;
            } else if (inHeader && empty) {
                endHeader();
            } else if (inHeader && hasRoom) {
                hasRoom = appendBounded(block, line);
            }
            afterEmptyLine = empty;
        }
        endHeader();
    }

    void deliver(const QString &name, const QByteArray &block)
    {
        if (startsWithField(block))
            m_found({name, block});
        else
            m_problem(name + QStringLiteral(": not a message (its first line is no header field)"));
    }

    const std::function<void(const MessageFileEntry &)> &m_found;
    const std::function<void(const QString &)> &m_problem;
};

} // namespace

bool readMessageFiles(const QString &path, const std::function<void(const MessageFileEntry &)> &found,
                      const std::function<void(const QString &)> &problem)
{
    return MessageFileWalk(found, problem).readPath(path);
}
