#include "mail/authresults.h"

namespace {

// A receiving server writes a few hundred characters; the bounds only keep
// a hostile field cheap.
constexpr qsizetype MaxFieldLength = 16 * 1024;
constexpr qsizetype MaxResults = 64;
constexpr qsizetype MaxProperties = 32;
// An authserv-id quoted in a reason line is cut to this length.
constexpr qsizetype MaxQuotedIdLength = 64;

// Only a to z are folded: no Unicode case rule may turn a look-alike
// character into the trusted server's name.
QString asciiLower(QStringView text)
{
    QString lower = text.toString();
    for (QChar &c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return lower;
}

bool equalsIgnoringAsciiCase(QStringView a, QStringView b)
{
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Methods, results, ptypes and properties are Keywords (RFC 5321 ldh-str).
bool isKeywordChar(QChar c)
{
    return isDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-';
}

// A MIME token (RFC 2045): the authserv-id when it is not quoted.
bool isTokenChar(QChar c)
{
    return c.unicode() > 32 && c.unicode() < 127 && QStringView(u"()<>@,;:\\\"/[]?=").indexOf(c) < 0;
}

// A property value runs to the next blank, comment, quoted string or ";":
// servers write base64 ("header.b=ab/c+d=") and addresses there, which a
// token would not allow.
bool isValueChar(QChar c)
{
    const char16_t u = c.unicode();
    return u > 32 && (u < 127 || u >= 160) && QStringView(u"();\"\\").indexOf(c) < 0;
}

// Walks one field value. Blanks and comments (nested, with quoted pairs)
// are skipped wherever the grammar allows CFWS; a comment or quoted string
// left open fails the whole field.
class FieldReader
{
public:
    explicit FieldReader(QStringView text) : m_text(text) {}

    bool failed() const { return m_failed; }
    bool atEnd() const { return m_pos >= m_text.size(); }
    bool isAt(QChar c) const { return !atEnd() && m_text[m_pos] == c; }

    bool take(QChar c)
    {
        if (!isAt(c))
            return false;
        ++m_pos;
        return true;
    }

    template <typename Predicate>
    QStringView readWhile(Predicate accepts)
    {
        const qsizetype start = m_pos;
        while (!atEnd() && accepts(m_text[m_pos]))
            ++m_pos;
        return m_text.sliced(start, m_pos - start);
    }

    void skipCfws()
    {
        while (!atEnd()) {
            if (isTrimmed(m_text[m_pos])) {
                ++m_pos;
            } else if (m_text[m_pos] == u'(') {
                skipComment();
            } else {
                return;
            }
        }
    }

    // A token or a quoted string; nothing when there is neither.
    std::optional<QString> readValue()
    {
        if (isAt(u'"'))
            return readQuoted();
        const QStringView token = readWhile(isTokenChar);
        return token.isEmpty() ? std::nullopt : std::optional<QString>(token.toString());
    }

    // What follows "ptype.property=": a value, or an address whose local
    // part is a quoted string, kept as written.
    std::optional<QString> readPropertyValue()
    {
        const qsizetype start = m_pos;
        if (isAt(u'"')) {
            std::optional<QString> quoted = readQuoted();
            if (!quoted || !take(u'@'))
                return quoted;
            readWhile(isValueChar);
            return m_text.sliced(start, m_pos - start).toString();
        }
        const QStringView value = readWhile(isValueChar);
        return value.isEmpty() ? std::nullopt : std::optional<QString>(value.toString());
    }

private:
    void skipComment()
    {
        int depth = 0;
        for (; !atEnd(); ++m_pos) {
            const QChar c = m_text[m_pos];
            if (c == u'\\') {
                ++m_pos; // the escaped character is text
            } else if (c == u'(') {
                ++depth;
            } else if (c == u')' && --depth == 0) {
                ++m_pos;
                return;
            }
        }
        m_failed = true;
    }

    std::optional<QString> readQuoted()
    {
        QString text;
        for (++m_pos; !atEnd(); ++m_pos) {
            const QChar c = m_text[m_pos];
            if (c == u'"') {
                ++m_pos;
                return text;
            }
            if (c == u'\\' && ++m_pos >= m_text.size())
                break;
            text += m_text[m_pos];
        }
        m_failed = true;
        return std::nullopt;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    bool m_failed = false;
};

// "ptype.property" or, as some servers write, a bare name.
std::optional<QString> readPropertyName(FieldReader &reader)
{
    QString name = asciiLower(reader.readWhile(isKeywordChar));
    if (name.isEmpty())
        return std::nullopt;
    reader.skipCfws();
    if (reader.take(u'.')) {
        reader.skipCfws();
        const QStringView property = reader.readWhile(isKeywordChar);
        if (property.isEmpty())
            return std::nullopt;
        name += u'.' + asciiLower(property);
        reader.skipCfws();
    }
    return name;
}

// One resinfo after its ";": "method[/version]=result", then the reason and
// the properties up to the next ";". A method without "=" at the end of
// the field has an empty result: it is "none" when it is the only one.
std::optional<AuthResult> readResult(FieldReader &reader)
{
    AuthResult found;
    found.method = asciiLower(reader.readWhile(isKeywordChar));
    if (found.method.isEmpty())
        return std::nullopt;
    reader.skipCfws();
    if (reader.atEnd())
        return found;
    if (reader.take(u'/')) {
        reader.skipCfws();
        if (reader.readWhile(isDigit).isEmpty())
            return std::nullopt;
        reader.skipCfws();
    }
    if (!reader.take(u'='))
        return std::nullopt;
    reader.skipCfws();
    found.result = asciiLower(reader.readWhile(isKeywordChar));
    if (found.result.isEmpty())
        return std::nullopt;

    for (reader.skipCfws(); !reader.atEnd() && !reader.isAt(u';'); reader.skipCfws()) {
        std::optional<QString> name = readPropertyName(reader);
        if (!name || !reader.take(u'='))
            return std::nullopt;
        reader.skipCfws();
        std::optional<QString> value = reader.readPropertyValue();
        if (!value)
            return std::nullopt;
        if (*name == u"reason") {
            if (found.reason.isEmpty())
                found.reason = std::move(*value);
        } else if (found.properties.size() < MaxProperties) {
            found.properties.append({std::move(*name), std::move(*value)});
        } else {
            return std::nullopt;
        }
    }
    return found;
}

bool isFieldStart(const QString &line)
{
    return !line.isEmpty() && line[0] != u' ' && line[0] != u'\t';
}

bool isField(const QString &line, QStringView name)
{
    return line.size() > name.size() && line[name.size()] == u':'
           && equalsIgnoringAsciiCase(QStringView(line).first(name.size()), name);
}

// The value of the field that starts at line `first`: trimmed, its folded
// lines joined by one space. Joining stops once it is too long to parse.
QString unfoldedValue(const TmsHeaders &headers, qsizetype first)
{
    const QString &line = headers[first];
    QString value = trimmedView(QStringView(line).sliced(line.indexOf(u':') + 1)).toString();
    for (qsizetype next = first + 1; next < headers.size() && !headers[next].isEmpty() && !isFieldStart(headers[next])
                                     && value.size() <= MaxFieldLength;
         ++next) {
        const QStringView part = trimmedView(headers[next]);
        if (part.isEmpty())
            continue;
        value += u' ';
        value += part;
    }
    return value;
}

// Why an instance that carries another id is not believed.
QString otherIdReason(const QString &id, const QString &trustedId)
{
    QString shown = id.left(MaxQuotedIdLength);
    if (shown.size() < id.size())
        shown += QStringLiteral("...");
    return QStringLiteral("authserv-id %1 is not %2").arg(shown, trustedId);
}

// Whether signer, a DKIM signing domain, is domain or a parent of it.
bool signsForDomain(QStringView signer, QStringView domain)
{
    if (signer.isEmpty() || domain.size() < signer.size())
        return false;
    const qsizetype parentStart = domain.size() - signer.size();
    return equalsIgnoringAsciiCase(domain.sliced(parentStart), signer)
           && (parentStart == 0 || domain[parentStart - 1] == u'.');
}

// header.d, else the domain of header.i (which some servers write alone).
QString signingDomain(const AuthResult &result)
{
    const QString domain = result.property(u"header.d");
    if (!domain.isEmpty())
        return domain;
    const QString identity = result.property(u"header.i");
    return identity.sliced(identity.lastIndexOf(u'@') + 1);
}

// Whether result is about fromDomain, as trustedResult reads it.
bool concernsFromDomain(const AuthResult &result, QStringView fromDomain)
{
    if (result.method == u"dmarc")
        return !fromDomain.isEmpty() && equalsIgnoringAsciiCase(result.property(u"header.from"), fromDomain);
    if (result.method == u"dkim")
        return signsForDomain(signingDomain(result), fromDomain);
    return true;
}

} // namespace

QString AuthResult::property(QStringView name) const
{
    for (const auto &[key, value] : properties) {
        if (equalsIgnoringAsciiCase(key, name))
            return value;
    }
    return {};
}

std::optional<AuthResults> parseAuthenticationResults(QStringView value)
{
    if (value.size() > MaxFieldLength)
        return std::nullopt;
    FieldReader reader(value);
    reader.skipCfws();
    const std::optional<QString> id = reader.readValue();
    if (!id || id->isEmpty())
        return std::nullopt;
    AuthResults parsed{asciiLower(*id), {}};
    reader.skipCfws();
    if (reader.isAt(u'=') || reader.isAt(u'/')) {
        // Microsoft's servers write no authserv-id: the field starts with
        // its first result.
        parsed.authservId.clear();
        reader = FieldReader(value);
    } else {
        if (!reader.readWhile(isDigit).isEmpty()) // the authres-version
            reader.skipCfws();
        if (!reader.take(u';'))
            return std::nullopt;
    }

    do {
        reader.skipCfws();
        if (reader.atEnd() && !parsed.results.isEmpty())
            break; // a ";" after the last result
        std::optional<AuthResult> result = readResult(reader);
        if (!result || parsed.results.size() == MaxResults)
            return std::nullopt;
        if (result->result.isEmpty()) {
            const bool none = result->method == u"none" && parsed.results.isEmpty();
            return none && !reader.failed() ? std::optional<AuthResults>(parsed) : std::nullopt;
        }
        parsed.results.append(std::move(*result));
    } while (reader.take(u';'));
    return reader.failed() ? std::nullopt : std::optional<AuthResults>(parsed);
}

namespace {

// The host a Received field names after "by", lower case; empty when none.
QString receivedBy(const QString &value)
{
    const QList<QStringView> words = QStringView(value).split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (equalsIgnoringAsciiCase(words[i], u"by")) {
            QStringView host = words[i + 1];
            while (!host.isEmpty() && (host.back() == u';' || host.back() == u'.'))
                host.chop(1);
            return asciiLower(host);
        }
    }
    return {};
}

// A hop names the server when its host is the trusted name or a host below
// it: "mx.example.net" for "mx.example.net", "a1.mail.protection.outlook.com"
// for "protection.outlook.com". A look-alike that merely starts with the
// name ("mx.example.net.evil.example") is another host.
bool namesServer(const QString &host, const QString &trustedId)
{
    return !trustedId.isEmpty()
           && (host == trustedId || (host.endsWith(trustedId) && host[host.size() - trustedId.size() - 1] == u'.'));
}

} // namespace

ServerPart::ServerPart(const TmsHeaders &headers, const QString &trustedId)
    : m_trustedId(asciiLower(trimmedView(trustedId)))
{
    // The server's own Received field: the topmost that names it (a
    // provider's inner hops may stand above it), else the topmost of all,
    // which a server that names itself otherwise may write just below.
    qsizetype topmost = -1;
    qsizetype second = -1;
    for (qsizetype i = 0; i < headers.size(); ++i) {
        if (!isFieldStart(headers[i]) || !isField(headers[i], u"Received"))
            continue;
        if (namesServer(receivedBy(unfoldedValue(headers, i)), m_trustedId)) {
            m_end = i;
            m_hopNamed = true;
            return;
        }
        if (topmost < 0)
            topmost = i;
        else if (second < 0)
            second = i;
    }
    m_end = second >= 0 ? second : headers.size();
}

bool ServerPart::contains(qsizetype line) const
{
    return !m_trustedId.isEmpty() && line < m_end;
}

QStringList serverFieldValues(const TmsHeaders &headers, const ServerPart &part, QStringView name)
{
    QStringList values;
    for (qsizetype i = 0; i < headers.size() && part.contains(i); ++i) {
        if (isFieldStart(headers[i]) && isField(headers[i], name))
            values.append(unfoldedValue(headers, i));
    }
    return values;
}

TrustedAuthResults trustedAuthResults(const TmsHeaders &headers, const QString &trustedId)
{
    return trustedAuthResults(headers, ServerPart(headers, trustedId));
}

TrustedAuthResults trustedAuthResults(const TmsHeaders &headers, const ServerPart &part)
{
    TrustedAuthResults found;
    for (qsizetype i = 0; i < headers.size(); ++i) {
        if (!isFieldStart(headers[i]) || !isField(headers[i], u"Authentication-Results"))
            continue;
        std::optional<AuthResults> parsed;
        if (part.trustedId().isEmpty()) {
            found.untrustedReasons << QStringLiteral("no trusted server is set");
        } else if (!part.contains(i)) {
            found.untrustedReasons << QStringLiteral("below the receiving server's Received line");
        } else if (parsed = parseAuthenticationResults(unfoldedValue(headers, i)); !parsed) {
            found.untrustedReasons << QStringLiteral("does not parse");
        } else if (parsed->authservId.isEmpty() && !part.hopNamed()) {
            // Without an id only the place proves who wrote it.
            found.untrustedReasons
                << QStringLiteral("carries no authserv-id and no Received line names %1").arg(part.trustedId());
        } else if (!parsed->authservId.isEmpty() && parsed->authservId != part.trustedId()) {
            found.untrustedReasons << otherIdReason(parsed->authservId, part.trustedId());
        } else {
            found.trusted.append(std::move(*parsed));
        }
    }
    return found;
}

QString proposedTrustedServer(const TmsHeaders &headers)
{
    for (qsizetype i = 0; i < headers.size(); ++i) {
        if (!isFieldStart(headers[i]) || !isField(headers[i], u"Authentication-Results"))
            continue;
        const std::optional<AuthResults> parsed = parseAuthenticationResults(unfoldedValue(headers, i));
        if (!parsed)
            return {};
        if (!parsed->authservId.isEmpty())
            return parsed->authservId;
        // No id: the server is the host of the next hop down, less its own
        // machine name ("a1.mail.protection.outlook.com" gives
        // "mail.protection.outlook.com").
        for (qsizetype j = i + 1; j < headers.size(); ++j) {
            if (!isFieldStart(headers[j]) || !isField(headers[j], u"Received"))
                continue;
            const QString host = receivedBy(unfoldedValue(headers, j));
            const qsizetype dot = host.indexOf(u'.');
            return host.count(u'.') >= 2 ? host.sliced(dot + 1) : host;
        }
        return {};
    }
    return {};
}

QString trustedResult(const TrustedAuthResults &trusted, QStringView method, QStringView fromDomain)
{
    const QString wanted = asciiLower(method);
    QString firstFound;
    for (const AuthResults &field : trusted.trusted) {
        for (const AuthResult &result : field.results) {
            if (result.method != wanted || !concernsFromDomain(result, fromDomain))
                continue;
            // DKIM: a message may carry several signatures; one good one is enough.
            if (wanted != u"dkim" || result.result == u"pass")
                return result.result;
            if (firstFound.isEmpty())
                firstFound = result.result;
        }
    }
    return firstFound;
}
