#include "mail/headersummary.h"

HeaderSummary HeaderSummary::of(const TmsHeaders &headers)
{
    return {GetHeaderValue(headers, QStringLiteral("Subject")), senderAddress(headers),
            GetHeaderValue(headers, QStringLiteral("Date"))};
}
