#include "mail/charset.h"

#include <QStringDecoder>

namespace {

bool isValidUtf8(QByteArrayView bytes, QString *text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = utf8.decode(bytes);
    return !utf8.hasError();
}

// Names whose 8-bit misuse is common enough that the UTF-8/Latin-1 guess
// serves the reader better than a strict decoder's replacement characters.
bool isUtf8Compatible(const QByteArray &name)
{
    return name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii"
        || name == "ascii";
}

} // namespace

QString decodeUtf8OrLatin1(QByteArrayView bytes)
{
    QString text;
    if (isValidUtf8(bytes, &text))
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray mimeCharsetName(QByteArrayView charset)
{
    const qsizetype languageMark = charset.indexOf('*');
    if (languageMark >= 0)
        charset = charset.first(languageMark);
    return charset.trimmed().toByteArray().toLower();
}

QString decodeCharset(QByteArrayView bytes, QByteArrayView charset)
{
    const QByteArray name = mimeCharsetName(charset);
    if (isUtf8Compatible(name))
        return decodeUtf8OrLatin1(bytes);
    if (name == "iso-8859-1" || name == "latin1")
        return QString::fromLatin1(bytes);
    // Qt reaches the other charsets (ISO-8859-x, Windows-125x, KOI8, CJK ...)
    // through ICU.
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return decodeUtf8OrLatin1(bytes);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    // A strict decoder's replacement characters are kept unless the bytes
    // read whole as UTF-8.
    QString utf8;
    return isValidUtf8(bytes, &utf8) ? utf8 : text;
}
