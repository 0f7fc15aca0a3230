// Checking an image's minisign signature and reading what it says.

#include "protocol/signature.h"

#include "protocol/crypto.h"
#include "registry/devicetext.h"

#include <QList>

namespace ImageSignature {

namespace {

const QByteArray TypeKey = QByteArrayLiteral("type");
const QByteArray VersionKey = QByteArrayLiteral("version");

// Takes a fact's value; a second, different value makes it unclear.
void take(const QByteArray &key, const QByteArray &value, QString &into, Facts &facts)
{
    const QString text = QString::fromUtf8(value);
    if (!into.isEmpty() && into != text && facts.repeated.isEmpty())
        facts.repeated = QString::fromUtf8(key);
    if (into.isEmpty())
        into = text;
}

// Whether the key's signature and its signature of the trusted comment both
// verify. `message` is what minisign signed: the image or its hash.
bool verifies(const Minisign::PublicKey &key,
              const Minisign::Signature &signature,
              const QByteArray &message)
{
    if (!Crypto::ed25519Verifies(
            key.key, signature.signature, message.constData(), size_t(message.size())))
        return false;
    QByteArray global(reinterpret_cast<const char *>(signature.signature.data()),
                      int(signature.signature.size()));
    global += signature.trustedComment;
    return Crypto::ed25519Verifies(
        key.key, signature.globalSignature, global.constData(), size_t(global.size()));
}

} // namespace

Facts readFacts(const QByteArray &trustedComment)
{
    Facts facts;
    QByteArray spaced = trustedComment;
    spaced.replace('\t', ' ');
    const QList<QByteArray> words = spaced.split(' ');
    for (const QByteArray &word : words) {
        const int equals = word.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = word.left(equals);
        const QByteArray value = word.mid(equals + 1);
        if (value.isEmpty())
            continue;
        if (key == TypeKey)
            take(key, value, facts.typeName, facts);
        else if (key == VersionKey)
            take(key, value, facts.version, facts);
    }
    if (!facts.typeName.isEmpty())
        facts.type = DeviceText::typeNamed(facts.typeName);
    return facts;
}

Check check(const QByteArray &image,
            const QByteArray &signatureFile,
            const std::vector<TrustedKey> &keys)
{
    Check result;
    const Minisign::ReadSignature read = Minisign::readSignature(signatureFile);
    if (read.fault != Minisign::Fault::None) {
        result.state = State::Malformed;
        result.fault = read.fault;
        return result;
    }
    const Minisign::Signature &signature = read.signature;
    result.algorithm = signature.algorithm;
    result.keyId = signature.keyId;
    std::vector<const TrustedKey *> candidates;
    for (const TrustedKey &trusted : keys) {
        if (trusted.key.id == signature.keyId)
            candidates.push_back(&trusted);
    }
    if (candidates.empty()) {
        result.state = State::UnknownSigner;
        return result;
    }
    if (!Crypto::ready()) {
        result.state = State::CannotCheck;
        return result;
    }
    if (signature.algorithm == Minisign::Algorithm::Whole
        && image.size() > Crypto::MaxMessageSize) {
        result.state = State::WholeTooLarge;
        return result;
    }
    QByteArray message = image;
    if (signature.algorithm == Minisign::Algorithm::Hashed) {
        const auto hash = Crypto::blake2b512(image);
        message = QByteArray(reinterpret_cast<const char *>(hash.data()), int(hash.size()));
    }
    result.state = State::BadSignature;
    for (const TrustedKey *trusted : candidates) {
        if (verifies(trusted->key, signature, message)) {
            result.signer = *trusted;
            result.state = State::Signed;
            break;
        }
    }
    if (result.state != State::Signed)
        return result;
    result.trustedComment = QString::fromUtf8(signature.trustedComment);
    result.facts = readFacts(signature.trustedComment);
    if (!result.facts.repeated.isEmpty())
        result.state = State::UnclearFacts;
    else if (!result.facts.typeName.isEmpty() && result.facts.type == TypeUnknown)
        result.state = State::UnknownType;
    return result;
}

} // namespace ImageSignature
