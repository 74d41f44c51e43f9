#include "mail/imapparser.h"

#include "mail/mailerrors.h"
#include "mail/printabletext.h"

#include <QIODevice>
#include <QLocale>

namespace {

bool isStatusName(const QByteArray &name)
{
    return name == "OK" || name == "NO" || name == "BAD" || name == "BYE" || name == "PREAUTH";
}

// Ends an atom outside a bracketed section; ']' also ends one inside a
// response code.
bool endsAtom(char c, bool inCode)
{
    return c == ' ' || c == '(' || c == ')' || c == '"' || (inCode && c == ']');
}

qint64 decimal(QByteArrayView digits)
{
    // 18 digits always fit in 63 bits.
    if (digits.isEmpty() || digits.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

bool ImapValue::isAtom(const QByteArray &name) const
{
    return type == Type::Atom && text.compare(name, Qt::CaseInsensitive) == 0;
}

QByteArray ImapValue::stringValue() const
{
    return type == Type::Atom || type == Type::String ? text : QByteArray();
}

qint64 ImapValue::number() const
{
    return type == Type::Atom ? decimal(text) : -1;
}

const ImapValue *ImapValue::valueAfter(const QByteArray &name) const
{
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
        if (items[i].isAtom(name))
            return &items[i + 1];
    }
    return nullptr;
}

bool ImapResponse::isStatus() const
{
    return isStatusName(name);
}

ImapResponseReader::ImapResponseReader(ImapInput &input) : m_input(input)
{
}

void ImapResponseReader::fail(const QString &what) const
{
    constexpr qsizetype MaxQuoted = 200;
    QString line = printableText(QString::fromUtf8(m_first.left(MaxQuoted)));
    if (m_first.size() > MaxQuoted)
        line += QStringLiteral("...");
    throw EProtocolError(QStringLiteral("The server's response is not valid (%1): \"%2\"").arg(what, line));
}

ImapResponse ImapResponseReader::next()
{
    m_first = m_line = m_input.readLine();
    m_pos = 0;
    m_literals = 0;
    ImapResponse response;
    response.line = m_first;
    if (m_line.startsWith('+')) {
        response.kind = ImapResponse::Kind::Continuation;
        response.text = m_line.mid(m_line.startsWith("+ ") ? 2 : 1);
        return response;
    }
    const QByteArray tag = readWord();
    if (tag.isEmpty())
        fail(QStringLiteral("no tag"));
    if (tag == "*") {
        response.kind = ImapResponse::Kind::Untagged;
    } else {
        response.kind = ImapResponse::Kind::Tagged;
        response.tag = tag;
    }
    skipSpaces();
    QByteArray word = readWord();
    if (const qint64 number = decimal(word); number >= 0 && response.kind == ImapResponse::Kind::Untagged) {
        response.number = number;
        skipSpaces();
        word = readWord();
    }
    response.name = word.toUpper();
    if (response.name.isEmpty())
        fail(QStringLiteral("no keyword"));
    if (response.isStatus())
        readStatusTail(response);
    else if (response.kind == ImapResponse::Kind::Tagged)
        fail(QStringLiteral("a tagged response that is no status"));
    else
        readValues(response.values, 0, false);
    return response;
}

void ImapResponseReader::readStatusTail(ImapResponse &response)
{
    skipSpaces();
    if (!atEnd() && peek() == '[') {
        ++m_pos;
        response.code = readAtom(true).text.toUpper();
        readValues(response.codeArguments, 1, true);
        if (!atEnd() && peek() == ']')
            ++m_pos;
        skipSpaces();
    }
    response.text = m_line.mid(m_pos);
    m_pos = m_line.size();
}

void ImapResponseReader::readValues(std::vector<ImapValue> &values, int depth, bool inCode)
{
    QByteArray label; // the atom just read, which a literal may be the value of
    for (;;) {
        skipSpaces();
        if (atEnd())
            return; // a list left open at the end of the response closes here
        const char c = peek();
        if (c == ')' || (inCode && c == ']')) {
            if (depth > 0)
                return;
            ++m_pos; // a stray closing bracket at the top level carries nothing
            continue;
        }
        ImapValue value;
        if (c == '(') {
            value = readList(depth + 1, inCode);
        } else if (c == '"') {
            value = readQuoted();
        } else if (qint64 size = 0; literalAtCursor(&size)) {
            value = readLiteral(label);
        } else {
            value = readAtom(inCode);
        }
        label = value.isAtom() ? value.text.toUpper() : QByteArray();
        values.push_back(std::move(value));
    }
}

ImapValue ImapResponseReader::readList(int depth, bool inCode)
{
    if (depth > MaxDepth)
        fail(QStringLiteral("lists nested more than %1 deep").arg(MaxDepth));
    ++m_pos; // "("
    ImapValue list;
    list.type = ImapValue::Type::List;
    readValues(list.items, depth, inCode);
    if (!atEnd() && peek() == ')')
        ++m_pos;
    return list;
}

ImapValue ImapResponseReader::readQuoted()
{
    ++m_pos; // the opening quote
    ImapValue value;
    value.type = ImapValue::Type::String;
    while (!atEnd()) {
        char c = m_line.at(m_pos++);
        if (c == '"') {
            value.size = value.text.size();
            return value;
        }
        if (c == '\\' && !atEnd())
            c = m_line.at(m_pos++);
        value.text.append(c);
    }
    // Unclosed: the rest of the line, as a display text would be read.
    value.size = value.text.size();
    return value;
}

bool ImapResponseReader::literalAtCursor(qint64 *size) const
{
    // "{n}" or "{n+}" (RFC 7888) closing the line; anywhere else a brace is text.
    if (atEnd() || peek() != '{' || !m_line.endsWith('}'))
        return false;
    QByteArrayView digits = QByteArrayView(m_line).sliced(m_pos + 1, m_line.size() - m_pos - 2);
    if (digits.endsWith('+'))
        digits.chop(1);
    *size = decimal(digits);
    return *size >= 0;
}

ImapValue ImapResponseReader::readLiteral(const QByteArray &label)
{
    qint64 size = 0;
    literalAtCursor(&size);
    if (++m_literals > MaxLiterals)
        fail(QStringLiteral("more than %1 literals").arg(MaxLiterals));
    const ImapLiteralTarget target =
        literalTarget ? literalTarget(label, size) : ImapLiteralTarget{DefaultLiteralKeep, DefaultLiteralMost};
    if (size > target.most)
        throw EProtocolError(QStringLiteral("The server sent a literal of %1 octets, more than the %2 it may hold")
                                 .arg(size)
                                 .arg(QLocale::c().formattedDataSize(target.most, 0)));
    ImapValue value;
    value.type = ImapValue::Type::String;
    value.size = size;
    m_input.readLiteral(size, [&value, &target](const QByteArray &bytes) {
        if (target.device) {
            if (target.device->write(bytes) != bytes.size())
                throw EFileError(QStringLiteral("Cannot write the message: %1").arg(target.device->errorString()));
            return;
        }
        if (value.text.size() < target.keep)
            value.text.append(bytes.first(std::min<qint64>(bytes.size(), target.keep - value.text.size())));
    });
    m_line = m_input.readLine();
    m_pos = 0;
    return value;
}

ImapValue ImapResponseReader::readAtom(bool inCode)
{
    ImapValue value;
    value.type = ImapValue::Type::Atom;
    const qsizetype start = m_pos;
    while (!atEnd() && !endsAtom(peek(), inCode)) {
        // A section ("BODY[HEADER.FIELDS (FROM)]") belongs to its atom,
        // blanks and brackets included.
        if (!inCode && peek() == '[') {
            const qsizetype close = m_line.indexOf(']', m_pos);
            m_pos = close < 0 ? m_line.size() : close + 1;
            continue;
        }
        ++m_pos;
    }
    value.text = m_line.mid(start, m_pos - start);
    if (value.text.compare("NIL", Qt::CaseInsensitive) == 0) {
        value.type = ImapValue::Type::Nil;
        value.text.clear();
    }
    return value;
}

QByteArray ImapResponseReader::readWord()
{
    const qsizetype start = m_pos;
    while (!atEnd() && peek() != ' ')
        ++m_pos;
    return m_line.mid(start, m_pos - start);
}

void ImapResponseReader::skipSpaces()
{
    while (!atEnd() && peek() == ' ')
        ++m_pos;
}
