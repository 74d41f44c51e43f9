#include "learning/headertokens.h"

#include "mail/authresults.h"
#include "mail/serververdict.h"

#include <algorithm>
#include <array>

namespace {

using HeaderTokens::MaxTokenLength;
using HeaderTokens::MaxTokens;

// Work on one field stops at this many characters of its unfolded value: a
// real value is far shorter, and a hostile one then costs no more.
constexpr qsizetype MaxValueLength = 16 * 1024;
// A longer text before the colon is no field name: the line is damaged.
constexpr qsizetype MaxFieldNameLength = 76;
// Received fields read hop by hop; the rest are only counted.
constexpr int MaxHops = 20;
// IPv4 addresses read from one hop: the client's, its HELO name's, a proxy's.
constexpr int MaxAddressesPerHop = 4;
// Encoded words read for their charset and encoding: their tokens soon repeat.
constexpr int MaxEncodedWords = 64;
// Parent domains named for one domain: enough for any real name, bounded for
// a hostile a.a.a.a...
constexpr int MaxParentDomains = 6;
// Subject and display-name words; a longer run of letters gives a skip token.
constexpr qsizetype MinWordLength = 3;
constexpr qsizetype MaxWordLength = 20;
// A charset name is a short MIME token.
constexpr qsizetype MaxCharsetLength = 40;
// Mail programs and bulk senders write their fields in an order of their own.
constexpr int MaxOrderedFields = 24;

// The fields read by name. Those up to and with ListId are read for their
// value; the others only for being there or not.
enum class Field {
    Received,
    Subject,
    From,
    ReplyTo,
    ReturnPath,
    MessageId,
    Date,
    XMailer,
    UserAgent,
    ContentType,
    ListId,
    To,
    Cc,
    Sender,
    MimeVersion,
    InReplyTo,
    References,
    ContentTransferEncoding,
    ListUnsubscribe,
    ListUnsubscribePost,
    ListPost,
    ListHelp,
    ListSubscribe,
    ListArchive,
    Precedence,
    AutoSubmitted,
    DkimSignature,
    AuthenticationResults,
    ReceivedSpf,
    ArcSeal,
    XPriority,
    Importance,
    Organization,
    FeedbackId,
    DeliveredTo,
    XOriginalTo,
};
constexpr int KnownFieldCount = int(Field::XOriginalTo) + 1;
constexpr int KeptValueCount = int(Field::ListId) + 1;

struct KnownField
{
    QStringView name; // lower case, as the has: and missing: tokens name it
    bool single; // RFC 5322 or MIME allow it once: a second one is forged or broken
};

constexpr std::array<KnownField, KnownFieldCount> KnownFields{{
    {u"received", false},
    {u"subject", true},
    {u"from", true},
    {u"reply-to", true},
    {u"return-path", false},
    {u"message-id", true},
    {u"date", true},
    {u"x-mailer", false},
    {u"user-agent", false},
    {u"content-type", true},
    {u"list-id", false},
    {u"to", true},
    {u"cc", true},
    {u"sender", true},
    {u"mime-version", true},
    {u"in-reply-to", true},
    {u"references", true},
    {u"content-transfer-encoding", false},
    {u"list-unsubscribe", false},
    {u"list-unsubscribe-post", false},
    {u"list-post", false},
    {u"list-help", false},
    {u"list-subscribe", false},
    {u"list-archive", false},
    {u"precedence", false},
    {u"auto-submitted", false},
    {u"dkim-signature", false},
    {u"authentication-results", false},
    {u"received-spf", false},
    {u"arc-seal", false},
    {u"x-priority", false},
    {u"importance", false},
    {u"organization", false},
    {u"feedback-id", false},
    {u"delivered-to", false},
    {u"x-original-to", false},
}};

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isAsciiLetterOrDigit(QChar c)
{
    return isAsciiDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// RFC 5322: printable ASCII but the colon.
bool isFieldNameChar(QChar c)
{
    return c.unicode() > 32 && c.unicode() < 127 && c != u':';
}

bool isCharsetChar(QChar c)
{
    return c.unicode() > 32 && c.unicode() < 127 && c != u'?';
}

bool isHostNameChar(QChar c)
{
    return isAsciiLetterOrDigit(c) || c == u'.' || c == u'-' || c == u'_';
}

int knownFieldIndex(QStringView name)
{
    for (int i = 0; i < KnownFieldCount; ++i) {
        if (name.size() == KnownFields[i].name.size() && name.compare(KnownFields[i].name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// The text up to its first blank or any of `ends`.
QStringView firstWord(QStringView text, QStringView ends = {})
{
    const auto end = std::find_if(text.begin(), text.end(), [ends](QChar c) {
        return isTrimmed(c) || std::find(ends.begin(), ends.end(), c) != ends.end();
    });
    return text.first(end - text.begin());
}

// What lies between the first "<" and the ">" after it, or the whole text
// when there is no such pair.
QStringView insideAngleBrackets(QStringView text)
{
    const qsizetype open = text.indexOf(u'<');
    const qsizetype close = open < 0 ? -1 : text.indexOf(u'>', open + 1);
    return close < 0 ? text : trimmedView(text.sliced(open + 1, close - open - 1));
}

// The length of the dotted IPv4 address at `start`, 0 when none starts there.
// A longer dotted number (a version such as 1.2.3.4.5) is none.
qsizetype ipv4Length(QStringView text, qsizetype start)
{
    qsizetype pos = start;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != u'.')
                return 0;
            ++pos;
        }
        const qsizetype digits = pos;
        int value = 0;
        while (pos < text.size() && pos - digits < 3 && isAsciiDigit(text[pos]))
            value = value * 10 + (text[pos++].unicode() - u'0');
        if (pos == digits || value > 255)
            return 0;
    }
    const bool longer =
        pos < text.size()
        && (isAsciiDigit(text[pos]) || (text[pos] == u'.' && pos + 1 < text.size() && isAsciiDigit(text[pos + 1])));
    return longer ? 0 : pos - start;
}

bool isIpv4(QStringView text)
{
    return !text.isEmpty() && ipv4Length(text, 0) == text.size();
}

// The distinct tokens of a message in the order given, lower case, each cut
// to MaxTokenLength, at most MaxTokens of them. Repeats are found in an
// open-addressing table of indices into the list: for the few dozen tokens
// of a message it costs a fraction of a QSet, and as the tokens are at most
// MaxTokens, even crafted collisions cost no more than comparing each token
// with every other.
class TokenSink
{
public:
    TokenSink() { m_slots.fill(FreeSlot); }

    bool isFull() const { return m_tokens.size() >= MaxTokens; }

    void add(QStringView prefix, QStringView text)
    {
        if (isFull())
            return;
        text = text.first(std::min(text.size(), qsizetype(MaxTokenLength)));
        QString token(prefix.size() + text.size(), Qt::Uninitialized);
        QChar *out = token.data();
        bool ascii = true;
        for (QStringView part : {prefix, text}) {
            for (QChar c : part) {
                char16_t u = c.unicode();
                if (u < 32 || u == 127)
                    u = u' '; // a token is one line wherever it is kept
                else if (u >= u'A' && u <= u'Z')
                    u += u'a' - u'A';
                ascii = ascii && u < 128;
                *out++ = QChar(u);
            }
        }
        // Lower-casing beyond ASCII may lengthen a few characters: the cut
        // comes after it.
        if (!ascii)
            token = std::move(token).toLower();
        if (token.size() > MaxTokenLength)
            token.truncate(token[MaxTokenLength - 1].isHighSurrogate() ? MaxTokenLength - 1 : MaxTokenLength);
        for (quint32 slot = hashOf(token);; ++slot) {
            qint16 &index = m_slots[slot % Slots];
            if (index == FreeSlot) {
                index = qint16(m_tokens.size());
                m_tokens.append(std::move(token));
                return;
            }
            if (m_tokens[index] == token)
                return;
        }
    }

    QStringList take() { return std::move(m_tokens); }

private:
    // FNV-1a over the UTF-16 code units.
    static quint32 hashOf(QStringView token)
    {
        quint32 hash = 2166136261u;
        for (QChar c : token)
            hash = (hash ^ c.unicode()) * 16777619u;
        return hash;
    }

    // At least twice MaxTokens, so that a free slot is always near.
    static constexpr quint32 Slots = 2048;
    static_assert(Slots >= 2 * MaxTokens && MaxTokens < 32768);
    static constexpr qint16 FreeSlot = -1;

    QStringList m_tokens;
    std::array<qint16, Slots> m_slots; // an index into m_tokens, or FreeSlot
};

// A header block unfolded and indexed in one pass over its lines: how often
// each known field occurs, the first value of those read for their value,
// the first MaxHops Received values, the other field names, and the charset
// and encoding of the encoded words.
class HeaderFields
{
public:
    struct EncodedWordLabel
    {
        QStringView charset;
        QChar encoding;
    };

    explicit HeaderFields(const TmsHeaders &headers)
    {
        m_hops.reserve(MaxHops);
        for (const QString &line : headers) {
            if (line.isEmpty())
                break;
            ++m_lineCount;
            noteEncodedWords(line);
            if (isBlank(line[0]))
                continueField(line);
            else
                startField(line);
        }
    }

    int lineCount() const { return m_lineCount; }
    int occurrences(Field field) const { return m_occurrences[int(field)]; }
    // The first value of a field read for its value, unfolded and trimmed.
    const QString &value(Field field) const { return m_values[int(field)]; }
    const QStringList &hops() const { return m_hops; }
    const QList<QStringView> &otherNames() const { return m_otherNames; }
    // The names of the first MaxOrderedFields fields, in their order.
    const QList<QStringView> &order() const { return m_order; }
    const QList<EncodedWordLabel> &encodedWords() const { return m_encodedWords; }
    bool hasDamagedLines() const { return m_damagedLines; }

private:
    void startField(QStringView line)
    {
        m_current = nullptr;
        const qsizetype colon = line.first(std::min(line.size(), MaxFieldNameLength + 1)).indexOf(u':');
        const QStringView name = colon < 0 ? QStringView() : line.first(colon);
        if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isFieldNameChar)) {
            m_damagedLines = true;
            return;
        }
        if (m_order.size() < MaxOrderedFields)
            m_order.append(name);
        const int known = knownFieldIndex(name);
        if (known < 0) {
            if (m_otherNames.size() < MaxTokens)
                m_otherNames.append(name);
            return;
        }
        const int occurrence = ++m_occurrences[known];
        if (known == int(Field::Received)) {
            if (m_hops.size() < MaxHops) {
                m_hops.append(QString());
                m_current = &m_hops.last();
            }
        } else if (known < KeptValueCount && occurrence == 1) {
            m_current = &m_values[known];
        }
        if (m_current)
            append(line.sliced(colon + 1));
    }

    void continueField(QStringView line)
    {
        if (m_lineCount == 1)
            m_damagedLines = true; // folded onto no field
        if (m_current)
            append(line);
    }

    // Folded lines join with one space, as GetHeaderValue joins them.
    void append(QStringView part)
    {
        part = trimmedView(part);
        if (part.isEmpty() || m_current->size() >= MaxValueLength)
            return;
        if (!m_current->isEmpty())
            *m_current += u' ';
        *m_current += part.first(std::min(part.size(), MaxValueLength - m_current->size()));
    }

    // "=?charset?B?" or "=?charset?Q?" (either case), as RFC 2047 opens a word.
    void noteEncodedWords(QStringView line)
    {
        // A search for the question mark alone is the quicker: few lines hold one.
        for (qsizetype mark = line.indexOf(u'?', 1); mark > 0 && m_encodedWords.size() < MaxEncodedWords;
             mark = line.indexOf(u'?', mark + 1)) {
            if (line[mark - 1] != u'=')
                continue;
            const qsizetype charsetBegin = mark + 1;
            qsizetype pos = charsetBegin;
            while (pos < line.size() && pos - charsetBegin < MaxCharsetLength && isCharsetChar(line[pos]))
                ++pos;
            if (pos == charsetBegin || pos + 2 >= line.size() || line[pos] != u'?' || line[pos + 2] != u'?')
                continue;
            const QChar encoding = line[pos + 1].toLower();
            if (encoding != u'b' && encoding != u'q')
                continue;
            // RFC 2231 lets a language follow the charset: "utf-8*en".
            const QStringView charset = line.sliced(charsetBegin, pos - charsetBegin);
            const qsizetype star = charset.indexOf(u'*');
            m_encodedWords.append({star < 0 ? charset : charset.first(star), encoding});
        }
    }

    int m_lineCount = 0;
    std::array<int, KnownFieldCount> m_occurrences{};
    std::array<QString, KeptValueCount> m_values;
    QStringList m_hops;
    QList<QStringView> m_otherNames;
    QList<QStringView> m_order;
    QList<EncodedWordLabel> m_encodedWords;
    QString *m_current = nullptr; // the value the next folded line belongs to
    bool m_damagedLines = false;
};

// Turns the fields of one header block into tokens, the likeliest clues
// first: when a hostile block reaches MaxTokens, what is cut off is the
// tail of its odd field names.
class TokenWriter
{
public:
    TokenWriter(const HeaderFields &fields, const TmsHeaders &headers, const QString &trustedServer)
        : m_fields(fields), m_headers(headers), m_trustedServer(trustedServer)
    {
    }

