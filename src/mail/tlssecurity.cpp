#include "mail/tlssecurity.h"

#include <QCryptographicHash>

namespace {

QString normalizedFingerprint(const QString &text)
{
    QString hex;
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            hex += c.toUpper();
    }
    return hex;
}

QString orUnknown(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("(unknown)") : text;
}

} // namespace

QString TlsFailure::text() const
{
    return QStringLiteral("The certificate of %1 is not trusted: %2\n"
                          "Issued to: %3\n"
                          "Issued by: %4\n"
                          "SHA-256 fingerprint: %5")
        .arg(host, reasons.join(QStringLiteral("; ")), orUnknown(subject), orUnknown(issuer), orUnknown(fingerprint));
}

QString certificateFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

bool sameFingerprint(const QString &stored, const QString &fingerprint)
{
    const QString wanted = normalizedFingerprint(stored);
    return !wanted.isEmpty() && wanted == normalizedFingerprint(fingerprint);
}

TlsFailure describeTlsFailure(const QString &host, const QSslCertificate &certificate, const QList<QSslError> &errors)
{
    TlsFailure failure;
    failure.host = host;
    failure.subject = certificate.subjectDisplayName();
    failure.issuer = certificate.issuerDisplayName();
    failure.fingerprint = certificateFingerprint(certificate);
    for (const QSslError &error : errors) {
        if (!failure.reasons.contains(error.errorString()))
            failure.reasons << error.errorString();
    }
    if (failure.reasons.isEmpty())
        failure.reasons << QStringLiteral("The certificate could not be verified");
    return failure;
}

ECertificateError::ECertificateError(const TlsFailure &failure, const QString &message)
    : EMailsieveError(message), m_failure(failure)
{
}
