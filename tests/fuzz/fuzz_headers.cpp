// Feeds the header functions: the input is a header block as a TOP reply
// brings it (lines split at LF, each decoded as the POP3 client decodes
// them), read for the fields a check shows, every line also decoded,
// unquoted, split as an address and read as a date.

#include "fuzzsupport.h"

#include "mail/headers.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    TmsHeaders block;
    for (QByteArrayView rest = input; !rest.isEmpty();) {
        const qsizetype end = rest.indexOf('\n');
        block.append(decodeHeaderLine(end < 0 ? rest : rest.first(end)));
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
    }
    for (const char *name : {"Subject", "From:", "To", "Date", "Content-Type", "X-UIDL", ""}) {
        const QString value = GetHeaderValue(block, QString::fromLatin1(name));
        SplitAddress(value);
        ParseDate(value);
    }
    for (const QString &line : std::as_const(block)) {
        requirePromise(DecodeEncodedWords(line).size() <= 255, "decoded words are cut to 255 characters");
        StripQuotes(line);
        SplitAddress(line);
        ParseDate(line);
    }
    const qsizetype lines = block.size();
    CutAtBody(block);
    requirePromise(block.size() <= lines, "cutting at the body never adds lines");
    return 0;
}
