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

struct TrustedAuthResults
{
    QList<AuthResults> trusted; // topmost first
    // One line for each instance not trusted, with the reason, topmost first.
    QStringList untrustedReasons;
};

// The instances of headers (a header block, topmost line first) that the
// user's receiving server added: those that carry trustedId as their
// authserv-id (compared whole, without case) and stand above the server's
// own Received field. That is the topmost Received naming trustedId after
// "by" (a provider's inner hops, such as Gmail's, may stand above it), and
// an instance below it is never its own. A server whose hop does not name
// it is taken to be the topmost Received, and an instance counts up to the
// Received below that. An empty trustedId trusts nothing.
TrustedAuthResults trustedAuthResults(const TmsHeaders &headers, const QString &trustedId);

// The trusted result of method for the From domain fromDomain, empty when
// there is none. dmarc: the first result whose header.from is fromDomain.
// dkim: a result whose signing domain (header.d, else the domain of
// header.i) is fromDomain or a parent of it; "pass" wins over any other.
// Any other method ("spf", "arc", ...): its first result. Domains are
// compared without case.
QString trustedResult(const TrustedAuthResults &trusted, QStringView method, QStringView fromDomain);
