#pragma once
// Turning the bytes of a mail text into Unicode.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// UTF-8 when the bytes are valid UTF-8, otherwise Latin-1, so every byte
// survives. Mail that declares no charset, or declares UTF-8 or US-ASCII
// and breaks it, is read this way.
QString decodeUtf8OrLatin1(QByteArrayView bytes);

// A MIME charset name as compared and looked up: lower case, trimmed,
// without an RFC 2231 language suffix such as "*en".
QByteArray mimeCharsetName(QByteArrayView charset);

// The bytes read in the MIME charset `charset` (any case, a language suffix
// ignored). A name no decoder knows, such as "unknown-8bit", and bytes the
// named charset cannot read are taken as UTF-8 when they are valid UTF-8:
// mail software writes such labels over UTF-8 text. Otherwise an unknown
// name gives Latin-1, so nothing is lost and nothing throws.
QString decodeCharset(QByteArrayView bytes, QByteArrayView charset);
