#include "mail/headers.h"

#include "mail/charset.h"
#include "mail/mimecodecs.h"
#include "mail/printabletext.h"

#include <algorithm>
#include <optional>

bool isTrimmed(QChar c)
{
    return c.unicode() < 33;
}

QStringView trimmedView(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmed(text[begin]))
        ++begin;
    while (end > begin && isTrimmed(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

namespace {

// Header texts are held to the 255 characters of the classic short string.
constexpr qsizetype ShortStringLength = 255;

// An encoded word is at most 75 characters by RFC 2047; spam stretches that,
// but a bound keeps a line full of unterminated "=?" from costing quadratic
// time.
constexpr qsizetype MaxEncodedTextLength = 1000;

char16_t upperAscii(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
}

// Upper-casing here folds only a to z, so a header name never matches by
// way of a Unicode case rule.
bool startsWithIgnoringAsciiCase(QStringView text, QStringView prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (upperAscii(text[i].unicode()) != upperAscii(prefix[i].unicode()))
            return false;
    }
    return true;
}

bool equalsIgnoringAsciiCase(QStringView a, QStringView b)
{
    return a.size() == b.size() && startsWithIgnoringAsciiCase(a, b);
}

// Cuts to the short-string length without leaving half a surrogate pair.
QString cutToShortString(QString text)
{
    if (text.size() <= ShortStringLength)
        return text;
    qsizetype length = ShortStringLength;
    if (text[length - 1].isHighSurrogate())
        --length;
    text.truncate(length);
    return text;
}

bool isBlankOnly(QStringView text)
{
    for (QChar c : text) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

// Charset names are MIME tokens: no blanks, controls or specials except the
// few that real names use.
bool isCharsetChar(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 32 || u >= 127)
        return false;
    return QStringView(u"()<>@,;:\\\"/[]?=").indexOf(c) < 0;
}

struct EncodedWord
{
    qsizetype end = 0; // index just after the closing "?="
    QByteArray charset; // as mimeCharsetName gives it
    QByteArray bytes;
};

// Reads the encoded word =?charset?X?text?= that starts at `start` into its
// bytes. Nothing when it is malformed: such a word stays as written.
std::optional<EncodedWord> readEncodedWord(QStringView text, qsizetype start)
{
    qsizetype i = start + 2;
    const qsizetype charsetBegin = i;
    while (i < text.size() && isCharsetChar(text[i]))
        ++i;
    if (i == charsetBegin || i + 2 >= text.size() || text[i] != u'?' || text[i + 2] != u'?')
        return std::nullopt;
    const QStringView charset = text.sliced(charsetBegin, i - charsetBegin);
    const char16_t encoding = upperAscii(text[i + 1].unicode());
    if (encoding != u'B' && encoding != u'Q')
        return std::nullopt;

    // The search starts after the "?X?" separator, so an encoded text that
    // begins with "=" is never taken for the end marker.
    const qsizetype textBegin = i + 3;
    const qsizetype searchEnd = std::min(text.size(), textBegin + MaxEncodedTextLength + 2);
    const qsizetype marker = text.sliced(textBegin, searchEnd - textBegin).indexOf(u"?=");
    if (marker < 0)
        return std::nullopt;
    const QByteArray encoded = text.sliced(textBegin, marker).toUtf8();

    QByteArray bytes;
    if (encoding == u'B') {
        std::optional<QByteArray> decoded = decodeBase64Strict(encoded);
        if (!decoded)
            return std::nullopt;
        bytes = std::move(*decoded);
    } else {
        bytes = decodeQuotedPrintable(encoded, QuotedPrintableFlavour::EncodedWord);
        // Only the first line of a Q word counts: a header value is one line.
        const auto lineEnd = std::find_if(bytes.cbegin(), bytes.cend(), [](char c) { return c == '\r' || c == '\n'; });
        bytes.truncate(lineEnd - bytes.cbegin());
    }
    return EncodedWord{textBegin + marker + 2, mimeCharsetName(charset.toLatin1()), std::move(bytes)};
}

// At most this many adjacent words are read as one. A character is at most
// four bytes in the charsets mail uses, so four words complete one even when
// each holds a single byte; the margin covers cuts that follow one another.
// The bound keeps a run of broken words cheap.
constexpr qsizetype MaxJoinedWords = 8;

// Adjacent encoded words of one charset. Each word is read on its own: a
// word of a stateful charset such as ISO-2022-JP returns to ASCII at its
// end, and the bytes of two such words need not read as one sequence. Only
// a word that does not read alone, because the sender cut a multi-byte
// character between it and the next, is read together with the words after
// it. What the words decode to may hold control characters, which become
// spaces.
class EncodedRun
{
public:
    bool isOpen() const { return !words_.isEmpty(); }
    bool continuesWith(const EncodedWord &word) const { return isOpen() && word.charset == charset_; }

    void start(EncodedWord word)
    {
        charset_ = std::move(word.charset);
        words_ = {std::move(word.bytes)};
    }
    void add(EncodedWord word) { words_.append(std::move(word.bytes)); }

    // Appends the run's text to `out` and closes the run.
    void closeInto(QString &out)
    {
        // Beyond the short-string length the text would be cut off anyway.
        for (qsizetype first = 0; first < words_.size() && out.size() <= ShortStringLength;) {
            QByteArray bytes = words_[first];
            qsizetype end = first + 1;
            std::optional<QString> text = decodeCharsetExactly(bytes, charset_);
            for (; !text && end < words_.size() && end - first < MaxJoinedWords; ++end) {
                bytes += words_[end];
                text = decodeCharsetExactly(bytes, charset_);
            }
            if (!text) {
                // No later word completes it: the word itself is broken.
                end = first + 1;
                text = decodeCharset(words_[first], charset_);
            }
            out += printableText(std::move(*text));
            first = end;
        }
        words_.clear();
    }

private:
    QByteArray charset_;
    QList<QByteArray> words_;
};

// The value of the first field called `name` as received: trimmed, folded
// lines joined by one space, nothing decoded, not cut. Empty when absent.
QString rawHeaderValue(const TmsHeaders &headers, QStringView fieldName)
{
    for (qsizetype i = 0; i < headers.size(); ++i) {
        const QString &line = headers[i];
        if (line.size() <= fieldName.size() || line[fieldName.size()] != u':'
            || !startsWithIgnoringAsciiCase(line, fieldName))
            continue;

        // Whatever follows the colon, blanks included, is trimmed away, so
        // "Subject:Hello" and "Subject: Hello" read alike.
        const qsizetype colon = line.indexOf(u':');
        QString value = trimmedView(QStringView(line).sliced(colon + 1)).toString();
        for (qsizetype next = i + 1; next < headers.size(); ++next) {
            const QString &continuation = headers[next];
            if (continuation.isEmpty() || (continuation[0] != u' ' && continuation[0] != u'\t'))
                break;
            const QStringView part = trimmedView(continuation);
            if (part.isEmpty())
                continue;
            value += u' ';
            value += part;
        }
        return value;
    }
    return {};
}

QStringView withoutColon(const QString &name)
{
    return name.endsWith(u':') ? QStringView(name).chopped(1) : QStringView(name);
}

// Whether a comment hides the characters inside it from a search. Inside
// angle brackets "(" is ordinary text.
enum class Comments { Hide, Show };

// The index of the first `wanted` at or after `from` that lies outside the
// RFC 5322 quoted strings ("...") and, when they hide, comments ((...),
// nested); a backslash in either makes the next character text. One left
// open runs to the end of the field. -1 when there is none.
qsizetype findOutsideQuotes(QStringView text, QChar wanted, qsizetype from, Comments comments)
{
    bool quoted = false;
    int commentDepth = 0;
    for (qsizetype i = from; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((quoted || commentDepth > 0) && c == u'\\') {
            ++i; // the escaped character is text
        } else if (quoted) {
            quoted = c != u'"';
        } else if (commentDepth > 0) {
            if (c == u'(')
                ++commentDepth;
            else if (c == u')')
                --commentDepth;
        } else if (c == wanted) {
            return i;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'(' && comments == Comments::Hide) {
            commentDepth = 1;
        }
    }
    return -1;
}

// Trimmed, then without one pair of double quotes around the whole text:
// a quoted local part such as "John Smith"@example.com keeps its quotes.
QString withoutEnclosingQuotes(QStringView text)
{
    text = trimmedView(text);
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"')
        text = text.sliced(1, text.size() - 2);
    return text.toString();
}

// SplitAddress before its parts are cut to the short-string length.
TmsMailAddress splitAddressWhole(QStringView text)
{
    TmsMailAddress result;
    // A "<" inside a quoted display name or a comment does not start the
    // address: "<boss@bank.example>" <spammer@evil.example> is the spammer's.
    const qsizetype open = findOutsideQuotes(text, u'<', 0, Comments::Hide);
    if (open >= 0) {
        const qsizetype close = findOutsideQuotes(text, u'>', open + 1, Comments::Show);
        if (close > open) {
            result.Address = withoutEnclosingQuotes(text.sliced(open + 1, close - open - 1));
            QString name = text.first(open).toString();
            name += text.sliced(close + 1);
            result.Name = withoutEnclosingQuotes(name);
        } else {
            result.Name = withoutEnclosingQuotes(text);
        }
    } else if (const qsizetype paren = findOutsideQuotes(text, u'(', 0, Comments::Show); paren >= 0) {
        result.Address = withoutEnclosingQuotes(text.first(paren));
        // The comment runs to the closing ")" taken to be the last character
        // (a whole character: both halves of a surrogate pair).
        const bool lastIsPair =
            text.size() - paren > 2 && text.back().isLowSurrogate() && text[text.size() - 2].isHighSurrogate();
        const qsizetype commentLength = text.size() - paren - (lastIsPair ? 3 : 2);
        if (commentLength > 0)
            result.Name = withoutEnclosingQuotes(text.sliced(paren + 1, commentLength));
    } else {
        result.Address = text.toString();
    }
    return result;
}

} // namespace

QString decodeHeaderLine(QByteArrayView line)
{
    return decodeUtf8OrLatin1(line);
}

void CutAtBody(TmsHeaders &headers)
{
    const qsizetype blank = headers.indexOf(QString());
    if (blank >= 0)
        headers.erase(headers.begin() + blank, headers.end());
}

QString GetHeaderValue(const TmsHeaders &headers, const QString &name)
{
    const QStringView fieldName = withoutColon(name);
    const QString value = rawHeaderValue(headers, fieldName);
    // These two are machine values: returned whole and as written.
    if (equalsIgnoringAsciiCase(fieldName, u"Content-Type") || equalsIgnoringAsciiCase(fieldName, u"X-UIDL"))
        return value;
    return DecodeEncodedWords(value);
}

TmsMailAddress headerAddress(const TmsHeaders &headers, const QString &name)
{
    // Split as received: encoded words never form an address (RFC 2047,
    // section 5), so only the display name is decoded.
    TmsMailAddress address = splitAddressWhole(rawHeaderValue(headers, withoutColon(name)));
    address.Address = cutToShortString(std::move(address.Address));
    address.Name = DecodeEncodedWords(address.Name);
    return address;
}

QString senderAddress(const TmsHeaders &headers)
{
    return headerAddress(headers, QStringLiteral("From")).Address;
}

QString DecodeEncodedWords(const QString &text)
{
    qsizetype start = text.indexOf(u"=?");
    if (start < 0)
        return cutToShortString(text);

    QString result;
    result.reserve(text.size());
    qsizetype copiedUpTo = 0;
    EncodedRun run;
    for (; start >= 0; start = text.indexOf(u"=?", start)) {
        std::optional<EncodedWord> word = readEncodedWord(text, start);
        if (!word) {
            ++start;
            continue;
        }
        // RFC 2047: white space between two encoded words is not text.
        const QStringView between = QStringView(text).sliced(copiedUpTo, start - copiedUpTo);
        const bool adjacent = run.isOpen() && isBlankOnly(between);
        copiedUpTo = start = word->end;
        if (adjacent && run.continuesWith(*word)) {
            run.add(std::move(*word));
        } else {
            run.closeInto(result);
            if (!adjacent)
                result += between;
            run.start(std::move(*word));
        }
    }
    run.closeInto(result);
    result += QStringView(text).sliced(copiedUpTo);
    return cutToShortString(std::move(result));
}

QString StripQuotes(const QString &text)
{
    QStringView stripped = trimmedView(text);
    while (!stripped.isEmpty() && stripped.front() == u'"')
        stripped = stripped.sliced(1);
    while (!stripped.isEmpty() && stripped.back() == u'"')
        stripped.chop(1);
    return stripped.toString();
}

TmsMailAddress SplitAddress(const QString &text)
{
    TmsMailAddress result = splitAddressWhole(text);
    result.Address = cutToShortString(std::move(result.Address));
    result.Name = cutToShortString(std::move(result.Name));
    return result;
}

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A day or year: decimal digits only, and it must fit in 16 bits.
std::optional<int> readDateNumber(QStringView text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > 0xFFFF)
        return std::nullopt;
    return value;
}

