#pragma once
// How a mail connection is protected, and what the user is told when a
// server's certificate cannot be verified: who it was issued to and by, its
// SHA-256 fingerprint and why it failed. A user who trusts that exact
// certificate for a mailbox keeps its fingerprint; a later connection that
// presents the same certificate is accepted, a different one asks again.

#include "mail/mailerrors.h"

#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

enum class TlsMode {
    None, // plain text throughout
    Implicit, // TLS from the first byte (POP3S, port 995)
    StartTls, // plain greeting, then STLS upgrades the connection (RFC 2595)
};

// A certificate that did not pass verification.
struct TlsFailure
{
    QString host; // the server name it was checked against
    QString subject; // whom the certificate names
    QString issuer; // who signed it
    QString fingerprint; // SHA-256 as "AB:CD:..." (see certificateFingerprint)
    QStringList reasons; // why verification failed, one text each

    // The whole story in a few lines, for an error box or a console.
    QString text() const;
};

// SHA-256 of the certificate's DER form as upper-case hex pairs joined by
// ":", the form `openssl x509 -fingerprint -sha256` prints.
QString certificateFingerprint(const QSslCertificate &certificate);

// Whether a stored fingerprint names this one; letter case, ":" and blanks
// do not matter. An empty stored value matches nothing.
bool sameFingerprint(const QString &stored, const QString &fingerprint);

TlsFailure describeTlsFailure(const QString &host, const QSslCertificate &certificate, const QList<QSslError> &errors);

// TLS could not be set up: the handshake failed, or STARTTLS was asked for
// and the server does not offer it.
class ETlsError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// The server's certificate failed verification and the user did not trust it.
class ECertificateError : public EMailsieveError
{
public:
    // message is failure.text(), or what an OnError handler made of it.
    ECertificateError(const TlsFailure &failure, const QString &message);
    const TlsFailure &failure() const { return m_failure; }

private:
    TlsFailure m_failure;
};
