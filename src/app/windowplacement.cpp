#include "app/windowplacement.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QWidget>

namespace {
const QByteArray kKey = QByteArrayLiteral("Geometry=");
}

WindowPlacement::WindowPlacement(const QString &folder) : m_path(QDir(folder).filePath(FileName))
{
}

bool WindowPlacement::restore(QWidget &window) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The file is small; anything longer was not written here.
    const QByteArray line = file.read(4096).trimmed();
    if (!line.startsWith(kKey))
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(line.mid(kKey.size()), QByteArray::AbortOnBase64DecodingErrors);
    // restoreGeometry moves a window that would lie off the screens onto one.
    return decoded && window.restoreGeometry(*decoded);
}

bool WindowPlacement::save(const QWidget &window) const
{
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(kKey + window.saveGeometry().toBase64() + '\n') >= 0
           && file.commit();
}
