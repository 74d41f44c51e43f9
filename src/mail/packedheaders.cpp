#include "mail/packedheaders.h"

namespace {

// zlib's fastest level packs a header block within a few per cent of its
// best and takes a fraction of the time: every listed row is packed once.
constexpr int PackLevel = 1;

} // namespace

PackedHeaders::PackedHeaders(const TmsHeaders &lines)
{
    if (lines.isEmpty())
        return;
    QByteArray text;
    for (const QString &line : lines) {
        text += line.toUtf8();
        text += '\n';
    }
    m_packed = qCompress(text, PackLevel);
    // qCompress leaves room for data that did not compress at all.
    m_packed.squeeze();
}

TmsHeaders PackedHeaders::lines() const
{
    TmsHeaders lines;
    if (m_packed.isEmpty())
        return lines;
    const QByteArray text = qUncompress(m_packed);
    qsizetype start = 0;
    for (qsizetype end = text.indexOf('\n'); end >= 0; end = text.indexOf('\n', start)) {
        lines.append(QString::fromUtf8(QByteArrayView(text).sliced(start, end - start)));
        start = end + 1;
    }
    return lines;
}
