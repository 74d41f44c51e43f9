#include "mail/headers.h"

#include <QStringDecoder>

QString decodeHeaderLine(QByteArrayView line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(line);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(line);
}

void CutAtBody(TmsHeaders &headers)
{
    const qsizetype blank = headers.indexOf(QString());
    if (blank >= 0)
        headers.erase(headers.begin() + blank, headers.end());
}