    QStringList write()
    {
        addCounts();
        addServerFindings();
        addPresence();
        addSubject();
        const TmsMailAddress from = SplitAddress(value(Field::From));
        addWords(u"from-name:", DecodeEncodedWords(from.Name), Punctuation::Drop);
        addAddress(u"from:", u"from-domain:", from.Address);
        const QString replyTo = SplitAddress(value(Field::ReplyTo)).Address;
        addAddress(u"reply-to:", u"reply-to-domain:", replyTo);
        addReplyToDomain(replyTo, from.Address);
        addAddress(u"return-path:", u"return-path-domain:", SplitAddress(value(Field::ReturnPath)).Address);
        addMessageId();
        addDate();
        addContentType();
        addSoftware(u"x-mailer:", u"x-mailer-name:", Field::XMailer);
        addSoftware(u"user-agent:", u"user-agent-name:", Field::UserAgent);
        addListId();
        addMessageIdShape();
        addFieldOrder();
        for (const QString &hop : m_fields.hops())
            addHop(hop);
        addEncodedWords();
        addOtherFields();
        return m_sink.take();
    }

private:
    bool has(Field field) const { return m_fields.occurrences(field) > 0; }
    const QString &value(Field field) const { return m_fields.value(field); }

    static QStringView domainOf(QStringView address)
    {
        const qsizetype at = address.lastIndexOf(u'@');
        return at < 0 ? QStringView() : address.sliced(at + 1);
    }

