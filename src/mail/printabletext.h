#pragma once
// Texts that came from outside (a server's reply, a header field, a file) on
// their way to a terminal, a log line or an error box: control characters
// there could move the cursor, retitle a terminal or split a record.

#include <QString>

// The text with every control character (C0, DEL, C1) and every line or
// paragraph separator replaced by one space; nothing else changes.
QString printableText(QString text);