// The text from its first digit on, trimmed; nothing when there is no digit
// or the digit is the last character.
std::optional<QStringView> fromFirstDigit(QStringView text)
{
    const auto digit = std::find_if(text.begin(), text.end(), isDigit);
    if (digit == text.end() || digit + 1 == text.end())
        return std::nullopt;
    return trimmedView(text.sliced(digit - text.begin()));
}

int monthNumber(QStringView text)
{
    static constexpr const char16_t *names[] = {u"JAN", u"FEB", u"MAR", u"APR", u"MAY", u"JUN",
                                                u"JUL", u"AUG", u"SEP", u"OCT", u"NOV", u"DEC"};
    for (int month = 0; month < 12; ++month) {
        if (text.contains(QStringView(names[month])))
            return month + 1;
    }
    return 0;
}

// RFC 5322 and its obsolete forms: two-digit years pivot at 50, three-digit
// years count from 1900.
int fullYear(int year)
{
    if (year <= 50)
        return 2000 + year;
    if (year <= 999)
        return 1900 + year;
    return year;
}

// Reads up to two digits at `pos`, moving it past them.
std::optional<int> readTwoDigits(QStringView text, qsizetype &pos)
{
    const qsizetype begin = pos;
    int value = 0;
    while (pos < text.size() && pos - begin < 2 && isDigit(text[pos]))
        value = value * 10 + (text[pos++].unicode() - u'0');
    if (pos == begin)
        return std::nullopt;
    return value;
}

