#pragma once
// Turning the bytes of a mail text into Unicode.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// UTF-8 when the bytes are valid UTF-8, otherwise Latin-1, so every byte
// survives. Mail that declares no charset, or declares UTF-8 or US-ASCII
// and breaks it, is read this way.
QString decodeUtf8OrLatin1(QByteArrayView bytes);

// A MIME charset name as compared and looked up: lower case, trimmed,
// without an RFC 2231 language suffix such as "*en".
QByteArray mimeCharsetName(QByteArrayView charset);

// The bytes read in the MIME charset `charset` (any case, a language suffix
// ignored), or nothing when they hold a sequence that charset cannot read,
// a character cut short at the end included. UTF-8, US-ASCII and a name no
// decoder knows, such as "unknown-8bit", read as UTF-8 here: mail software
// writes such labels over UTF-8 text.
std::optional<QString> decodeCharsetExactly(QByteArrayView bytes, QByteArrayView charset);

// decodeCharsetExactly when it reads the bytes. Otherwise a charset the
// system knows keeps its decoder's replacement characters and is never
// guessed to be UTF-8 (7-bit ISO-2022-JP, for one, always is valid UTF-8);
// UTF-8, US-ASCII and unknown names give Latin-1, so nothing is lost and
// nothing throws.
QString decodeCharset(QByteArrayView bytes, QByteArrayView charset);
