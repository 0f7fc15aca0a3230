#pragma once

// The cryptography a signed image needs, all of it from libgcrypt: Ed25519
// signatures checked, BLAKE2b-512 hashes made. Nothing here is done by hand.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>

namespace Crypto {

constexpr int Ed25519KeySize = 32;
constexpr int Ed25519SignatureSize = 64;
constexpr int Blake2b512Size = 64;
// libgcrypt takes a message to verify as one value of an S-expression, whose
// length it keeps in 16 bits, and the list around it takes some of them
// (libgcrypt 1.10 fails from 65473 bytes on, and may abort): a longer message
// cannot be checked whole.
constexpr qint64 MaxMessageSize = 64000;

// Whether the library is there and ready (set up once, the first time any
// thread asks); false when the library found at run time is older than the
// one the tool was built with.
bool ready();
// The library's version, for the words when it is not ready.
QString libraryVersion();

// Whether libgcrypt can take the public key at all. One whose number (the
// top bit aside) has its highest 64 bits zero makes libgcrypt 1.10 abort
// ("mulm_25519: different sizes"); no real key looks so.
bool keyUsable(const std::array<quint8, Ed25519KeySize> &key);

// Whether `signature` is `key`'s Ed25519 signature of the message; false for
// a key that is not usable and a message longer than MaxMessageSize.
bool ed25519Verifies(const std::array<quint8, Ed25519KeySize> &key,
                     const std::array<quint8, Ed25519SignatureSize> &signature,
                     const char *message,
                     size_t size);

std::array<quint8, Blake2b512Size> blake2b512(const QByteArray &bytes);

} // namespace Crypto