// Hours:minutes with optional :seconds and an optional AM or PM suffix.
std::optional<QTime> readTimeOfDay(QStringView text)
{
    qsizetype pos = 0;
    const std::optional<int> hours = readTwoDigits(text, pos);
    if (!hours || pos >= text.size() || text[pos++] != u':')
        return std::nullopt;
    const std::optional<int> minutes = readTwoDigits(text, pos);
    if (!minutes)
        return std::nullopt;
    int seconds = 0;
    if (pos < text.size() && text[pos] == u':') {
        ++pos;
        const std::optional<int> read = readTwoDigits(text, pos);
        if (!read)
            return std::nullopt;
        seconds = std::min(*read, 59); // a leap second reads as the second before it
    }
    int hour = *hours;
    const QStringView suffix = trimmedView(text.sliced(pos));
    if (suffix == u"AM" || suffix == u"PM") {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (suffix == u"PM" ? 12 : 0);
    } else if (!suffix.isEmpty()) {
        return std::nullopt;
    }
    const QTime time(hour, *minutes, seconds);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

QString upperAsciiWithSpaces(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        c = c == u'\t' ? QChar(u' ') : QChar(upperAscii(c.unicode()));
    }
    return result;
}

} // namespace

ParsedDate ParseDate(const QString &text)
{
    ParsedDate result;
    const QString s = upperAsciiWithSpaces(StripQuotes(text));

    // A leading weekday and its comma go with everything before the first digit.
    std::optional<QStringView> rest = fromFirstDigit(s);
    if (!rest)
        return result;
    qsizetype space = rest->indexOf(u' ');
    if (space < 0)
        return result;
    const std::optional<int> day = readDateNumber(trimmedView(rest->first(space)));
    if (!day)
        return result;
    const QStringView afterDay = trimmedView(rest->sliced(space + 1));

    const int month = monthNumber(afterDay);
    if (month == 0)
        return result;
    rest = fromFirstDigit(afterDay);
    if (!rest)
        return result;
    space = rest->indexOf(u' ');
    if (space < 0)
        return result;
    const std::optional<int> year = readDateNumber(rest->first(space));
    if (!year)
        return result;
    const QStringView afterYear = trimmedView(rest->sliced(space + 1));

    space = afterYear.indexOf(u' ');
    QStringView timeText = trimmedView(space < 0 ? afterYear : afterYear.first(space));
    if (timeText.endsWith(u','))
        timeText.chop(1);

    const QDate date(fullYear(*year), month, *day);
    if (!date.isValid())
        return result;
    // The zone is not applied: the fields are the sender's wall clock.
    result.dateTime = QDateTime(date, readTimeOfDay(timeText).value_or(QTime(0, 0)), Qt::UTC);
    if (space >= 0)
        result.rest = trimmedView(afterYear.sliced(space + 1)).toString();
    return result;
}
