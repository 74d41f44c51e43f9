#include "app/savedmessage.h"

#include "mail/messagebody.h"

#include <QFile>

namespace {

bool isEndOfBlock(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line == ".";
}

} // namespace

QByteArray unstuffedMessage(QByteArrayView received)
{
    QByteArray message;
    message.reserve(received.size());
    qsizetype start = 0;
    while (start < received.size()) {
        const qsizetype newline = received.indexOf('\n', start);
        const qsizetype end = newline < 0 ? received.size() : newline + 1;
        QByteArrayView line = received.sliced(start, end - start);
        start = end;
        if (line.startsWith('.')) {
            // A line of its own "." can only be the end: the server sends
            // one written by the sender as "..".
            if (isEndOfBlock(line))
                break;
            line = line.sliced(1);
        }
        message += line;
    }
    return message;
}

QStringList savedMessageBody(const QString &path, MailProtocol protocol)
{
    QFile saved(path);
    // The body reader names a file it cannot open in the text it returns.
    if (!saved.open(QIODevice::ReadOnly))
        return ReadMessageBody(path);
    const QByteArray received = saved.readAll();
    return MessageBodyLines(protocol == MailProtocol::Pop3 ? unstuffedMessage(received) : received);
}
