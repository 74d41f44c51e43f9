#include "rules/serverfindings.h"

namespace {

// A field quoted in an explanation is cut to this many characters.
constexpr qsizetype MaxShownLength = 160;

QString shown(const QString &text)
{
    return text.size() <= MaxShownLength ? text : text.left(MaxShownLength) + QStringLiteral("...");
}

QString domainOf(const QString &sender)
{
    return sender.sliced(sender.lastIndexOf(u'@') + 1);
}

QString describeResults(const AuthResults &field)
{
    QStringList results;
    for (const AuthResult &result : field.results) {
        QString text = result.method + u'=' + result.result;
        for (const auto &[name, value] : result.properties) {
            if (name.startsWith(u"header.") || name.startsWith(u"smtp."))
                text += u' ' + name + u'=' + value;
        }
        results << text;
    }
    return results.isEmpty() ? QStringLiteral("none") : results.join(QStringLiteral("; "));
}

} // namespace

ServerFindings ServerFindings::of(const TmsHeaders &headers, const QString &trustedServer)
{
    const ServerPart part(headers, trustedServer);
    return {trustedAuthResults(headers, part), serverVerdict(headers, part)};
}

QString ServerFindings::resultFor(QStringView method, const QString &sender) const
{
    return trustedResult(auth, method, domainOf(sender));
}

bool ServerFindings::senderPublishesDmarc(const QString &sender) const
{
    // "none": the domain publishes no policy (RFC 7489).
    const QString dmarc = resultFor(u"dmarc", sender);
    return !dmarc.isEmpty() && dmarc != u"none";
}

QStringList ServerFindings::describe(const QString &trustedServer) const
{
    QStringList lines;
    for (const AuthResults &field : auth.trusted) {
        lines << QStringLiteral("Server   : Authentication-Results of %1: %2")
                     .arg(trustedServer.trimmed(), shown(describeResults(field)));
    }
    if (!verdict.spamField.isEmpty())
        lines << QStringLiteral("Server   : spam verdict %1").arg(shown(verdict.spamField));
    if (verdict.bulkLevel)
        lines << QStringLiteral("Server   : bulk level %1 in %2").arg(*verdict.bulkLevel).arg(shown(verdict.bulkField));
    // Forged fields come in numbers: one line per reason.
    QStringList reasons = auth.untrustedReasons;
    reasons.removeDuplicates();
    for (const QString &reason : reasons) {
        const qsizetype count = auth.untrustedReasons.count(reason);
        lines << (count == 1
                      ? QStringLiteral("Not trusted: an Authentication-Results field, %1").arg(reason)
                      : QStringLiteral("Not trusted: %1 Authentication-Results fields, %2").arg(count).arg(reason));
    }
    return lines;
}
