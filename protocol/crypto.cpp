// Ed25519 and BLAKE2b-512 through libgcrypt.

#include "protocol/crypto.h"

#include <gcrypt.h>

namespace Crypto {

namespace {

// Releases an S-expression when it goes out of scope.
struct Sexp
{
    gcry_sexp_t value = nullptr;
    ~Sexp() { gcry_sexp_release(value); }
};

} // namespace

bool ready()
{
    // The library is set up once, whichever thread asks first; C++ makes the
    // first call wait for it. Only public keys are used: no secure memory.
    static const bool set = [] {
        if (!gcry_check_version(GCRYPT_VERSION))
            return false;
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
        return true;
    }();
    return set;
}

QString libraryVersion()
{
    return QStringLiteral("libgcrypt %1, built for %2")
        .arg(QString::fromLatin1(gcry_check_version(nullptr)), QStringLiteral(GCRYPT_VERSION));
}

bool keyUsable(const std::array<quint8, Ed25519KeySize> &key)
{
    constexpr int HighWord = Ed25519KeySize - 8; // little-endian: the last eight bytes
    constexpr quint8 SignBit = 0x80;
    for (int i = HighWord; i < Ed25519KeySize; ++i) {
        if ((i + 1 == Ed25519KeySize ? key[size_t(i)] & ~SignBit : key[size_t(i)]) != 0)
            return true;
    }
    return false;
}

bool ed25519Verifies(const std::array<quint8, Ed25519KeySize> &key,
                     const std::array<quint8, Ed25519SignatureSize> &signature,
                     const char *message,
                     size_t size)
{
    if (!ready() || !keyUsable(key) || size > size_t(MaxMessageSize))
        return false;
    constexpr int Half = Ed25519SignatureSize / 2; // R, then S
    Sexp publicKey;
    Sexp value;
    Sexp data;
    if (gcry_sexp_build(&publicKey.value,
                        nullptr,
                        "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        int(key.size()),
                        key.data())
        || gcry_sexp_build(&value.value,
                           nullptr,
                           "(sig-val (eddsa (r %b) (s %b)))",
                           Half,
                           signature.data(),
                           Half,
                           signature.data() + Half)
        || gcry_sexp_build(&data.value,
                           nullptr,
                           "(data (flags eddsa) (hash-algo sha512) (value %b))",
                           int(size),
                           message))
        return false;
    return gcry_pk_verify(value.value, data.value, publicKey.value) == 0;
}

std::array<quint8, Blake2b512Size> blake2b512(const QByteArray &bytes)
{
    std::array<quint8, Blake2b512Size> digest{};
    if (ready())
        gcry_md_hash_buffer(
            GCRY_MD_BLAKE2B_512, digest.data(), bytes.constData(), size_t(bytes.size()));
    return digest;
}

} // namespace Crypto
