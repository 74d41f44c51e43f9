#include "rules/textmatch.h"

#include "rules/ruletexts.h"

#include <array>

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

bool charsEqual(QChar a, QChar b, bool caseSensitive)
{
    return caseSensitive ? a == b : foldChar(a) == foldChar(b);
}

// The one text operator set the four tables share; known is false for an
// operator text that is none of them.
bool matchTextOperator(QStringView text, QStringView op, QStringView pattern, bool caseSensitive,
                       bool &known)
{
    known = true;
    if (op == RuleText::Contains)
        return textContains(text, pattern, caseSensitive);
    if (op == RuleText::ContainsWholeWord)
        return WholeWordCheck(text, pattern, caseSensitive);
    if (op == RuleText::Equals)
        return textEquals(text, pattern, caseSensitive);
    if (op == RuleText::EndsWith)
        return !pattern.isEmpty() && textEndsWith(text, pattern, caseSensitive);
    if (op == RuleText::StartsWith)
        return !pattern.isEmpty() && textStartsWith(text, pattern, caseSensitive);
    known = false;
    return false;
}

bool matchTextOperator(QStringView text, QStringView op, QStringView pattern, bool caseSensitive)
{
    bool known;
    return matchTextOperator(text, op, pattern, caseSensitive, known);
}

bool isAllNumeric(QStringView text) { return countNumeric(text) == text.size(); }

} // namespace

QString pluralS(int n) { return n == 1 ? QString() : QStringLiteral("s"); }

QString yesNoLetter(bool value) { return value ? QStringLiteral("Y") : QStringLiteral("N"); }

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

bool isDigitChar(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

int countNumeric(QStringView text)
{
    int n = 0;
    for (QChar c : text)
        if (isDigitChar(c) || c == u'_')
            ++n;
    return n;
}

bool isWordSeparator(QChar c) { return c.unicode() < 128 && Separators[c.unicode()]; }

QChar foldChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? QChar(char16_t(u - (u'a' - u'A'))) : c;
}

QString foldCase(QStringView text)
{
    QString folded(text.size(), Qt::Uninitialized);
    QChar *out = folded.data();
    for (QChar c : text)
        *out++ = foldChar(c);
    return folded;
}

bool hasLowerCaseLetter(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= u'a' && c.unicode() <= u'z')
            return true;
    return false;
}

bool textEquals(QStringView text, QStringView pattern, bool caseSensitive)
{
    if (text.size() != pattern.size())
        return false;
    if (caseSensitive)
        return text == pattern;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (foldChar(text[i]) != foldChar(pattern[i]))
            return false;
    return true;
}

bool textContains(QStringView text, QStringView pattern, bool caseSensitive)
{
    if (pattern.isEmpty() || pattern.size() > text.size())
        return false;
    if (caseSensitive)
        return text.contains(pattern, Qt::CaseSensitive);
    const QChar first = foldChar(pattern[0]);
    const qsizetype last = text.size() - pattern.size();
    for (qsizetype i = 0; i <= last; ++i) {
        if (foldChar(text[i]) != first)
            continue;
        qsizetype k = 1;
        while (k < pattern.size() && charsEqual(text[i + k], pattern[k], false))
            ++k;
        if (k == pattern.size())
            return true;
    }
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
    if (isBlank(text) || isBlank(word))
        return false;
    // The pieces between separators never hold a separator, so a word that
    // holds one never matches whole.
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isWordSeparator(text[i]))
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
    if (op == RuleText::IsBlank)
        return isBlank(subject);
    if (op == RuleText::IsUppercase) // digits and underscores alone are not upper case
        return !isBlank(subject) && countNumeric(subject) != subject.size()
               && !hasLowerCaseLetter(subject);
    return false;
}

bool matchSender(QStringView sender, QStringView what, QStringView op, QStringView pattern)
{
    const bool domainRow = what == RuleText::DomainName;
    QStringView tested = domainRow ? senderDomain(sender) : sender;
    bool known;
    const bool matched = matchTextOperator(tested, op, pattern, false, known);
    if (known)
        return matched;
    if (op == RuleText::IsBlank)
        return isBlank(tested);
    // The remaining operators look at the user part of an address row.
    if (!domainRow)
        tested = senderUserPart(sender);
    if (op == RuleText::IsUppercase) // digits alone count as upper case here
        return !isBlank(tested) && !hasLowerCaseLetter(tested);
    if (op == RuleText::AllNumeric)
        return isAllNumeric(tested);
    if (op == RuleText::HalfNumeric)
        return countNumeric(tested) >= tested.size() / 2;
    if (op == RuleText::FirstCharNumeric)
        return !tested.isEmpty() && isDigitChar(tested.front());
    return false;
}

bool matchHeaderLine(QStringView line, QStringView op, QStringView pattern, bool caseSensitive)
{
    return matchTextOperator(line, op, pattern, caseSensitive);
}

bool matchExceptSubject(QStringView subject, QStringView op, QStringView pattern, bool caseSensitive)
{
    return matchTextOperator(subject, op, pattern, caseSensitive);
}

bool operatorShowsPattern(QStringView op)
{
    return op != RuleText::IsBlank && op != RuleText::IsUppercase && op != RuleText::AllNumeric
           && op != RuleText::HalfNumeric && op != RuleText::FirstCharNumeric;
}
