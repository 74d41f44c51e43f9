#pragma once
// APOP (RFC 1939 7): the server's greeting carries a unique timestamp, and
// the client proves the password with the MD5 digest of timestamp and
// password, so the password itself never crosses the network.

#include <QByteArray>
#include <QString>

// The "<...>" timestamp of a greeting, angle brackets included; empty when
// the greeting has none. Only printable ASCII counts, as the digest is
// taken over the exact bytes the server sent.
QString apopTimestamp(const QString &greeting);
// MD5 of timestamp + password as 32 lower-case hex digits.
QByteArray apopDigest(const QString &timestamp, const QString &password);
