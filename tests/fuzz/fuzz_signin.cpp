// Feeds what a server sends around a sign-in to the functions that read it:
// the whole input as a greeting (the APOP timestamp), as an OAuth error
// challenge, raw and as its Base64, and as an access token put into the
// OAUTHBEARER and XOAUTH2 messages when it passes as one.

#include "fuzzsupport.h"

#include "mail/apop.h"
#include "mail/printabletext.h"
#include "mail/sasl.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(input);

    const QString timestamp = apopTimestamp(text);
    requirePromise(timestamp.isEmpty() || (timestamp.startsWith(u'<') && timestamp.endsWith(u'>')),
                   "an APOP timestamp is the greeting's <...> part");
    requirePromise(text.contains(timestamp), "an APOP timestamp is taken from the greeting");
    requirePromise(apopDigest(timestamp, text).size() == 32, "an APOP digest has 32 hex digits");

    for (const QByteArray &challenge : {input, input.toBase64()}) {
        const QString status = oauthErrorStatus(challenge);
        requirePromise(status.size() <= 80, "an error challenge's status is cut short");
        requirePromise(status == printableText(status), "an error challenge's status is printable");
    }

    if (isBearerToken(text)) {
        for (const SaslMechanism &mechanism :
             {saslOAuthBearer(QStringLiteral("user"), QStringLiteral("host"), 995, text),
              saslXOAuth2(QStringLiteral("user"), text)}) {
            requirePromise(mechanism.response.count('\x01') == (mechanism.name == u"OAUTHBEARER" ? 5 : 3),
                           "a bearer token adds no field separator");
            requirePromise(!mechanism.response.contains('\r') && !mechanism.response.contains('\n')
                               && !mechanism.response.contains('\0'),
                           "a bearer token breaks no line");
        }
    }
    return 0;
}
