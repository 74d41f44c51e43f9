// Feeds the IMAP response reader arbitrary server output: the input after
// its first byte is the byte stream, read response by response until it
// ends, with literals handed over in pieces of the first byte's size (0:
// whole). Literals labelled BODY[] go to a device, others are kept up to a
// small bound. Every folder name read is also decoded from modified UTF-7
// and encoded again. A failure must be an EMailsieveError.

#include "fuzzsupport.h"

#include "mail/imapfoldername.h"
#include "mail/imapparser.h"
#include "mail/mailerrors.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

namespace {

constexpr qint64 Keep = 100;

class BytesInput : public ImapInput
{
public:
    BytesInput(QByteArrayView bytes, qsizetype piece) : m_bytes(bytes), m_piece(piece > 0 ? piece : bytes.size() + 1) {}

    QByteArray readLine() override
    {
        const qsizetype end = m_bytes.indexOf("\r\n", m_pos);
        if (end < 0)
            throw EProtocolError(QStringLiteral("the stream ended"));
        const QByteArray line = m_bytes.sliced(m_pos, end - m_pos).toByteArray();
        m_pos = end + 2;
        return line;
    }
    void readLiteral(qint64 size, const std::function<void(const QByteArray &)> &take) override
    {
        if (size > m_bytes.size() - m_pos)
            throw EProtocolError(QStringLiteral("the stream ended"));
        for (qint64 done = 0; done < size; done += m_piece)
            take(m_bytes.sliced(m_pos + done, std::min<qint64>(m_piece, size - done)).toByteArray());
        m_pos += size;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_piece;
    qsizetype m_pos = 0;
};

void checkValue(const ImapValue &value, int depth)
{
    requirePromise(depth <= ImapResponseReader::MaxDepth + 1, "lists nest at most MaxDepth deep");
    requirePromise(value.type == ImapValue::Type::List || value.items.empty(), "only a list has items");
    if (value.type == ImapValue::Type::String)
        requirePromise(value.text.size() <= value.size, "a string keeps no more than the server sent");
    for (const ImapValue &item : value.items)
        checkValue(item, depth + 1);
    const QString name = decodeFolderName(value.stringValue());
    requirePromise(decodeFolderName(encodeFolderName(name)) == name, "a folder name survives its encoding");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    BytesInput input(QByteArrayView(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)), data[0]);
    ImapResponseReader reader(input);
    QByteArray body;
    QBuffer device(&body);
    device.open(QIODevice::WriteOnly);
    reader.literalTarget = [&device](const QByteArray &label, qint64) {
        if (label == "BODY[]")
            return ImapLiteralTarget{0, 1 << 20, &device};
        return ImapLiteralTarget{Keep, 1 << 20};
    };
    try {
        for (;;) {
            const ImapResponse response = reader.next();
            requirePromise(response.kind != ImapResponse::Kind::Tagged || response.isStatus(),
                           "a tagged response is a status");
            for (const ImapValue &value : response.values)
                checkValue(value, 0);
            for (const ImapValue &value : response.codeArguments)
                checkValue(value, 0);
            for (const ImapValue &value : response.values) {
                if (value.isList()) {
                    const ImapValue *header = value.valueAfter("BODY[HEADER]");
                    if (header && header->text.size() < header->size)
                        requirePromise(header->text.size() == Keep, "a literal cut short keeps what its target allows");
                }
            }
        }
    } catch (const EMailsieveError &) {
        // The end of the stream, or a response that cannot be read.
    }
    return 0;
}
