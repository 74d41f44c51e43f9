#pragma once
// Authentication-Results fields (RFC 8601): what a receiving server found
// when it checked SPF, DKIM, DMARC or ARC. Anyone can write such a field
// into a message, so only the instances the user's own receiving server
// added are believed. Pure functions; no state between calls.

#include "mail/headers.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <utility>

// One result of one method ("resinfo").
struct AuthResult
{
    QString method; // lower case: "spf", "dkim", "dmarc", "arc", ...; unknown methods are kept
    QString result; // lower case: "pass", "fail", "softfail", "neutral", "none", "temperror", ...
    QString reason; // the reason=value text, as written; empty when none
    // ptype.property (lower case) -> value as written, in field order, e.g.
    // {"header.from", "example.com"} or {"smtp.mailfrom", "a@example.com"}.
    // A bare name=value that some servers add ("action=none") is kept under
    // its lower-case name.
    QList<std::pair<QString, QString>> properties;

    // The first value of property `name` (any case); empty when none.
    QString property(QStringView name) const;
};

// One Authentication-Results field.
struct AuthResults
{
    QString authservId; // lower case
    QList<AuthResult> results; // empty for "none"
};

// Reads one field value, unfolded, as the text after the colon. Nothing
// when it does not follow the grammar: the id alone, a value without "=",
// a comment or quoted string left open, more than 64 results or more than
// 32 properties in one, or more than 16 KB of text. Comments are skipped
// wherever blanks may stand, so no comment ever yields a result.
std::optional<AuthResults> parseAuthenticationResults(QStringView value);

// The part of a header block the user's receiving server wrote: the
// fields above its own Received line. That is the topmost Received whose
// "by" host is the trusted name or a host below it (a provider's inner
// hops, such as Gmail's, may stand above it); what stands below it came
// with the message, whoever wrote it. A server whose hop does not name it
// is taken to be the topmost Received, and its part reaches down to the
// Received below that. An empty trusted name: nothing is the server's.
class ServerPart
{
public:
    ServerPart(const TmsHeaders &headers, const QString &trustedId);

    // The field that starts at this line (of the same headers) is the server's.
    bool contains(qsizetype line) const;
    // A Received line names the server, so its place is known for certain.
    bool hopNamed() const { return m_hopNamed; }
    // Lower case, trimmed.
    const QString &trustedId() const { return m_trustedId; }

private:
    QString m_trustedId;
    qsizetype m_end = 0;
    bool m_hopNamed = false;
};

// The unfolded values of the fields called name that the server wrote,
// topmost first.
QStringList serverFieldValues(const TmsHeaders &headers, const ServerPart &part, QStringView name);

struct TrustedAuthResults
{
    QList<AuthResults> trusted; // topmost first
    // One line for each instance not trusted, with the reason, topmost first.
    QStringList untrustedReasons;
};

// The instances of headers (a header block, topmost line first) that the
// user's receiving server added: those in its part (ServerPart) that carry
// trustedId as their authserv-id, compared whole, without case. Microsoft's
// servers write no authserv-id at all: such an instance is believed only
// when a Received line names the server, so that its place proves it.
TrustedAuthResults trustedAuthResults(const TmsHeaders &headers, const QString &trustedId);
// The same within a part already found for headers (read with the spam
// verdict, say, so the Received chain is walked once).
TrustedAuthResults trustedAuthResults(const TmsHeaders &headers, const ServerPart &part);

// The server a header block's topmost Authentication-Results names: its
// authserv-id, or for one without an id the host of the Received below it
// less its machine name. Empty when there is none or it does not parse.
QString proposedTrustedServer(const TmsHeaders &headers);

// The trusted result of method for the From domain fromDomain, empty when
// there is none. dmarc: the first result whose header.from is fromDomain.
// dkim: a result whose signing domain (header.d, else the domain of
// header.i) is fromDomain or a parent of it; "pass" wins over any other.
// Any other method ("spf", "arc", ...): its first result. Domains are
// compared without case.
QString trustedResult(const TrustedAuthResults &trusted, QStringView method, QStringView fromDomain);
