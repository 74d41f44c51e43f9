// libFuzzer harness for the header functions and the message body reader.
// Not part of the normal build; from the source folder:
//
//   clang++ -g -O1 -std=c++20 -fPIC -fsanitize=fuzzer,address,undefined -Isrc \
//       tests/fuzz/fuzz_headers.cpp src/mail/headers.cpp src/mail/charset.cpp \
//       src/mail/mimecodecs.cpp src/mail/messagebody.cpp \
//       $(pkg-config --cflags --libs Qt6Core) -o fuzz_headers
//   ./fuzz_headers -max_total_time=300 -max_len=4096
//
// The input is read as a header block (lines split at LF, each decoded as the
// POP3 client decodes them) and, on odd first bytes, also as a message file.

#include "mail/headers.h"
#include "mail/messagebody.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>

namespace {

void exerciseHeaders(QByteArrayView data)
{
    TmsHeaders block;
    for (QByteArrayView rest = data; !rest.isEmpty();) {
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
        if (DecodeEncodedWords(line).size() > 255)
            __builtin_trap();
        StripQuotes(line);
        SplitAddress(line);
        ParseDate(line);
    }
    CutAtBody(block);
}

void exerciseMessageFile(QByteArrayView data)
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_msg_%1.eml").arg(QCoreApplication::applicationPid()));
    // Removed first: truncating in place makes the file system flush each time.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(data.data(), data.size());
    file.close();
    ReadMessageBody(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    exerciseHeaders(input);
    if (size > 0 && (data[0] & 1))
        exerciseMessageFile(input.sliced(1));
    return 0;
}
