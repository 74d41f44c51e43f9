#pragma once
// "View log file": the log is opened by the desktop's application for text
// files; on a desktop that has none (no opener installed, no desktop at
// all) it is shown in the program's own text viewer instead.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;
class TfrmViewHeader;

class LogFileViewer
{
public:
    // A log of years' checks is long; the viewer shows its newest part.
    static constexpr qint64 MostShownBytes = 4 * 1024 * 1024;

    // desktopOpen hands a file to the desktop (false when it could not);
    // runViewer shows the text viewer (empty: modally over parent).
    LogFileViewer(std::function<bool(const QString &)> desktopOpen, QWidget *parent = nullptr,
                  std::function<void(TfrmViewHeader &)> runViewer = {});

    // False when the file is neither opened by the desktop nor readable.
    bool open(const QString &path) const;

    // The last MostShownBytes of the file as lines, whole lines only,
    // control characters turned into spaces; nullopt when unreadable.
    static std::optional<QStringList> newestLines(const QString &path);

private:
    std::function<bool(const QString &)> m_desktopOpen;
    QWidget *m_parent;
    std::function<void(TfrmViewHeader &)> m_runViewer;
};
