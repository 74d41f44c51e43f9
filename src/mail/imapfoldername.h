#pragma once
// IMAP folder names on the wire: modified UTF-7 (RFC 3501 5.1.3). Printable
// US-ASCII stands for itself ("&" as "&-"); anything else is "&", the
// UTF-16 code units in base64 with "," for "/" and no padding, then "-".

#include <QByteArray>
#include <QString>

QByteArray encodeFolderName(const QString &name);
// The name a server sent, for showing and matching only: a command names
// a listed folder by the very bytes the server sent. A run that is not valid
// modified UTF-7 stays as the bytes were, read as UTF-8 where they are (a
// server that does not encode its names), else as Latin-1, so no name is
// lost.
QString decodeFolderName(const QByteArray &wire);
