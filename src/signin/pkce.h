#pragma once
// Proof Key for Code Exchange (RFC 7636) with the S256 method: the sign-in
// sends the challenge with the authorization request and the verifier with
// the code exchange, so an authorization code caught on its way back through
// the browser is of no use to anyone else.

#include <QByteArray>
#include <QByteArrayView>

struct PkcePair
{
    QByteArray verifier;
    QByteArray challenge;

    // A new random verifier (43 characters from 32 random bytes, the
    // RFC's recommendation) and its challenge.
    static PkcePair generate();
};

// BASE64URL(SHA-256(verifier)), without padding.
QByteArray pkceChallenge(QByteArrayView verifier);

// byteCount bytes from the system's random source in base64url without
// padding: the PKCE verifier, and the state that ties a redirect to its
// authorization request (unguessable, RFC 6749 section 10.12).
QByteArray randomUrlToken(int byteCount);
