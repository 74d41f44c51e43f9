#include "settings/scramble.h"

#include <QStringDecoder>

namespace {

constexpr quint16 kPasswordBaseKey = 0x4D53;

quint32 advance(quint32 reg, quint8 feedback)
{
    return ((feedback + reg) * 5245u + 2719u) & 0xFFFFu;
}

} // namespace

QByteArray scrambleBytes(QByteArrayView plain, quint16 key)
{
    QByteArray out(plain.size(), Qt::Uninitialized);
    quint32 reg = key;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const auto scrambled = quint8(quint8(plain[i]) ^ (reg >> 8));
        out[i] = char(scrambled);
        reg = advance(reg, scrambled);
    }
    return out;
}

QByteArray unscrambleBytes(QByteArrayView scrambled, quint16 key)
{
    QByteArray out(scrambled.size(), Qt::Uninitialized);
    quint32 reg = key;
    for (qsizetype i = 0; i < scrambled.size(); ++i) {
        const auto in = quint8(scrambled[i]);
        out[i] = char(in ^ (reg >> 8));
        reg = advance(reg, in);
    }
    return out;
}

QString ScramblePassword(const QString &password, quint16 key)
{
    return QString::fromLatin1(scrambleBytes(password.toUtf8(), key));
}

QString UnscramblePassword(const QString &scrambled, quint16 key)
{
    return storedBytesToText(unscrambleBytes(scrambled.toLatin1(), key));
}

quint16 passwordKey(int mailboxNumber)
{
    return quint16(kPasswordBaseKey + mailboxNumber);
}

QString storedBytesToText(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}
