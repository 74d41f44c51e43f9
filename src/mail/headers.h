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

void CutAtBody(TmsHeaders &headers);
QString GetHeaderValue(const TmsHeaders &headers, const QString &name);
QString DecodeEncodedWords(const QString &text);
QString StripQuotes(const QString &text);
TmsMailAddress SplitAddress(const QString &text);
ParsedDate ParseDate(const QString &text);