    // What the user's receiving server found, as far as it is believed:
    // "auth:dmarc=fail", "server-verdict:spam", "server-bcl:7"; and
    // "auth:untrusted" for a field it did not write.
    void addServerFindings()
    {
        if (m_trustedServer.trimmed().isEmpty())
            return;
        const ServerPart part(m_headers, m_trustedServer);
        const TrustedAuthResults auth = trustedAuthResults(m_headers, part);
        for (const AuthResults &field : auth.trusted) {
            for (const AuthResult &result : field.results)
                m_sink.add(u"auth:", result.method + u'=' + result.result);
        }
        if (!auth.untrustedReasons.isEmpty())
            m_sink.add(u"auth:", u"untrusted");
        const ServerVerdict verdict = serverVerdict(m_headers, part);
        if (!verdict.spamField.isEmpty())
            m_sink.add(u"server-verdict:", u"spam");
        if (verdict.bulkLevel)
            m_sink.add(u"server-bcl:", QString::number(*verdict.bulkLevel));
    }

    void addCounts()
    {
        // Bulk senders add fields by the dozen; buckets keep the token shared.
        const int lines = m_fields.lineCount();
        const int bucket = lines < 40 ? lines / 5 * 5 : lines < 100 ? lines / 10 * 10 : 100;
        m_sink.add(u"header-lines:", bucket == 100 ? QStringLiteral("100+") : QString::number(bucket));
        const int hops = m_fields.occurrences(Field::Received);
        m_sink.add(u"received-hops:", hops >= MaxHops ? QStringLiteral("%1+").arg(MaxHops) : QString::number(hops));
        if (m_fields.hasDamagedLines())
            m_sink.add(u"header-odd:", u"damaged-line");
    }

