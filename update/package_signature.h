#pragma once

// Ed25519 signatures of update packages (libsodium). Keys as text are standard base64 of the
// raw key: 32 bytes for a public key, 64 bytes for a secret key (libsodium's form: the seed
// followed by the public key). conf.xml's updateKey and the velmora-pkg key files use it.

#include <QByteArray>
#include <QString>

namespace update {

constexpr int kPublicKeySize = 32;
constexpr int kSecretKeySize = 64;
constexpr int kSignatureSize = 64;

// The raw key, or empty when `text` is not one. A caller that has key text it cannot decode
// should refuse updates rather than read them unsigned.
QByteArray decodePublicKey(const QString& text);
QByteArray decodeSecretKey(const QString& text);
QString encodeKey(const QByteArray& key);

// A fresh key pair; false when the library cannot start.
bool generateKeyPair(QByteArray& secretKey, QByteArray& publicKey);
QByteArray publicKeyOf(const QByteArray& secretKey);

// The signature of `size` bytes, or empty when `secretKey` is not a secret key.
QByteArray sign(const char* data, qint64 size, const QByteArray& secretKey);
bool verify(const char* data, qint64 size, const char* signature, const QByteArray& publicKey);

}  // namespace update
