#include "mail/apop.h"

#include <QCryptographicHash>
#include <QRegularExpression>

QString apopTimestamp(const QString &greeting)
{
    static const QRegularExpression timestamp(QStringLiteral("<[!-;=?-~]+>"));
    return timestamp.match(greeting).captured();
}

QByteArray apopDigest(const QString &timestamp, const QString &password)
{
    return QCryptographicHash::hash(timestamp.toLatin1() + password.toUtf8(), QCryptographicHash::Md5).toHex();
}