    void addPresence()
    {
        for (int i = 0; i < KnownFieldCount; ++i) {
            const int occurrences = m_fields.occurrences(Field(i));
            m_sink.add(occurrences > 0 ? u"has:" : u"missing:", KnownFields[i].name);
            if (occurrences > 1 && KnownFields[i].single)
                m_sink.add(u"repeated:", KnownFields[i].name);
        }
    }

    void addSubject()
    {
        if (!has(Field::Subject))
            return;
        const QString subject = DecodeEncodedWords(value(Field::Subject));
        if (subject.isEmpty())
            m_sink.add(u"subject:", u"<empty>");
        addWords(u"subject:", subject, Punctuation::Keep);
        int upper = 0;
        int lower = 0;
        for (QChar c : subject) {
            upper += c.isUpper() ? 1 : 0;
            lower += c.isLower() ? 1 : 0;
        }
        if (upper >= 4 && lower == 0)
            m_sink.add(u"subject:", u"all-caps");
    }

    void addAddress(QStringView addressPrefix, QStringView domainPrefix, QStringView address)
    {
        if (address.isEmpty())
            return;
        m_sink.add(addressPrefix, address);
        addDomain(domainPrefix, domainOf(address));
    }

    // Whether replies go where the mail claims to come from.
    void addReplyToDomain(QStringView replyToAddress, QStringView fromAddress)
    {
        const QStringView replyTo = domainOf(replyToAddress);
        const QStringView from = domainOf(fromAddress);
        if (replyTo.isEmpty() || from.isEmpty())
            return;
        m_sink.add(u"reply-to:", replyTo.compare(from, Qt::CaseInsensitive) == 0 ? u"same-domain" : u"other-domain");
    }

