#pragma once
// Reads an IMAP server's responses (RFC 3501 section 7, RFC 9051): tagged
// status lines, untagged data and status responses, and continuation
// requests. The values are atoms, numbers, quoted strings, literals ({n} and
// {n+}, whose bytes follow the line and after which the line goes on), NIL
// and parenthesised lists.
//
// Reading is lenient where only a display text is at stake (an unknown
// response keyword, an unclosed list at the end of a response, stray
// characters all read as atoms), so untagged noise of any kind never breaks a
// session; the client checks what it uses. It is strict about what could
// make it lose its place or grow without end: a response may carry at most
// MaxLiterals literals, nest lists at most MaxDepth deep, and a literal
// larger than its ImapLiteralTarget allows ends the session.

#include <QByteArray>
#include <functional>
#include <vector>

class QIODevice;

struct ImapValue
{
    enum class Type { Atom, String, Nil, List };
    Type type = Type::Nil;
    // An atom's or a string's bytes; of a literal, the first `keep` bytes.
    QByteArray text;
    // Of a string: the octets the server sent (more than text holds when a
    // literal was cut short or streamed to a device).
    qint64 size = 0;
    std::vector<ImapValue> items; // of a list

    bool isAtom() const { return type == Type::Atom; }
    bool isList() const { return type == Type::List; }
    // An atom equal to name, ASCII letters compared without case.
    bool isAtom(const QByteArray &name) const;
    // A string or an atom (an astring): its bytes; empty for NIL and lists.
    QByteArray stringValue() const;
    // A number of at most 63 bits without sign; -1 when the value is not one.
    qint64 number() const;
    // The value following the atom `name` in this list (the pairs of a
    // FETCH response, the arguments of a response code); null when absent.
    const ImapValue *valueAfter(const QByteArray &name) const;
};

struct ImapResponse
{
    enum class Kind { Untagged, Tagged, Continuation };
    Kind kind = Kind::Untagged;
    QByteArray tag; // of a tagged response
    // "* 12 EXISTS": 12; -1 when the response starts with no number.
    qint64 number = -1;
    // The keyword, upper case: OK, NO, BAD, BYE, PREAUTH, CAPABILITY,
    // LIST, FLAGS, EXISTS, EXPUNGE, FETCH ...
    QByteArray name;
    // OK, NO, BAD, BYE and PREAUTH carry an optional response code
    // ("[UIDVALIDITY 3857529045]": code "UIDVALIDITY", upper case, and its
    // arguments) and a human-readable text; a continuation request only text.
    QByteArray code;
    std::vector<ImapValue> codeArguments;
    QByteArray text;
    // What follows the keyword of any other response.
    std::vector<ImapValue> values;
    // The response's first line as received, for error texts.
    QByteArray line;

    bool isStatus() const;
};

// Where the bytes of one literal go.
struct ImapLiteralTarget
{
    qint64 keep = 0; // bytes kept in the value's text; the rest is read and dropped
    qint64 most = 0; // a larger literal ends the session (EProtocolError)
    QIODevice *device = nullptr; // when set, every byte is written here instead
};

// The transport under the reader.
class ImapInput
{
public:
    virtual ~ImapInput() = default;
    // The next line without its line end; throws when there is none.
    virtual QByteArray readLine() = 0;
    // Exactly size bytes, handed to take as they arrive.
    virtual void readLiteral(qint64 size, const std::function<void(const QByteArray &)> &take) = 0;
};

class ImapResponseReader
{
public:
    static constexpr int MaxDepth = 32;
    static constexpr int MaxLiterals = 64;
    // What an unclaimed literal (a folder name, untagged noise) may hold.
    static constexpr qint64 DefaultLiteralKeep = 64 * 1024;
    static constexpr qint64 DefaultLiteralMost = 1024 * 1024;

    explicit ImapResponseReader(ImapInput &input);

    // Asked for every literal with the atom it is the value of, upper case
    // ("BODY[HEADER]"; empty when it follows none) and its size. Unset:
    // DefaultLiteralKeep and DefaultLiteralMost.
    std::function<ImapLiteralTarget(const QByteArray &label, qint64 size)> literalTarget;

    // Reads one whole response, its literals included. EProtocolError for a
    // response that cannot be read; the input's own errors pass through.
    ImapResponse next();

private:
    void readStatusTail(ImapResponse &response);
    void readValues(std::vector<ImapValue> &values, int depth, bool inCode);
    ImapValue readList(int depth, bool inCode);
    ImapValue readQuoted();
    // The literal that starts at the cursor and ends the line, with the
    // line that follows it made current.
    ImapValue readLiteral(const QByteArray &label);
    bool literalAtCursor(qint64 *size) const;
    ImapValue readAtom(bool inCode);
    QByteArray readWord();
    void skipSpaces();
    bool atEnd() const { return m_pos >= m_line.size(); }
    char peek() const { return m_line.at(m_pos); }
    [[noreturn]] void fail(const QString &what) const;

    ImapInput &m_input;
    QByteArray m_first; // the response's first line
    QByteArray m_line; // the line being read
    qsizetype m_pos = 0;
    int m_literals = 0;
};
