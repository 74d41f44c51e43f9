#pragma once
// Content transfer decodings of RFC 2045 and RFC 2047.

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// The value of one hexadecimal digit in either letter case, or -1.
int hexDigitValue(char c);

enum class QuotedPrintableFlavour {
    Body, // "=" at a line end is a soft line break
    EncodedWord, // the Q encoding of RFC 2047: "_" stands for a space
};

// "=" followed by two hexadecimal digits becomes that byte; an "=" that is
// not followed so stays as it is. Never fails.
QByteArray decodeQuotedPrintable(QByteArrayView text, QuotedPrintableFlavour flavour);

// Standard Base64 with optional "=" padding; nothing when a character lies
// outside the alphabet or the padding is misplaced.
std::optional<QByteArray> decodeBase64Strict(QByteArrayView text);
