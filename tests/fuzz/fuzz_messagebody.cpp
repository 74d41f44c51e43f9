// Feeds the message-body reader: the input is a retrieved message file
// ("msg_<n>.eml"), MIME or not, read as "View body of one message" reads it.

#include "fuzzsupport.h"

#include "mail/messagebody.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeFuzzFile(QStringLiteral("msg_1.eml"),
                                       QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    ReadMessageBody(path);
    return 0;
}
