#include "mail/imapfoldername.h"

#include <QStringDecoder>
#include <utility>

namespace {

bool standsForItself(char16_t c)
{
    return c >= 0x20 && c <= 0x7e;
}

QByteArray modifiedBase64(const QString &run)
{
    QByteArray utf16;
    for (const QChar c : run) {
        utf16.append(char(c.unicode() >> 8));
        utf16.append(char(c.unicode() & 0xff));
    }
    return utf16.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',');
}

// Bytes that stand for themselves.
QString plainText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

} // namespace

QByteArray encodeFolderName(const QString &name)
{
    QByteArray wire;
    qsizetype i = 0;
    while (i < name.size()) {
        const char16_t c = name.at(i).unicode();
        if (c == u'&') {
            wire += "&-";
            ++i;
        } else if (standsForItself(c)) {
            wire += char(c);
            ++i;
        } else {
            qsizetype end = i;
            while (end < name.size() && !standsForItself(name.at(end).unicode()))
                ++end;
            wire += '&' + modifiedBase64(name.mid(i, end - i)) + '-';
            i = end;
        }
    }
    return wire;
}

QString decodeFolderName(const QByteArray &wire)
{
    QString name;
    QByteArray plain; // the run of bytes standing for themselves so far
    qsizetype i = 0;
    while (i < wire.size()) {
        const qsizetype end = wire.indexOf('-', i);
        if (wire.at(i) != '&' || end < 0) {
            plain += wire.at(i++);
            continue;
        }
        if (end == i + 1) {
            plain += '&';
            i = end + 1;
            continue;
        }
        QByteArray encoded = wire.mid(i + 1, end - i - 1).replace(',', '/');
        const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() % 2 != 0) {
            plain += wire.at(i++);
            continue;
        }
        name += plainText(std::exchange(plain, {}));
        for (qsizetype k = 0; k < decoded.decoded.size(); k += 2)
            name += QChar(char16_t((uchar(decoded.decoded.at(k)) << 8) | uchar(decoded.decoded.at(k + 1))));
        i = end + 1;
    }
    return name + plainText(plain);
}
