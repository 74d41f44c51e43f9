#include "mail/messagebody.h"

#include "mail/charset.h"
#include "mail/headers.h"
#include "mail/mimecodecs.h"

#include <QFile>

#include <algorithm>

namespace {

using ByteLines = QList<QByteArray>;

// Nested multiparts deeper than this are not followed.
constexpr int MaxMultipartDepth = 16;

struct BodyParseError
{
    QString text;
};

QStringList errorBody(const QString &text)
{
    return {QStringLiteral("The following error has been occured while processing the message:"), text,
            QStringLiteral("The original message will be stored as an attachment")};
}

// Lines end at CR LF, a lone CR or a lone LF; a last line without a line
// break is a line too.
ByteLines splitLines(QByteArrayView bytes)
{
    ByteLines lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.append(bytes.sliced(begin, i - begin).toByteArray());
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < bytes.size())
        lines.append(bytes.sliced(begin).toByteArray());
    return lines;
}

QStringList toText(const ByteLines &lines, QByteArrayView charset)
{
    QStringList text;
    text.reserve(lines.size());
    for (const QByteArray &line : lines)
        text.append(decodeCharset(line, charset));
    return text;
}

// The value of parameter `name` (case-insensitive) of a structured field
// such as Content-Type: a quoted value runs to its closing quote, a plain
// one to the next ";" or blank.
QString parameter(const QString &fieldValue, QStringView name)
{
    qsizetype pos = fieldValue.indexOf(u';');
    while (pos >= 0 && pos < fieldValue.size()) {
        ++pos;
        while (pos < fieldValue.size() && fieldValue[pos].unicode() < 33)
            ++pos;
        const qsizetype equals = fieldValue.indexOf(u'=', pos);
        if (equals < 0)
            return {};
        const bool wanted =
            QStringView(fieldValue).sliced(pos, equals - pos).trimmed().compare(name, Qt::CaseInsensitive) == 0;
        pos = equals + 1;
        while (pos < fieldValue.size() && fieldValue[pos].unicode() < 33)
            ++pos;
        qsizetype end;
        QString value;
        if (pos < fieldValue.size() && fieldValue[pos] == u'"') {
            end = fieldValue.indexOf(u'"', pos + 1);
            if (end < 0)
                end = fieldValue.size();
            value = fieldValue.sliced(pos + 1, end - pos - 1);
        } else {
            end = pos;
            while (end < fieldValue.size() && fieldValue[end] != u';' && fieldValue[end].unicode() >= 33)
                ++end;
            value = fieldValue.sliced(pos, end - pos);
        }
        if (wanted)
            return value;
        pos = fieldValue.indexOf(u';', end);
    }
    return {};
}

// A uuencoded block starts with "begin", blanks and a three-digit mode.
bool startsUuencodedBlock(QByteArrayView line)
{
    if (line.size() <= 8 || !line.first(5).toByteArray().toLower().startsWith("begin"))
        return false;
    qsizetype pos = 5;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos + 3 > line.size())
        return false;
    for (char c : line.sliced(pos, 3)) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool endsUuencodedBlock(QByteArrayView line)
{
    return line.trimmed().compare("end", Qt::CaseInsensitive) == 0;
}

bool holdsUuencodedBlock(const ByteLines &lines)
{
    return std::any_of(lines.begin(), lines.end(), startsUuencodedBlock);
}

ByteLines withoutUuencodedBlocks(const ByteLines &lines)
{
    ByteLines kept;
    bool inBlock = false;
    for (const QByteArray &line : lines) {
        if (inBlock)
            inBlock = !endsUuencodedBlock(line);
        else if (startsUuencodedBlock(line))
            inBlock = true;
        else
            kept.append(line);
    }
    return kept;
}

ByteLines decodeQuotedPrintableLines(const ByteLines &lines)
{
    return splitLines(decodeQuotedPrintable(lines.join("\r\n"), QuotedPrintableFlavour::Body));
}

ByteLines decodeBase64Lines(const ByteLines &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += QByteArray::fromBase64(line);
    return splitLines(bytes);
}

QString lowerContentType(const TmsHeaders &headers)
{
    return GetHeaderValue(headers, QStringLiteral("Content-Type")).toLower();
}

QString transferEncoding(const TmsHeaders &headers)
{
    return GetHeaderValue(headers, QStringLiteral("Content-Transfer-Encoding")).toLower();
}

// A part that a mail program would offer to save rather than show.
bool isAttachment(const TmsHeaders &headers)
{
    const QString type = GetHeaderValue(headers, QStringLiteral("Content-Type"));
    return (!type.isEmpty() && !type.contains(u"text/", Qt::CaseInsensitive)) || !parameter(type, u"name").isEmpty();
}

// "MIME-Version: 1.0 (produced by ...)" is as much version 1.0 as the bare form.
bool isMime(const TmsHeaders &headers)
{
    const QString version = GetHeaderValue(headers, QStringLiteral("MIME-Version"));
    return version == u"1.0" || version.startsWith(u"1.0 ") || version.startsWith(u"1.0(");
}

