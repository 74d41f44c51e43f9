#include "app/logfileviewer.h"

#include "app/frmviewheader.h"
#include "mail/printabletext.h"

#include <QFile>

LogFileViewer::LogFileViewer(std::function<bool(const QString &)> desktopOpen, QWidget *parent,
                             std::function<void(TfrmViewHeader &)> runViewer)
    : m_desktopOpen(std::move(desktopOpen)), m_parent(parent), m_runViewer(std::move(runViewer))
{
}

bool LogFileViewer::open(const QString &path) const
{
    if (path.trimmed().isEmpty())
        return false;
    if (m_desktopOpen && m_desktopOpen(path))
        return true;
    const std::optional<QStringList> lines = newestLines(path);
    if (!lines)
        return false;
    TfrmViewHeader viewer(TfrmViewHeader::Mode::LogFile, m_parent);
    viewer.setLines(*lines);
    if (m_runViewer)
        m_runViewer(viewer);
    else
        viewer.exec();
    return true;
}

std::optional<QStringList> LogFileViewer::newestLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 start = qMax<qint64>(0, file.size() - MostShownBytes);
    if (!file.seek(start))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    // Cut into the middle of the file, the first line is a part of one.
    if (start > 0)
        bytes.remove(0, bytes.indexOf('\n') + 1);
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = printableText(line);
    }
    return lines;
}
