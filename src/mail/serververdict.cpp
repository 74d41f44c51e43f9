#include "mail/serververdict.h"

namespace {

// "KEY:value" of a Microsoft report ("CIP:192.0.2.1;SFV:SPM;SCL:5;"), the
// key compared without case; empty when absent.
QString reportValue(const QString &report, QStringView key)
{
    for (const QStringView part : QStringView(report).split(u';')) {
        const qsizetype colon = part.indexOf(u':');
        if (colon > 0 && part.first(colon).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return part.sliced(colon + 1).trimmed().toString();
    }
    return {};
}

// A level 0 to 9 (SCL may also be -1: mail the organisation trusts).
std::optional<int> level(const QString &text)
{
    if (text.size() != 1 || !text[0].isDigit() || text[0].unicode() > u'9')
        return std::nullopt;
    return text[0].unicode() - u'0';
}

bool isSpamConfidence(const QString &text)
{
    const std::optional<int> scl = level(text);
    return scl && *scl >= 5;
}

// "Yes" alone or followed by the score ("Yes, score=7.1 required=5.0 ...").
bool saysYes(const QString &value)
{
    return value.compare(u"yes", Qt::CaseInsensitive) == 0
           || (value.size() > 3 && value.first(3).compare(u"yes", Qt::CaseInsensitive) == 0
               && (value[3] == u',' || value[3] == u' '));
}

} // namespace

ServerVerdict serverVerdict(const TmsHeaders &headers, const ServerPart &part)
{
    ServerVerdict verdict;
    const auto spam = [&](const QString &name, const QString &value) {
        if (verdict.spamField.isEmpty())
            verdict.spamField = name + QStringLiteral(": ") + value;
    };
    const auto bulk = [&](const QString &name, const QString &value, const QString &bcl) {
        const std::optional<int> found = level(bcl);
        if (found && (!verdict.bulkLevel || *found > *verdict.bulkLevel)) {
            verdict.bulkLevel = found;
            verdict.bulkField = name + QStringLiteral(": ") + value;
        }
    };
    if (part.trustedId().isEmpty())
        return verdict;
    for (const QString &name : {QStringLiteral("X-Spam-Flag"), QStringLiteral("X-Spam-Status")}) {
        for (const QString &value : serverFieldValues(headers, part, name)) {
            if (saysYes(value))
                spam(name, value);
        }
    }
    const QString scl = QStringLiteral("X-MS-Exchange-Organization-SCL");
    for (const QString &value : serverFieldValues(headers, part, scl)) {
        if (isSpamConfidence(value))
            spam(scl, value);
    }
    const QString report = QStringLiteral("X-Forefront-Antispam-Report");
    for (const QString &value : serverFieldValues(headers, part, report)) {
        if (reportValue(value, u"SFV").compare(u"SPM", Qt::CaseInsensitive) == 0
            || isSpamConfidence(reportValue(value, u"SCL")))
            spam(report, value);
        bulk(report, value, reportValue(value, u"BCL"));
    }
    const QString antispam = QStringLiteral("X-Microsoft-Antispam");
    for (const QString &value : serverFieldValues(headers, part, antispam))
        bulk(antispam, value, reportValue(value, u"BCL"));
    return verdict;
}
