#pragma once

// The two files of minisign, the signing tool makers and integrators use:
// a public key file and a signature file (IMAGE.minisig). Readers only, on
// bytes: they neither open files nor check signatures. A file that is not
// exactly what minisign writes is a fault, never a guess.
//
// Public key file:
//   untrusted comment: <text>
//   base64("Ed" || key id (8) || Ed25519 public key (32))
// Signature file:
//   untrusted comment: <text>
//   base64(algorithm (2) || key id (8) || Ed25519 signature (64))
//   trusted comment: <text>
//   base64(Ed25519 signature (64) over the signature above and <text>)
// The algorithm is "ED" (the file's BLAKE2b-512 hash signed, minisign's
// default) or "Ed" (the whole file signed, `minisign -l`).

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

namespace Minisign {

constexpr int KeyIdSize = 8;
constexpr int PublicKeySize = 32;
constexpr int SignatureSize = 64;
// minisign's own limits: an untrusted comment line, and the trusted comment
// line with its prefix.
constexpr int MaxCommentLine = 1024;
constexpr int MaxTrustedCommentLine = 8192;
// Larger files are no key or signature: they are refused before they are read.
constexpr qint64 MaxKeyFileBytes = 4096;
constexpr qint64 MaxSignatureFileBytes = 16384;

using KeyId = std::array<quint8, KeyIdSize>;
using PublicKeyBytes = std::array<quint8, PublicKeySize>;
using SignatureBytes = std::array<quint8, SignatureSize>;

// As minisign prints a key id: 16 upper-case hex digits, "3577D66E79F5B7E3".
QString keyIdText(const KeyId &id);

enum class Algorithm { Hashed, Whole }; // "ED", "Ed"

// What is wrong with a key or signature file.
enum class Fault {
    None,
    TooLarge,               // more than the file can hold
    MissingLine,            // a line is missing
    NoCommentPrefix,        // the first line is no "untrusted comment: "
    CommentTooLong,         // the untrusted comment is longer than minisign allows
    BadBase64,              // a key or signature line is no base64
    WrongLength,            // it decodes to the wrong number of bytes
    UnknownAlgorithm,       // neither "Ed" nor "ED"
    NoTrustedCommentPrefix, // the third line is no "trusted comment: "
    TrustedCommentTooLong,
    Unprintable, // a comment holds control characters or is no UTF-8
};

struct PublicKey
{
    KeyId id{};
    PublicKeyBytes key{};
    QString comment; // the untrusted comment, as text
};

struct Signature
{
    Algorithm algorithm = Algorithm::Hashed;
    KeyId keyId{};
    SignatureBytes signature{};
    QByteArray trustedComment; // exactly the bytes the global signature covers
    SignatureBytes globalSignature{};
};

struct ReadKey
{
    Fault fault = Fault::None;
    PublicKey key; // when there is no fault
};

struct ReadSignature
{
    Fault fault = Fault::None;
    Signature signature; // when there is no fault
};

ReadKey readPublicKey(const QByteArray &file);
ReadSignature readSignature(const QByteArray &file);

} // namespace Minisign
