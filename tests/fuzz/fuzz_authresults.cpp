// Feeds the Authentication-Results functions: the input is a header block
// as a server sends it, read for the instances a fixed receiving server
// added, and the whole input is also read as one field value.

#include "fuzzsupport.h"

#include "mail/authresults.h"
#include "mail/packedheaders.h"

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
    const TrustedAuthResults found = trustedAuthResults(headerBlockLines(input), QStringLiteral("mx.example.net"));
    for (const AuthResults &field : found.trusted) {
        requirePromise(field.authservId == u"mx.example.net", "only the trusted id is trusted");
        requireBounds(field);
    }
    for (const char *method : {"spf", "dkim", "dmarc"})
        trustedResult(found, QString::fromLatin1(method), u"example.com");
    if (const std::optional<AuthResults> parsed = parseAuthenticationResults(decodeHeaderLine(input)))
        requireBounds(*parsed);
    return 0;
}
