#pragma once
// Header-block functions: cutting the block out of a TOP reply, reading a
// field's value, decoding RFC 2047 encoded words, splitting address fields
// and reading the Date field. Pure functions; no state between calls.

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The raw lines of one message's header block, as the server sent them:
// folded continuation lines are entries of their own, nothing decoded.
using TmsHeaders = QStringList;

struct TmsMailAddress
{
    QString Name;
    QString Address;
};

struct ParsedDate
{
    // Invalid when the text could not be read. The zone is not applied: the
    // fields are the sender's wall clock, held as Qt::UTC so that no local
    // daylight-saving gap can void them.
    QDateTime dateTime;
    QString rest; // what follows the time of day, upper-cased (usually the zone)
};

// One received header line as text: UTF-8 when the bytes are valid UTF-8,
// otherwise Latin-1, so every byte survives.
QString decodeHeaderLine(QByteArrayView line);

// Removes the first empty line and every line after it.
void CutAtBody(TmsHeaders &headers);

// A header value is trimmed of every character below 33 (the controls and
// the space) at either end.
bool isTrimmed(QChar c);
QStringView trimmedView(QStringView text);

// The value of the first field called `name` (with or without its ":",
// a-z compared without case), trimmed, with its folded lines joined by one
// space and its encoded words decoded, at most 255 characters. Content-Type
// and X-UIDL come whole and undecoded. Empty when the field is absent.
// Addresses come from headerAddress: split after decoding, an encoded word
// could pass for one.
QString GetHeaderValue(const TmsHeaders &headers, const QString &name);

// Decodes RFC 2047 encoded words (B or Q, either case) into Unicode from
// their charset; blanks between two adjacent encoded words go. Each word is
// read on its own; one that does not read alone, a character cut between it
// and the next, is read together with the adjacent words of its charset
// that follow. Control characters that decoding yields become spaces. A
// word that cannot be decoded stays as written. The result is cut to 255
// characters.
QString DecodeEncodedWords(const QString &text);

// The address field `name` (with or without its ":") split as RFC 5322 reads
// it. The split is made on the field as received, before any decoding: an
// encoded word that decodes to "<someone@else>" is display text, never the
// address. Only the Name is then decoded; both parts are at most 255
// characters.
TmsMailAddress headerAddress(const TmsHeaders &headers, const QString &name);

// The sender's address: the Address of the From field. The message list,
// the rules, the known list, the explanations and the log all read this one.
QString senderAddress(const TmsHeaders &headers);

// Trimmed (every character below 33 at either end), then without the runs of
// double quotes at its start and at its end.
QString StripQuotes(const QString &text);

// "Name" <address>, address (Name), <address> or a bare address. A "<" or "("
// inside a double-quoted string, and a "<" inside a comment, is text. Quotes
// go only as one pair around a whole part, so <"John Smith"@example.com>
// keeps them. Both parts are at most 255 characters. Never fails.
TmsMailAddress SplitAddress(const QString &text);

// Reads an RFC 5322 Date value, obsolete forms included. Never fails.
ParsedDate ParseDate(const QString &text);
