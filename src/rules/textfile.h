#pragma once
// Reading and writing the rule engine's text files. They are written as
// UTF-8; older files in the Windows-1252 code page are still read.

#include <QByteArray>
#include <QString>
#include <QStringList>

// UTF-8 when the bytes are valid UTF-8 (a byte order mark is dropped),
// otherwise Windows-1252.
QString decodeFileText(const QByteArray &bytes);

// Lines end at CR LF, CR or LF; a line break at the very end gives no extra
// empty line.
QStringList splitLines(QStringView text);

// False with a message in error when the file cannot be opened or read.
bool readWholeFile(const QString &path, QByteArray &bytes, QString &error);
// Writes through a temporary file, so a failure keeps the previous content.
bool writeFileSafely(const QString &path, const QByteArray &bytes, QString &error);