    // The Message-ID's left part as letters, digits and the rest: a mail
    // program writes its own shape ("9.9a.9@").
    void addMessageIdShape()
    {
        const QStringView id = insideAngleBrackets(value(Field::MessageId));
        const qsizetype at = id.lastIndexOf(u'@');
        if (at <= 0)
            return;
        QString shape;
        for (qsizetype i = 0; i < at && shape.size() < MaxTokenLength; ++i) {
            const QChar c = id[i];
            const QChar kind = isAsciiDigit(c) ? u'9' : c.isLetter() ? (c.isUpper() ? u'A' : u'a') : c;
            if (shape.isEmpty() || shape.back() != kind)
                shape += kind;
        }
        m_sink.add(u"message-id-shape:", shape);
    }

    // Each pair of fields that follow each other, "from>to".
    void addFieldOrder()
    {
        const QList<QStringView> &order = m_fields.order();
        for (qsizetype i = 1; i < order.size(); ++i)
            m_sink.add(u"order:", order[i - 1].toString() + u'>' + order[i].toString());
    }

    void addMessageId()
    {
        if (!has(Field::MessageId))
            return;
        const QStringView domain = domainOf(insideAngleBrackets(value(Field::MessageId)));
        if (domain.isEmpty())
            m_sink.add(u"message-id:", u"no-domain");
        addDomain(u"message-id-domain:", domain);
    }

    // The name and its parent domains down to two labels.
    void addDomain(QStringView prefix, QStringView domain)
    {
        while (domain.endsWith(u'.'))
            domain.chop(1);
        if (domain.isEmpty())
            return;
        m_sink.add(prefix, domain);
        if (isIpv4(domain) || domain.startsWith(u'['))
            return;
        for (int level = 0; level < MaxParentDomains; ++level) {
            const qsizetype dot = domain.indexOf(u'.');
            if (dot < 0 || domain.indexOf(u'.', dot + 1) < 0)
                return;
            domain = domain.sliced(dot + 1);
            m_sink.add(prefix, domain);
        }
    }

    enum class Punctuation { Keep, Drop };

