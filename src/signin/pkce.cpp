#include "signin/pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

PkcePair PkcePair::generate()
{
    const QByteArray verifier = randomUrlToken(32);
    return {verifier, pkceChallenge(verifier)};
}

QByteArray pkceChallenge(QByteArrayView verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}

QByteArray randomUrlToken(int byteCount)
{
    QByteArray random(byteCount, Qt::Uninitialized);
    for (char &byte : random)
        byte = char(QRandomGenerator::system()->bounded(256));
    return random.toBase64(kBase64Url);
}
