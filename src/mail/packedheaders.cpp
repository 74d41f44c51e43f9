#include "mail/packedheaders.h"

#include <QtEndian>

#include <new>
#include <zlib.h>

namespace {

// Text that most header blocks hold. Each block is packed on its own, too
// short for deflate to find much to repeat within it; with these strings
// to refer back to, a typical block packs about a sixth smaller. The
// likeliest strings come last, where references to them are shortest.
// Changing the text makes rows packed before it unreadable: they live only
// in memory, never longer than the program.
constexpr char Dictionary[] =
    "X-Priority: 3\nX-Mailer: \nUser-Agent: \nThread-Topic: \nThread-Index: \nContent-Language: en-US\n"
    "Accept-Language: en-US\nPrecedence: bulk\nAuto-Submitted: auto-generated\nX-Spam-Status: No, score=\n"
    "List-Id: <\nList-Unsubscribe-Post: List-Unsubscribe=One-Click\nList-Unsubscribe: <mailto:?subject=unsubscribe>, "
    "<https://\nFeedback-ID: \nX-Original-To: \nDelivered-To: \nReturn-Path: <\n"
    "ARC-Seal: i=1; a=rsa-sha256; t=; cv=none;\n\td=; s=;\n\tb=\n"
    "ARC-Message-Signature: i=1; a=rsa-sha256; c=relaxed/relaxed;\n"
    "ARC-Authentication-Results: i=1;\nAuthentication-Results: ;\n\tdkim=pass header.i=@ header.s= header.b=;\n"
    "\tspf=pass (: domain of designates as permitted sender) smtp.mailfrom=;\n"
    "\tdmarc=pass (p=NONE sp=NONE dis=NONE) header.from=\nReceived-SPF: pass client-ip=;\n"
    "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=; s=;\n\th=From:To:Subject:Date:Message-ID:"
    "MIME-Version:Content-Type:Reply-To; bh=;\n\tb=\nX-Received: by with SMTP id ;\n"
    "Content-Transfer-Encoding: 7bit\nContent-Transfer-Encoding: 8bit\nContent-Transfer-Encoding: base64\n"
    "Content-Transfer-Encoding: quoted-printable\nContent-Type: multipart/mixed; boundary=\"\n"
    "Content-Type: multipart/alternative; boundary=\"\nContent-Type: text/html; charset=\"UTF-8\"\n"
    "Content-Type: text/plain; charset=\"utf-8\"\nMIME-Version: 1.0\nIn-Reply-To: <\nReferences: <\n"
    "Message-ID: <\nReply-To: \nCc: \nTo: \nFrom: \nSubject: =?UTF-8?Q?=?utf-8?B?=?iso-8859-1?Q?\n"
    "Date: Mon, Tue, Wed, Thu, Fri, Sat, Sun, Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec 2026 +0000 (UTC)\n"
    "\t(version=TLS1_3 cipher=TLS_AES_256_GCM_SHA384 bits=256/256);\n"
    "Received: from localhost ([127.0.0.1])\n\tby with ESMTPS id\n\tfor <>; \nReceived: from ";

// The first bytes of a packed block: the length of the text, big-endian.
constexpr qsizetype LengthBytes = 4;

void setDictionary(int (*set)(z_streamp, const Bytef *, uInt), z_stream &stream)
{
    set(&stream, reinterpret_cast<const Bytef *>(Dictionary), sizeof Dictionary - 1);
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

    QByteArray pack(const QByteArray &text)
    {
        deflateReset(&m_stream);
        setDictionary(deflateSetDictionary, m_stream);
        const auto room = static_cast<qsizetype>(deflateBound(&m_stream, static_cast<uLong>(text.size())));
        QByteArray packed(LengthBytes + room, Qt::Uninitialized);
        qToBigEndian(static_cast<quint32>(text.size()), packed.data());
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
        m_stream.avail_in = static_cast<uInt>(text.size());
        m_stream.next_out = reinterpret_cast<Bytef *>(packed.data() + LengthBytes);
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

    QByteArray unpack(const QByteArray &packed)
    {
        inflateReset(&m_stream);
        setDictionary(inflateSetDictionary, m_stream);
        QByteArray text(qFromBigEndian<quint32>(packed.constData()), Qt::Uninitialized);
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData() + LengthBytes));
        m_stream.avail_in = static_cast<uInt>(packed.size() - LengthBytes);
        m_stream.next_out = reinterpret_cast<Bytef *>(text.data());
        m_stream.avail_out = static_cast<uInt>(text.size());
        inflate(&m_stream, Z_FINISH);
        text.truncate(text.size() - m_stream.avail_out);
        return text;
    }

private:
    z_stream m_stream{};
};

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
    thread_local Deflater deflater;
    m_packed = deflater.pack(text);
}

TmsHeaders PackedHeaders::lines() const
{
    TmsHeaders lines;
    if (m_packed.isEmpty())
        return lines;
    thread_local Inflater inflater;
    const QByteArray text = inflater.unpack(m_packed);
    qsizetype start = 0;
    for (qsizetype end = text.indexOf('\n'); end >= 0; end = text.indexOf('\n', start)) {
        lines.append(QString::fromUtf8(QByteArrayView(text).sliced(start, end - start)));
        start = end + 1;
    }
    return lines;
}
