// Fuzz target: anything at all as a minisign signature file or public key
// file, read and, for a signature, checked against a fixed image with a fixed
// trusted key (the seeds in corpus-signature are that key's signatures, so
// mutations reach the cryptography too).
//
// Input: byte 0 even: the rest is a signature file; odd: a public key file.
// A file taken must hold what the format allows and nothing else, and a
// check must never believe a signature it could not verify.

#include "protocol/minisign.h"
#include "protocol/signature.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

// A public key made with minisign for this target; its secret half is gone.
const QByteArray TrustedKeyFile
    = QByteArrayLiteral("untrusted comment: minisign public key 5F24012E0D1E4661\n"
                        "RWRhRh4NLgEkXzF7jAbCfPyvYhdfQmcGTsz67oA9QtErymMfnbY79Ut6\n");
const QByteArray Image = QByteArrayLiteral("firmware");

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool oneLine(const QByteArray &bytes)
{
    return !bytes.contains('\n') && !bytes.contains('\r');
}

void fuzzSignature(const QByteArray &file)
{
    const Minisign::ReadSignature read = Minisign::readSignature(file);
    if (read.fault == Minisign::Fault::None) {
        require(file.size() <= Minisign::MaxSignatureFileBytes);
        require(oneLine(read.signature.trustedComment));
        require(read.signature.trustedComment.size() < Minisign::MaxTrustedCommentLine);
    }
    static const Minisign::ReadKey key = Minisign::readPublicKey(TrustedKeyFile);
    require(key.fault == Minisign::Fault::None);
    const ImageSignature::Check check = ImageSignature::check(Image, file, {{key.key, {}}});
    using ImageSignature::State;
    require((check.state == State::Malformed) == (read.fault != Minisign::Fault::None));
    if (check.state == State::Signed) {
        require(check.facts.typeName.isEmpty() || check.facts.type != TypeUnknown);
        require(check.facts.repeated.isEmpty());
        require(check.trustedComment == QString::fromUtf8(read.signature.trustedComment));
    } else {
        require(check.trustedComment.isEmpty() || check.state == State::UnknownType
                || check.state == State::UnclearFacts);
    }
}

// A signature of Image by the trusted key above (minisign's default).
const QByteArray SignatureFile = QByteArrayLiteral(
    "untrusted comment: signature from minisign secret key\n"
    "RURhRh4NLgEkXzhL6FMX3DnapvkiGm1u/aw0wShRS3qszQmoyt2AVMR5SVwlVfRHksBCRAe4HGm8FJNBYGObYeVC5DUJ"
    "WQ29NwE=\n"
    "trusted comment: type=VT-TALLY-8 version=2.8\n"
    "NYdbxDIafyZhC9YUy6oYXRjyV5mBZFYzyFVuWVWGOjhCCHNXBcZo3etKusHeaUYIt8L99mksPWBi85tX8FKeAQ==\n");

void fuzzKey(const QByteArray &file)
{
    const Minisign::ReadKey read = Minisign::readPublicKey(file);
    if (read.fault != Minisign::Fault::None)
        return;
    require(file.size() <= Minisign::MaxKeyFileBytes);
    require(!read.key.comment.contains(QLatin1Char('\n')));
    // Any key read goes to the cryptography as the key folder's would:
    // only the trusted key itself verifies the signature.
    static const Minisign::ReadKey trusted = Minisign::readPublicKey(TrustedKeyFile);
    const ImageSignature::Check check
        = ImageSignature::check(Image, SignatureFile, {{read.key, {}}});
    using ImageSignature::State;
    const bool same = read.key.id == trusted.key.id && read.key.key == trusted.key.key;
    require((check.state == State::Signed) == same);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray file(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if ((data[0] & 1) == 0)
        fuzzSignature(file);
    else
        fuzzKey(file);
    return 0;
}
