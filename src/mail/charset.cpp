#include "mail/charset.h"

#include <QStringDecoder>

#include <algorithm>

namespace {

std::optional<QString> exactUtf8(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

// Names whose 8-bit misuse is common enough that the UTF-8/Latin-1 guess
// serves the reader better than a strict decoder's replacement characters.
bool isUtf8Compatible(const QByteArray &name)
{
    return name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii";
}

bool isLatin1(const QByteArray &name)
{
    return name == "iso-8859-1" || name == "latin1";
}

// Qt reaches the other charsets (ISO-8859-x, Windows-125x, KOI8, CJK ...)
// through ICU. Invalid for the names read above and for names no decoder
// knows. A fresh decoder for each text: one that has met an error keeps
// reporting it.
QStringDecoder systemDecoder(const QByteArray &name)
{
    if (isUtf8Compatible(name) || isLatin1(name))
        return QStringDecoder();
    return QStringDecoder(name.constData(), QStringDecoder::Flag::Stateless);
}

} // namespace

QString decodeUtf8OrLatin1(QByteArrayView bytes)
{
    // Most header text is ASCII, which both read alike: no decoder is needed.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    if (std::optional<QString> text = exactUtf8(bytes))
        return std::move(*text);
    return QString::fromLatin1(bytes);
}

QByteArray mimeCharsetName(QByteArrayView charset)
{
    const qsizetype languageMark = charset.indexOf('*');
    if (languageMark >= 0)
        charset = charset.first(languageMark);
    return charset.trimmed().toByteArray().toLower();
}

std::optional<QString> decodeCharsetExactly(QByteArrayView bytes, QByteArrayView charset)
{
    const QByteArray name = mimeCharsetName(charset);
    if (isLatin1(name))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder = systemDecoder(name);
    if (!decoder.isValid())
        return exactUtf8(bytes);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString decodeCharset(QByteArrayView bytes, QByteArrayView charset)
{
    if (std::optional<QString> text = decodeCharsetExactly(bytes, charset))
        return std::move(*text);
    QStringDecoder decoder = systemDecoder(mimeCharsetName(charset));
    if (decoder.isValid())
        return decoder.decode(bytes);
    return QString::fromLatin1(bytes);
}
