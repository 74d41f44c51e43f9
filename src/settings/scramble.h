#pragma once
// Reversible scrambling of stored mailbox passwords. It keeps a password
// from being read at a glance in the settings file; it is not encryption.
//
// A 16-bit key register starts at the caller's key. Each byte is XORed with
// the register's high byte, then the register advances with the scrambled
// byte as feedback: reg = ((scrambled + reg) * 5245 + 2719) mod 2^16.
// Scrambling and unscrambling share that schedule, so the same key restores
// the input exactly.

#include "mail/charset.h" // decodeUtf8OrLatin1, for code that reads mail-like text

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

QByteArray scrambleBytes(QByteArrayView plain, quint16 key);
QByteArray unscrambleBytes(QByteArrayView scrambled, quint16 key);

// Text forms. The password is scrambled as its UTF-8 bytes and the result
// holds one character (U+0000..U+00FF) per byte, so an ASCII password keeps
// its length. Any byte may appear in the result, the zero byte included.
QString ScramblePassword(const QString &password, quint16 key);
// The reverse; bytes that are not valid UTF-8 come back as Latin-1.
QString UnscramblePassword(const QString &scrambled, quint16 key);

// The key under which mailbox n's password is stored: one fixed base key
// plus the mailbox number, so a password only unscrambles under its own
// mailbox number.
quint16 passwordKey(int mailboxNumber);

// Stored bytes as text: UTF-8 when they are valid UTF-8, otherwise Latin-1,
// so every byte survives. Unlike mail text, a leading BOM is kept as a
// character: it may be part of a password.
QString storedBytesToText(QByteArrayView bytes);
