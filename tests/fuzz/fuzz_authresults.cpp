// Feeds the Authentication-Results functions: the input is a header block
// as a server sends it, read for the instances and the spam verdict a
// fixed receiving server added and for the name it proposes, and the whole
// input is also read as one field value.

#include "fuzzsupport.h"

#include "mail/authresults.h"
#include "mail/packedheaders.h"
#include "mail/serververdict.h"

#include <cstddef>
#include <cstdint>

namespace {

void requireBounds(const AuthResults &field)
{
    requirePromise(field.results.size() <= 64, "at most 64 results in a field");
    for (const AuthResult &result : field.results)
        requirePromise(result.properties.size() <= 32, "at most 32 properties in a result");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const TmsHeaders headers = headerBlockLines(input);
    const QString trustedId = QStringLiteral("mx.example.net");
    const TrustedAuthResults found = trustedAuthResults(headers, trustedId);
    for (const AuthResults &field : found.trusted) {
        // Microsoft's form carries no id; its place alone is trusted.
        requirePromise(field.authservId == trustedId || field.authservId.isEmpty(), "only the trusted id is trusted");
        requireBounds(field);
    }
    const ServerVerdict verdict = serverVerdict(headers, ServerPart(headers, trustedId));
    requirePromise(!verdict.bulkLevel || (*verdict.bulkLevel >= 0 && *verdict.bulkLevel <= 9), "a level is 0 to 9");
    proposedTrustedServer(headers);
    for (const char *method : {"spf", "dkim", "dmarc"})
        trustedResult(found, QString::fromLatin1(method), u"example.com");
    if (const std::optional<AuthResults> parsed = parseAuthenticationResults(decodeHeaderLine(input)))
        requireBounds(*parsed);
    return 0;
}
