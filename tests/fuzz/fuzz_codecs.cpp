// Feeds the content transfer decodings and the charset conversion: the whole
// input goes through quoted-printable (body and encoded-word flavours),
// strict Base64 and the UTF-8-or-Latin-1 reading; its first line names a
// charset in which the rest is read.

#include "fuzzsupport.h"

#include "mail/charset.h"
#include "mail/mimecodecs.h"

#include <cctype>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));

    for (const char c : input) {
        const int value = hexDigitValue(c);
        requirePromise(value >= -1 && value <= 15, "a hexadecimal digit's value is -1 to 15");
        requirePromise((value >= 0) == bool(std::isxdigit(static_cast<unsigned char>(c))),
                       "exactly the hexadecimal digits have a value");
    }

    for (const auto flavour : {QuotedPrintableFlavour::Body, QuotedPrintableFlavour::EncodedWord})
        requirePromise(decodeQuotedPrintable(input, flavour).size() <= input.size(),
                       "quoted-printable decoding never grows the text");

    if (const auto decoded = decodeBase64Strict(input))
        requirePromise(decoded->size() <= input.size() * 3 / 4, "Base64 decodes four characters to three bytes");
    const QByteArray bytes = input.toByteArray();
    const auto roundTrip = decodeBase64Strict(bytes.toBase64());
    requirePromise(roundTrip && *roundTrip == bytes, "Base64 written by Qt decodes to the same bytes");

    decodeUtf8OrLatin1(input);
    const qsizetype lineEnd = input.indexOf('\n');
    if (lineEnd >= 0)
        decodeCharset(input.sliced(lineEnd + 1), input.first(lineEnd));
    return 0;
}
