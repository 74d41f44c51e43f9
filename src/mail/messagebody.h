#pragma once
// The body text of a retrieved message file ("msg_" n ".eml"): the text
// that "View body of one message" shows.

#include <QString>
#include <QStringList>

// The first text part of a MIME message, decoded from quoted-printable or
// Base64 and converted from its charset; the body lines as they stand for a
// non-MIME message, less any uuencoded blocks. Attachments are left out. A
// file that cannot be read or parsed gives a three-line error body instead:
// this never throws.
QStringList ReadMessageBody(const QString &path);
// The same for a message already in memory.
QStringList MessageBodyLines(const QByteArray &message);
