#pragma once
// The main window's size and position between runs, kept in a small file
// of the program's folder ("window.conf"): one line "Geometry=" with the
// window's saved geometry in base 64. A missing or unreadable file leaves
// the window as it is; a saved place off every screen comes back on one.

#include <QString>

class QWidget;

class WindowPlacement
{
public:
    static inline const QString FileName = QStringLiteral("window.conf");

    explicit WindowPlacement(const QString &folder);

    QString filePath() const { return m_path; }
    // Gives window its stored size and position; false when none was stored.
    bool restore(QWidget &window) const;
    // Stores window's size and position; false when the file cannot be written.
    bool save(const QWidget &window) const;

private:
    QString m_path;
};
