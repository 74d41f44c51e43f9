#pragma once
// Turning the bytes of a mail text into Unicode.

#include <QByteArrayView>
#include <QString>

// UTF-8 when the bytes are valid UTF-8, otherwise Latin-1, so every byte
// survives. Mail that declares no charset, or declares UTF-8 or US-ASCII
// and breaks it, is read this way.
QString decodeUtf8OrLatin1(QByteArrayView bytes);

// The bytes read in the MIME charset `charset` (case-insensitive, an RFC 2231
// language suffix such as "*en" ignored). An unknown charset is read as
// Latin-1, so nothing is lost and nothing throws.
QString decodeCharset(QByteArrayView bytes, QByteArrayView charset);