    // Runs of letters and digits of MinWordLength to MaxWordLength as words,
    // longer ones by their first character and length (as SpamBayes skips
    // them), and, when kept, runs of punctuation ("!!!", "$").
    void addWords(QStringView prefix, QStringView text, Punctuation punctuation)
    {
        for (qsizetype begin = 0; begin < text.size();) {
            if (text[begin].isSpace()) {
                ++begin;
                continue;
            }
            const bool word = text[begin].isLetterOrNumber();
            qsizetype end = begin + 1;
            while (end < text.size() && !text[end].isSpace() && text[end].isLetterOrNumber() == word)
                ++end;
            const QStringView run = text.sliced(begin, end - begin);
            if (!word) {
                if (punctuation == Punctuation::Keep)
                    m_sink.add(prefix, run);
            } else if (run.size() > MaxWordLength) {
                const QChar first = run[0].isSurrogate() ? QChar(u'?') : run[0];
                m_sink.add(prefix, QStringLiteral("skip:%1 %2").arg(first).arg(run.size() / 10 * 10));
            } else if (run.size() >= MinWordLength) {
                m_sink.add(prefix, run);
            }
            begin = end;
        }
    }

    void addDate()
    {
        if (!has(Field::Date))
            return;
        const QString &text = value(Field::Date);
        const ParsedDate date = ParseDate(text);
        if (!date.dateTime.isValid()) {
            m_sink.add(u"date:odd:", u"unreadable");
            return;
        }
        const QStringView zone = firstWord(date.rest);
        if (zone.isEmpty())
            m_sink.add(u"date:odd:", u"no-zone");
        else
            m_sink.add(u"date:zone:", zone);
        if (!weekdayMatches(text, date.dateTime.date()))
            m_sink.add(u"date:odd:", u"weekday");
        if (yearIsFarOff(date.dateTime.date().year()))
            m_sink.add(u"date:odd:", u"year");
    }

    // What precedes the day, if anything, names the date's weekday.
    static bool weekdayMatches(QStringView text, QDate date)
    {
        static constexpr std::array<QStringView, 7> names{u"mon", u"tue", u"wed", u"thu", u"fri", u"sat", u"sun"};
        const auto digit = std::find_if(text.begin(), text.end(), isAsciiDigit);
        QStringView weekday = trimmedView(text.first(digit - text.begin()));
        if (weekday.endsWith(u','))
            weekday = trimmedView(weekday.chopped(1));
        return weekday.isEmpty() || weekday.startsWith(names[date.dayOfWeek() - 1], Qt::CaseInsensitive);
    }

    // Far from the receiving server's own date (the topmost hop's), or
    // before anyone sent such mail.
    bool yearIsFarOff(int year) const
    {
        constexpr int EarliestYear = 1990;
        if (year < EarliestYear)
            return true;
        if (m_fields.hops().isEmpty())
            return false;
        const QString &hop = m_fields.hops().first();
        const qsizetype semicolon = hop.lastIndexOf(u';');
        if (semicolon < 0)
            return false;
        const QDateTime received = ParseDate(hop.sliced(semicolon + 1)).dateTime;
        return received.isValid() && std::abs(received.date().year() - year) > 1;
    }

    void addContentType()
    {
        if (!has(Field::ContentType))
            return;
        const QStringView contentType = value(Field::ContentType);
        qsizetype semicolon = contentType.indexOf(u';');
        const QStringView type = trimmedView(contentType.first(semicolon < 0 ? contentType.size() : semicolon));
        if (!type.isEmpty())
            m_sink.add(u"content-type:", type);
        while (semicolon >= 0) {
            const qsizetype next = contentType.indexOf(u';', semicolon + 1);
            const QStringView parameter =
                contentType.sliced(semicolon + 1, (next < 0 ? contentType.size() : next) - semicolon - 1);
            const qsizetype equals = parameter.indexOf(u'=');
            if (equals > 0 && trimmedView(parameter.first(equals)).compare(u"charset", Qt::CaseInsensitive) == 0) {
                QStringView charset = trimmedView(parameter.sliced(equals + 1));
                if (charset.size() >= 2 && charset.startsWith(u'"') && charset.endsWith(u'"'))
                    charset = charset.sliced(1, charset.size() - 2);
                if (!charset.isEmpty())
                    m_sink.add(u"charset:", charset);
            }
            semicolon = next;
        }
    }

    // The mail program: its whole name and version, and its first word.
    void addSoftware(QStringView wholePrefix, QStringView namePrefix, Field field)
    {
        const QString software = DecodeEncodedWords(value(field));
        if (software.isEmpty())
            return;
        m_sink.add(wholePrefix, software);
        const QStringView name = firstWord(software, u"/(;,");
        if (!name.isEmpty())
            m_sink.add(namePrefix, name);
    }

