#pragma once

// Whether a firmware image carries its maker's signature and what the maker
// signed about it. The signature is minisign's (protocol/minisign.h); it is
// checked on the image's bytes as they were loaded, with the keys this
// machine trusts. Here only bytes go in and a value comes out: reading the
// files is the image loading's (protocol/image.h), the words the front ends'.
//
// The signed facts stand in the trusted comment as space-separated
// key=value pairs; two are read, other keys are ignored:
//   type=NAME      the device type the image is for, as scan shows it
//                  ("VT-TALLY-8"); the tool must know it
//   version=TEXT   the firmware version it carries, as scan shows it ("2.8")
// minisign -S -t "type=VT-TALLY-8 version=2.8" -m IMAGE signs them.

#include "protocol/minisign.h"
#include "registry/device.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace ImageSignature {

// A public key this machine trusts, and the file it came from.
struct TrustedKey
{
    Minisign::PublicKey key;
    QString file;
};

struct Facts
{
    QString typeName;          // as signed; empty when the comment names no type
    qint32 type = TypeUnknown; // the type it names, TypeUnknown when none or not known
    QString version;           // as signed; empty when the comment names none
    QString repeated;          // a key given twice with two values: what it says is unclear
};

// The facts of a trusted comment (of a signature that verified: nothing else
// is to be believed).
Facts readFacts(const QByteArray &trustedComment);

enum class State {
    Unsigned,      // no signature came with the image
    Signed,        // a trusted key's signature of these very bytes
    Unreadable,    // the signature file cannot be read
    Malformed,     // it is no minisign signature (fault)
    UnknownSigner, // no trusted key has its key id
    BadSignature,  // a trusted key's id, yet the image or the trusted comment has changed
    UnknownType,   // verified, but signed for a device type the tool does not know
    UnclearFacts,  // verified, but a fact is signed twice with two values
    CannotCheck,   // the cryptography library cannot be used
    WholeTooLarge, // the whole file signed (minisign -l), and larger than can be checked so
};

struct Check
{
    State state = State::Unsigned;
    QString path;                                  // the signature file
    Minisign::Fault fault = Minisign::Fault::None; // Malformed
    bool missing = false;                          // Unreadable: no such file
    bool tooLarge = false;                         // Unreadable: larger than any signature
    Minisign::Algorithm algorithm = Minisign::Algorithm::Hashed;
    Minisign::KeyId keyId{}; // from UnknownSigner on
    // From Signed on: the key that verified it, what it signed.
    TrustedKey signer;
    QString trustedComment;
    Facts facts;

    // Whether the image must not be written: anything but no signature or a
    // good one.
    bool refused() const { return state != State::Unsigned && state != State::Signed; }
};

// Checks a signature file's bytes against the image's bytes.
Check check(const QByteArray &image,
            const QByteArray &signatureFile,
            const std::vector<TrustedKey> &keys);

} // namespace ImageSignature
