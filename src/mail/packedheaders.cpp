#include "mail/packedheaders.h"

#include <QtEndian>

#include <new>
#include <zlib.h>

namespace {

// Text that most header blocks hold. Each block is packed on its own, too
// short for deflate to find much to repeat within it; with these strings
// to refer back to, a typical block packs about a sixth smaller. The
// likeliest strings come last, where references to them are shortest.
// Blocks packed against it carry Format: another text needs another format
// byte, and the blocks kept in a store under the old one are then fetched
// again (fromPacked refuses them).
constexpr char Dictionary[] =
    "X-Priority: 3\r\nX-Mailer: \r\nUser-Agent: \r\nThread-Topic: \r\nThread-Index: \r\nContent-Language: en-US\r\n"
    "Accept-Language: en-US\r\nPrecedence: bulk\r\nAuto-Submitted: auto-generated\r\nX-Spam-Status: No, score=\r\n"
    "List-Id: <\r\nList-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n"
    "List-Unsubscribe: <mailto:?subject=unsubscribe>, <https://\r\nFeedback-ID: \r\nX-Original-To: \r\n"
    "Delivered-To: \r\nReturn-Path: <\r\n"
    "ARC-Seal: i=1; a=rsa-sha256; t=; cv=none;\r\n\td=; s=;\r\n\tb=\r\n"
    "ARC-Message-Signature: i=1; a=rsa-sha256; c=relaxed/relaxed;\r\n"
    "ARC-Authentication-Results: i=1;\r\nAuthentication-Results: ;\r\n\tdkim=pass header.i=@ header.s= header.b=;\r\n"
    "\tspf=pass (: domain of designates as permitted sender) smtp.mailfrom=;\r\n"
    "\tdmarc=pass (p=NONE sp=NONE dis=NONE) header.from=\r\nReceived-SPF: pass client-ip=;\r\n"
    "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=; s=;\r\n\th=From:To:Subject:Date:Message-ID:"
    "MIME-Version:Content-Type:Reply-To; bh=;\r\n\tb=\r\nX-Received: by with SMTP id ;\r\n"
    "Content-Transfer-Encoding: 7bit\r\nContent-Transfer-Encoding: 8bit\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\nContent-Type: multipart/mixed; boundary=\"\r\n"
    "Content-Type: multipart/alternative; boundary=\"\r\nContent-Type: text/html; charset=\"UTF-8\"\r\n"
    "Content-Type: text/plain; charset=\"utf-8\"\r\nMIME-Version: 1.0\r\nIn-Reply-To: <\r\nReferences: <\r\n"
    "Message-ID: <\r\nReply-To: \r\nCc: \r\nTo: \r\nFrom: \r\nSubject: =?UTF-8?Q?=?utf-8?B?=?iso-8859-1?Q?\r\n"
    "Date: Mon, Tue, Wed, Thu, Fri, Sat, Sun, Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec 2026 +0000 (UTC)\r\n"
    "\t(version=TLS1_3 cipher=TLS_AES_256_GCM_SHA384 bits=256/256);\r\n"
    "Received: from localhost ([127.0.0.1])\r\n\tby with ESMTPS id\r\n\tfor <>; \r\nReceived: from ";

// The first bytes of a packed block: its format (this dictionary, raw
// deflate), then the length of the text, big-endian.
constexpr char Format = 1;
constexpr qsizetype FormatBytes = 1;
constexpr qsizetype LengthBytes = 4;
constexpr qsizetype PrefixBytes = FormatBytes + LengthBytes;
// Far above the header block any client keeps: a longer length is not one
// this program packed, and no allocation follows it.
constexpr quint32 MostText = 16 * 1024 * 1024;

void setDictionary(int (*set)(z_streamp, const Bytef *, uInt), z_stream &stream)
{
    set(&stream, reinterpret_cast<const Bytef *>(Dictionary), sizeof Dictionary - 1);
}

quint32 textLength(const QByteArray &packed)
{
    return qFromBigEndian<quint32>(packed.constData() + FormatBytes);
}

// One raw deflate stream per thread, reset for every block: setting one up
// costs more than packing a block. zlib's fastest level packs a header
// block within a few per cent of its best.
class Deflater
{
public:
    Deflater()
    {
        if (deflateInit2(&m_stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~Deflater() { deflateEnd(&m_stream); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    QByteArray pack(QByteArrayView text)
    {
        deflateReset(&m_stream);
        setDictionary(deflateSetDictionary, m_stream);
        const auto room = static_cast<qsizetype>(deflateBound(&m_stream, static_cast<uLong>(text.size())));
        QByteArray packed(PrefixBytes + room, Qt::Uninitialized);
        packed[0] = Format;
        qToBigEndian(static_cast<quint32>(text.size()), packed.data() + FormatBytes);
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
        m_stream.avail_in = static_cast<uInt>(text.size());
        m_stream.next_out = reinterpret_cast<Bytef *>(packed.data() + PrefixBytes);
        m_stream.avail_out = static_cast<uInt>(room);
        // deflateBound leaves room for anything, so the block ends here.
        deflate(&m_stream, Z_FINISH);
        packed.resize(packed.size() - m_stream.avail_out);
        packed.squeeze();
        return packed;
    }

private:
    z_stream m_stream{};
};

class Inflater
{
public:
    Inflater()
    {
        if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&m_stream); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    // Empty when the bytes do not unpack to the length they name.
    QByteArray unpack(const QByteArray &packed)
    {
        inflateReset(&m_stream);
        setDictionary(inflateSetDictionary, m_stream);
        QByteArray text(textLength(packed), Qt::Uninitialized);
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData() + PrefixBytes));
        m_stream.avail_in = static_cast<uInt>(packed.size() - PrefixBytes);
        m_stream.next_out = reinterpret_cast<Bytef *>(text.data());
        m_stream.avail_out = static_cast<uInt>(text.size());
        if (inflate(&m_stream, Z_FINISH) != Z_STREAM_END || m_stream.avail_out != 0)
            return {};
        return text;
    }

private:
    z_stream m_stream{};
};

// The block up to and with its first empty line (as headerBlockLines finds
// it), or all of it when it has none.
QByteArrayView headerPart(QByteArrayView block)
{
    qsizetype lineStart = 0;
    for (qsizetype pos = 0; pos < block.size(); ++pos) {
        const char c = block[pos];
        if (c != '\r' && c != '\n')
            continue;
        const qsizetype end = c == '\r' && pos + 1 < block.size() && block[pos + 1] == '\n' ? pos + 1 : pos;
        if (pos == lineStart)
            return block.first(end + 1);
        pos = end;
        lineStart = end + 1;
    }
    return block;
}

} // namespace

PackedHeaders::PackedHeaders(const QByteArray &block)
{
    if (block.isEmpty())
        return;
    thread_local Deflater deflater;
    m_packed = deflater.pack(headerPart(block));
}

std::optional<PackedHeaders> PackedHeaders::fromPacked(const QByteArray &packed)
{
    PackedHeaders headers;
    if (packed.isEmpty())
        return headers;
    if (packed.size() <= PrefixBytes || packed[0] != Format || textLength(packed) > MostText)
        return std::nullopt;
    headers.m_packed = packed;
    return headers;
}

QByteArray PackedHeaders::block() const
{
    if (m_packed.isEmpty())
        return {};
    thread_local Inflater inflater;
    return inflater.unpack(m_packed);
}

TmsHeaders PackedHeaders::lines() const
{
    return headerBlockLines(block());
}

bool PackedHeaders::operator==(const PackedHeaders &other) const
{
    return m_packed == other.m_packed || block() == other.block();
}

TmsHeaders headerBlockLines(QByteArray block)
{
    block.replace('\0', ' ');
    TmsHeaders lines;
    qsizetype start = 0;
    for (qsizetype pos = 0; pos < block.size(); ++pos) {
        const char c = block[pos];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(decodeHeaderLine(QByteArrayView(block).sliced(start, pos - start)));
        if (c == '\r' && pos + 1 < block.size() && block[pos + 1] == '\n')
            ++pos;
        start = pos + 1;
    }
    if (start < block.size())
        lines.append(decodeHeaderLine(QByteArrayView(block).sliced(start)));
    CutAtBody(lines);
    return lines;
}
