#include "mail/mimecodecs.h"

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Length of the soft line break starting at the "=" at `at` (the "=", any
// blanks a sender left after it, and the line end), or 0 when there is none.
qsizetype softBreakLength(QByteArrayView text, qsizetype at)
{
    qsizetype i = at + 1;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size())
        return i - at;
    if (text[i] == '\r')
        ++i;
    if (i < text.size() && text[i] == '\n')
        ++i;
    const bool brokeLine = text[i - 1] == '\r' || text[i - 1] == '\n';
    return brokeLine ? i - at : 0;
}

} // namespace

QByteArray decodeQuotedPrintable(QByteArrayView text, QuotedPrintableFlavour flavour)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_' && flavour == QuotedPrintableFlavour::EncodedWord) {
            out += ' ';
            continue;
        }
        if (c != '=') {
            out += c;
            continue;
        }
        const int high = i + 1 < text.size() ? hexDigitValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            out += char(high * 16 + low);
            i += 2;
            continue;
        }
        if (flavour == QuotedPrintableFlavour::Body) {
            if (const qsizetype soft = softBreakLength(text, i)) {
                i += soft - 1;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::optional<QByteArray> decodeBase64Strict(QByteArrayView text)
{
    auto result = QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return std::move(result.decoded);
}
