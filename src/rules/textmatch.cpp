#include "rules/textmatch.h"

#include "rules/ruletexts.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr qsizetype MaxTailLength = 255;

constexpr std::array<bool, 128> separatorTable()
{
    std::array<bool, 128> table{};
    for (char c : std::string_view("\t'\r\n ,./?;:`\"<>[]{}-=\\+|()%@&^$#!~*"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr std::array<bool, 128> Separators = separatorTable();

inline bool isSeparator(QChar c)
{
    return c.unicode() < 128 && Separators[c.unicode()];
}

inline char16_t fold(char16_t u)
{
    return (u >= u'a' && u <= u'z') ? char16_t(u - (u'a' - u'A')) : u;
}

// Operator and What cells are compared exactly; the length test first keeps the
// per-row dispatch cheap.
inline bool sameText(QStringView cell, QLatin1String name)
{
    return cell.size() == name.size() && cell == name;
}

bool foldedEqual(const QChar *a, const QChar *b, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        if (fold(a[i].unicode()) != fold(b[i].unicode()))
            return false;
    return true;
}

// Walks the positions of one character in either letter case, in order.
class FoldedCharPositions
{
public:
    FoldedCharPositions(QStringView text, QChar c)
        : text_(text), upper_(fold(c.unicode())),
          lower_(upper_ >= u'A' && upper_ <= u'Z' ? char16_t(upper_ + (u'a' - u'A')) : upper_),
          nextUpper_(text.indexOf(QChar(upper_))), nextLower_(lower_ == upper_ ? -1 : text.indexOf(QChar(lower_)))
    {
    }

    // The next position, or -1 when there is none.
    qsizetype next()
    {
        const qsizetype at = nextUpper_ < 0   ? nextLower_
                             : nextLower_ < 0 ? nextUpper_
                                              : std::min(nextUpper_, nextLower_);
        if (at >= 0 && at == nextUpper_)
            nextUpper_ = text_.indexOf(QChar(upper_), at + 1);
        if (at >= 0 && at == nextLower_)
            nextLower_ = text_.indexOf(QChar(lower_), at + 1);
        return at;
    }

private:
    QStringView text_;
    char16_t upper_;
    char16_t lower_;
    qsizetype nextUpper_;
    qsizetype nextLower_;
};

using TextTest = bool (*)(QStringView text, QStringView pattern, bool caseSensitive);

// The one text operator set the four tables share, tried in this order;
// nothing for an operator text that is none of them.
TextTest textOperator(QStringView op)
{
    if (sameText(op, RuleText::Contains))
        return textContains;
    if (sameText(op, RuleText::ContainsWholeWord))
        return WholeWordCheck;
    if (sameText(op, RuleText::Equals))
        return textEquals;
    if (sameText(op, RuleText::EndsWith))
        return textEndsWith;
    if (sameText(op, RuleText::StartsWith))
        return textStartsWith;
    return nullptr;
}

// known is false for an operator text that names no text operator.
bool matchTextOperator(QStringView text, QStringView op, QStringView pattern, bool caseSensitive, bool &known)
{
    const TextTest test = textOperator(op);
    known = test != nullptr;
    return known && !isEmptyPattern(pattern) && test(text, pattern, caseSensitive);
}

bool matchTextOperator(QStringView text, QStringView op, QStringView pattern, bool caseSensitive)
{
    bool known;
    return matchTextOperator(text, op, pattern, caseSensitive, known);
}

} // namespace

QString pluralS(int n)
{
    return n == 1 ? QString() : QStringLiteral("s");
}

QString yesNoLetter(bool value)
{
    return value ? QStringLiteral("Y") : QStringLiteral("N");
}

bool isBlankChar(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\r' || u == u'\n' || u == u'\b';
}

bool isBlank(QStringView text)
{
    for (QChar c : text)
        if (!isBlankChar(c))
            return false;
    return true;
}

bool isDigitChar(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

int countNumeric(QStringView text)
{
    int n = 0;
    for (QChar c : text)
        if (isDigitChar(c) || c == u'_')
            ++n;
    return n;
}

bool isWordSeparator(QChar c)
{
    return isSeparator(c);
}

QChar foldChar(QChar c)
{
    return QChar(fold(c.unicode()));
}

QString foldCase(QStringView text)
{
    QString folded(text.size(), Qt::Uninitialized);
    QChar *out = folded.data();
    for (QChar c : text)
        *out++ = foldChar(c);
    return folded;
}

bool isUpperCaseText(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (QChar::isLetter(c) && QChar::category(c) != QChar::Letter_Uppercase)
            return false;
    }
    return true;
}

bool isSpaceOrControl(QChar c)
{
    return c.unicode() <= u' ' || c.category() == QChar::Other_Control;
}

bool isEmptyPattern(QStringView pattern)
{
    return std::all_of(pattern.begin(), pattern.end(), isSpaceOrControl);
}

bool textEquals(QStringView text, QStringView pattern, bool caseSensitive)
{
    if (text.size() != pattern.size())
        return false;
    return caseSensitive ? text == pattern : foldedEqual(text.data(), pattern.data(), text.size());
}

bool textContains(QStringView text, QStringView pattern, bool caseSensitive)
{
    if (pattern.isEmpty() || pattern.size() > text.size())
        return false;
    if (caseSensitive)
        return text.contains(pattern, Qt::CaseSensitive);
    const qsizetype last = text.size() - pattern.size();
    FoldedCharPositions starts(text, pattern[0]);
    for (qsizetype i = starts.next(); i >= 0 && i <= last; i = starts.next())
        if (foldedEqual(text.data() + i + 1, pattern.data() + 1, pattern.size() - 1))
            return true;
    return false;
}

bool textStartsWith(QStringView text, QStringView pattern, bool caseSensitive)
{
    return textEquals(text.left(pattern.size()), pattern, caseSensitive);
}

bool textEndsWith(QStringView text, QStringView pattern, bool caseSensitive)
{
    if (pattern.size() > text.size() || pattern.size() > MaxTailLength)
        return false;
    return textEquals(text.right(pattern.size()), pattern, caseSensitive);
}

bool WholeWordCheck(QStringView text, QStringView word, bool caseSensitive)
{
    if (isBlank(text) || isBlank(word) || !textContains(text, word, caseSensitive))
        return false;
    // The pieces between separators never hold a separator, so a word that
    // holds one never matches whole.
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isSeparator(text[i]))
            continue;
        if (i - start == word.size() && textEquals(text.sliced(start, i - start), word, caseSensitive))
            return true;
        start = i + 1;
    }
    return false;
}