// Walks a retrieved message from its first line to the body text.
class MessageBodyReader
{
public:
    explicit MessageBodyReader(ByteLines lines) : m_lines(std::move(lines)) {}

    QStringList read()
    {
        const TmsHeaders headers = readHeaderBlock({});
        if (atEnd())
            return {};
        const qsizetype bodyStart = m_pos;
        if (!isMime(headers))
            return plainBody(bodyStart);

        const QString type = lowerContentType(headers);
        if (type.contains(u"multipart"))
            return firstTextPart(headers);
        if (isAttachment(headers))
            return {};

        const QString encoding = transferEncoding(headers);
        const ByteLines body = m_lines.mid(bodyStart);
        if (encoding != u"base64" && holdsUuencodedBlock(body))
            return plainBody(bodyStart);
        return toText(decode(body, encoding), charsetOf(headers));
    }

private:
    bool atEnd() const { return m_pos >= m_lines.size(); }

    static QByteArray charsetOf(const TmsHeaders &headers)
    {
        return parameter(GetHeaderValue(headers, QStringLiteral("Content-Type")), u"charset").toLatin1();
    }

    static ByteLines decode(const ByteLines &body, const QString &encoding)
    {
        if (encoding == u"quoted-printable")
            return decodeQuotedPrintableLines(body);
        if (encoding == u"base64")
            return decodeBase64Lines(body);
        return body;
    }

    static bool isDelimiter(const QByteArray &line, const QByteArray &delimiter)
    {
        if (!line.startsWith(delimiter))
            return false;
        // Senders may pad a delimiter line with blanks; "--" closes the multipart.
        QByteArrayView tail = QByteArrayView(line).sliced(delimiter.size());
        if (tail.startsWith("--"))
            tail = tail.sliced(2);
        return tail.trimmed().isEmpty();
    }

    // Lines up to the next empty line (which is consumed) or delimiter line
    // (which is not), decoded as header text.
    TmsHeaders readHeaderBlock(const QByteArray &delimiter)
    {
        TmsHeaders headers;
        for (; !atEnd(); ++m_pos) {
            const QByteArray &line = m_lines[m_pos];
            if (line.isEmpty()) {
                ++m_pos;
                break;
            }
            if (!delimiter.isEmpty() && isDelimiter(line, delimiter))
                break;
            headers.append(decodeHeaderLine(line));
        }
        return headers;
    }

    void skipPastDelimiter(const QByteArray &delimiter)
    {
        while (!atEnd() && !isDelimiter(m_lines[m_pos], delimiter))
            ++m_pos;
        if (atEnd())
            throw BodyParseError{QStringLiteral("Cannot find boundary")};
        ++m_pos;
    }

    static QByteArray delimiterOf(const TmsHeaders &headers)
    {
        const QString boundary = parameter(GetHeaderValue(headers, QStringLiteral("Content-Type")), u"boundary");
        if (boundary.isEmpty())
            throw BodyParseError{QStringLiteral("Cannot find boundary")};
        return "--" + boundary.toUtf8();
    }

    // The body is the first part; a first part that is itself multipart
    // (alternative, related ...) is entered for its own first part.
    QStringList firstTextPart(const TmsHeaders &messageHeaders)
    {
        QByteArray delimiter = delimiterOf(messageHeaders);
        skipPastDelimiter(delimiter);
        TmsHeaders part = readHeaderBlock(delimiter);
        for (int depth = 1; lowerContentType(part).contains(u"multipart") && depth < MaxMultipartDepth; ++depth) {
            delimiter = delimiterOf(part);
            skipPastDelimiter(delimiter);
            part = readHeaderBlock(delimiter);
        }

        ByteLines body;
        while (!atEnd() && !isDelimiter(m_lines[m_pos], delimiter))
            body.append(m_lines[m_pos++]);
        if (atEnd())
            throw BodyParseError{QStringLiteral("Cannot find boundary")};
        if (isAttachment(part))
            return {};
        if (body.isEmpty())
            return {QString()};
        return toText(decode(body, transferEncoding(part)), charsetOf(part));
    }

    // A message without MIME: its lines as they stand, less uuencoded files.
    QStringList plainBody(qsizetype bodyStart) const
    {
        return toText(withoutUuencodedBlocks(m_lines.mid(bodyStart)), {});
    }

    ByteLines m_lines;
    qsizetype m_pos = 0;
};

} // namespace

QStringList ReadMessageBody(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return errorBody(QStringLiteral("Cannot open file %1").arg(path));
    return MessageBodyLines(file.readAll());
}

QStringList MessageBodyLines(const QByteArray &message)
{
    try {
        return MessageBodyReader(splitLines(message)).read();
    } catch (const BodyParseError &error) {
        return errorBody(error.text);
    }
}