    void addListId()
    {
        const QStringView id = insideAngleBrackets(value(Field::ListId));
        if (!id.isEmpty())
            m_sink.add(u"list-id:", id);
    }

    // One Received hop: the names after "from" and "by" and their parents,
    // the /24 of its IPv4 addresses, its protocol and whether the sender
    // authenticated (RFC 3848: ESMTPA, ESMTPSA, LMTPA ...).
    void addHop(QStringView hop)
    {
        const qsizetype semicolon = hop.lastIndexOf(u';');
        const QStringView clauses = semicolon < 0 ? hop : hop.first(semicolon);
        QStringView keyword;
        int commentDepth = 0;
        for (qsizetype begin = 0; begin < clauses.size();) {
            if (isTrimmed(clauses[begin])) {
                ++begin;
                continue;
            }
            const QStringView word = firstWord(clauses.sliced(begin));
            begin += word.size();
            const bool inComment = commentDepth > 0 || word.startsWith(u'(');
            commentDepth = std::max(0, commentDepth + int(word.count(u'(')) - int(word.count(u')')));
            if (inComment) {
                // Postfix and sendmail tell it in a comment: "(Authenticated sender: ...)".
                if (word.startsWith(u'(') && word.sliced(1).compare(u"authenticated", Qt::CaseInsensitive) == 0)
                    m_sink.add(u"received:", u"authenticated");
                keyword = {};
                continue;
            }
            if (!keyword.isEmpty())
                addHopClause(keyword, word);
            keyword = word;
        }
        addHopAddresses(clauses);
    }

    void addHopClause(QStringView keyword, QStringView word)
    {
        if (keyword.compare(u"from", Qt::CaseInsensitive) == 0 || keyword.compare(u"by", Qt::CaseInsensitive) == 0) {
            while (!word.isEmpty() && (word.front() == u'[' || word.front() == u'<'))
                word = word.sliced(1);
            while (!word.isEmpty() && !isHostNameChar(word.back()))
                word.chop(1);
            if (!word.isEmpty() && !isIpv4(word) && std::all_of(word.begin(), word.end(), isHostNameChar))
                addDomain(u"received:", word);
        } else if (keyword.compare(u"with", Qt::CaseInsensitive) == 0
                   && std::all_of(word.begin(), word.end(), isAsciiLetterOrDigit)) {
            m_sink.add(u"received-with:", word);
            static constexpr std::array<QStringView, 4> authenticatedProtocols{u"SMTPA", u"SMTPSA", u"LMTPA",
                                                                               u"LMTPSA"};
            for (QStringView authenticated : authenticatedProtocols) {
                if (word.endsWith(authenticated, Qt::CaseInsensitive))
                    m_sink.add(u"received:", u"authenticated");
            }
        }
    }

    void addHopAddresses(QStringView clauses)
    {
        int found = 0;
        for (qsizetype i = 0; i < clauses.size() && found < MaxAddressesPerHop; ++i) {
            if (!isAsciiDigit(clauses[i]) || (i > 0 && (isAsciiDigit(clauses[i - 1]) || clauses[i - 1] == u'.')))
                continue;
            const qsizetype length = ipv4Length(clauses, i);
            if (length == 0)
                continue;
            const QStringView address = clauses.sliced(i, length);
            m_sink.add(u"received-ip:", address.first(address.lastIndexOf(u'.')));
            ++found;
            i += length - 1;
        }
    }

    void addEncodedWords()
    {
        for (const HeaderFields::EncodedWordLabel &word : m_fields.encodedWords()) {
            m_sink.add(u"encoded-charset:", word.charset);
            m_sink.add(u"encoded-encoding:", QStringView(&word.encoding, 1));
        }
    }

    void addOtherFields()
    {
        for (QStringView name : m_fields.otherNames()) {
            if (m_sink.isFull())
                return;
            m_sink.add(u"header:", name);
        }
    }

    const HeaderFields &m_fields;
    const TmsHeaders &m_headers;
    const QString &m_trustedServer;
    TokenSink m_sink;
};

} // namespace

QStringList headerTokens(const TmsHeaders &headers, const QString &trustedServer)
{
    const HeaderFields fields(headers);
    return TokenWriter(fields, headers, trustedServer).write();
}
