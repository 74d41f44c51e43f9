#include "app/deletionshell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

bool startMailProgram(const QString &program)
{
    const QString trimmed = program.trimmed();
    const QFileInfo file(trimmed);
    if (file.isFile())
        return file.isExecutable() ? QProcess::startDetached(file.absoluteFilePath(), {}) : openWithDesktop(trimmed);
    const QStringList words = QProcess::splitCommand(trimmed);
    if (words.isEmpty() || QStandardPaths::findExecutable(words.first()).isEmpty())
        return false;
    return QProcess::startDetached(words.first(), words.mid(1));
}

bool openWithDesktop(const QString &path)
{
    return !path.trimmed().isEmpty() && QFileInfo::exists(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
