#include "update/package_signature.h"

#include <sodium.h>

namespace update {
namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QByteArray decodeKey(const QString& text, int size) {
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return {};
    return decoded.decoded;
}

const unsigned char* bytes(const char* data) {
    return reinterpret_cast<const unsigned char*>(data);
}

}  // namespace

QByteArray decodePublicKey(const QString& text) {
    const QByteArray key = decodeKey(text, kPublicKeySize);
    if (key.isEmpty() || !sodiumReady() || !crypto_core_ed25519_is_valid_point(bytes(key.data())))
        return {};
    return key;
}

QByteArray decodeSecretKey(const QString& text) {
    const QByteArray key = decodeKey(text, kSecretKeySize);
    // The public half must belong to the seed, or every signature would be wrong.
    if (key.isEmpty() || publicKeyOf(key) != key.right(kPublicKeySize))
        return {};
    return key;
}

QString encodeKey(const QByteArray& key) {
    return QString::fromLatin1(key.toBase64());
}

bool generateKeyPair(QByteArray& secretKey, QByteArray& publicKey) {
    if (!sodiumReady())
        return false;
    secretKey.resize(kSecretKeySize);
    publicKey.resize(kPublicKeySize);
    return crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                               reinterpret_cast<unsigned char*>(secretKey.data())) == 0;
}

QByteArray publicKeyOf(const QByteArray& secretKey) {
    if (secretKey.size() != kSecretKeySize || !sodiumReady())
        return {};
    unsigned char seed[crypto_sign_SEEDBYTES];
    crypto_sign_ed25519_sk_to_seed(seed, bytes(secretKey.data()));
    QByteArray publicKey(kPublicKeySize, Qt::Uninitialized);
    unsigned char secretAgain[crypto_sign_SECRETKEYBYTES];
    const int result = crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                                                secretAgain, seed);
    sodium_memzero(seed, sizeof seed);
    sodium_memzero(secretAgain, sizeof secretAgain);
    return result == 0 ? publicKey : QByteArray();
}

QByteArray sign(const char* data, qint64 size, const QByteArray& secretKey) {
    if (secretKey.size() != kSecretKeySize || !sodiumReady())
        return {};
    QByteArray signature(kSignatureSize, Qt::Uninitialized);
    if (crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             bytes(data), quint64(size), bytes(secretKey.data())) != 0)
        return {};
    return signature;
}

bool verify(const char* data, qint64 size, const char* signature, const QByteArray& publicKey) {
    if (publicKey.size() != kPublicKeySize || !sodiumReady())
        return false;
    return crypto_sign_verify_detached(bytes(signature), bytes(data), quint64(size),
                                       bytes(publicKey.data())) == 0;
}

}  // namespace update
