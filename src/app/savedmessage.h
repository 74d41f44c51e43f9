#pragma once
// A downloaded message file ("msg_" n ".eml") holds the message exactly as
// the server sent it: from a POP3 server in the form of a data block,
// dot-stuffed and ended by a "." line; from an IMAP server as the literal of
// its body, which is the message itself. What the user is shown is the
// message as its sender wrote it.

#include "settings/generalsettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The message inside a data block as received (RFC 1939 section 3): the
// final "." line goes, and a line that starts with "." loses the one the
// server put before it. Line breaks stay as they are.
QByteArray unstuffedMessage(QByteArrayView received);

// The body text lines of the message in path, downloaded over protocol, as
// "View body of one message" shows them.
QStringList savedMessageBody(const QString &path, MailProtocol protocol);