QStringView senderDomain(QStringView address)
{
    const qsizetype at = address.indexOf(u'@');
    return at < 0 ? address : address.sliced(at + 1).left(MaxTailLength);
}

QStringView senderUserPart(QStringView address)
{
    const qsizetype at = address.indexOf(u'@');
    return at < 0 ? address : address.left(at);
}

bool matchSubject(QStringView subject, QStringView op, QStringView pattern, bool caseSensitive)
{
    bool known;
    const bool matched = matchTextOperator(subject, op, pattern, caseSensitive, known);
    if (known)
        return matched;
    if (sameText(op, RuleText::IsBlank))
        return isBlank(subject);
    if (sameText(op, RuleText::IsUppercase)) // digits and underscores alone are not upper case
        return !isBlank(subject) && countNumeric(subject) != subject.size() && isUpperCaseText(subject);
    return false;
}

bool matchSender(QStringView sender, QStringView what, QStringView op, QStringView pattern)
{
    const bool domainRow = sameText(what, RuleText::DomainName);
    QStringView tested = domainRow ? senderDomain(sender) : sender;
    bool known;
    const bool matched = matchTextOperator(tested, op, pattern, false, known);
    if (known)
        return matched;
    if (sameText(op, RuleText::IsBlank))
        return isBlank(tested);
    // The remaining operators look at the user part of an address row.
    if (!domainRow)
        tested = senderUserPart(sender);
    if (sameText(op, RuleText::IsUppercase)) // digits alone count as upper case here
        return !isBlank(tested) && isUpperCaseText(tested);
    const bool allNumeric = sameText(op, RuleText::AllNumeric);
    if (allNumeric || sameText(op, RuleText::HalfNumeric)) {
        // A text without a numeric character is never numeric, or every bounce
        // (an empty address) and every message without a From would pass.
        const int numeric = countNumeric(tested);
        return numeric > 0 && (allNumeric ? numeric == tested.size() : numeric >= tested.size() / 2);
    }
    if (sameText(op, RuleText::FirstCharNumeric))
        return !tested.isEmpty() && isDigitChar(tested.front());
    return false;
}

bool matchHeaderLine(QStringView line, QStringView op, QStringView pattern, bool caseSensitive)
{
    return matchTextOperator(line, op, pattern, caseSensitive);
}

bool matchExceptSubject(QStringView subject, QStringView op, QStringView pattern, bool caseSensitive)
{
    // An exception only ever keeps a message, so its pattern counts as
    // written, blanks and all: refusing it could only add deletions.
    const TextTest test = textOperator(op);
    return test && test(subject, pattern, caseSensitive);
}

bool operatorShowsPattern(QStringView op)
{
    for (QLatin1String name : {RuleText::IsBlank, RuleText::IsUppercase, RuleText::AllNumeric, RuleText::HalfNumeric,
                               RuleText::FirstCharNumeric})
        if (sameText(op, name))
            return false;
    return true;
}
