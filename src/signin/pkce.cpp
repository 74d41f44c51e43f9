#include "signin/pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

PkcePair PkcePair::generate()
{
    std::array<quint32, 8> random;
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QByteArray verifier =
        QByteArray(reinterpret_cast<const char *>(random.data()), sizeof random).toBase64(kBase64Url);
    return {verifier, pkceChallenge(verifier)};
}

QByteArray pkceChallenge(QByteArrayView verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}
