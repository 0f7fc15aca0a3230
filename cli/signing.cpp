// olvex-cli's words and JSON for signed images.

#include "cli/signing.h"

#include "cli/cli.h"
#include "protocol/crypto.h"
#include "registry/devicetext.h"

#include <QDir>
#include <QJsonValue>

namespace Cli {

namespace {

using ImageSignature::State;
using Minisign::Fault;

QString faultText(Fault fault)
{
    switch (fault) {
    case Fault::TooLarge:
        return QStringLiteral("far too large");
    case Fault::MissingLine:
        return QStringLiteral("a line is missing");
    case Fault::NoCommentPrefix:
        return QStringLiteral("the first line is no 'untrusted comment: '");
    case Fault::CommentTooLong:
        return QStringLiteral("the untrusted comment is too long");
    case Fault::BadBase64:
        return QStringLiteral("a key or signature line is not base64");
    case Fault::WrongLength:
        return QStringLiteral("a key or signature line has the wrong length");
    case Fault::UnknownAlgorithm:
        return QStringLiteral("the algorithm is neither Ed nor ED");
    case Fault::NoTrustedCommentPrefix:
        return QStringLiteral("the third line is no 'trusted comment: '");
    case Fault::TrustedCommentTooLong:
        return QStringLiteral("the trusted comment is too long");
    case Fault::Unprintable:
        return QStringLiteral("a comment holds control characters or is not UTF-8");
    case Fault::None:
        break;
    }
    return QString();
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString unreadable(const ImageSignature::Check &check)
{
    if (check.missing)
        return QStringLiteral("no such signature file %1").arg(native(check.path));
    if (check.tooLarge)
        return QStringLiteral("its signature file %1 is far too large to be one")
            .arg(native(check.path));
    return QStringLiteral("its signature file %1 cannot be read (not a readable regular file)")
        .arg(native(check.path));
}

QString keyText(const ImageSignature::TrustedKey &key)
{
    const QString id = Minisign::keyIdText(key.key.id);
    return key.key.comment.isEmpty() ? id : QStringLiteral("%1 (%2)").arg(id, key.key.comment);
}

// Why a key was left out.
QString keyProblemText(const TrustedKeys::Problem &problem)
{
    const QString path = native(problem.path);
    switch (problem.trouble) {
    case TrustedKeys::Trouble::WritableByOthers:
        return QStringLiteral(
                   "%1 can be written by users other than root: its keys are not trusted")
            .arg(path);
    case TrustedKeys::Trouble::Unreadable:
        return QStringLiteral("%1 cannot be read: its keys are not trusted").arg(path);
    case TrustedKeys::Trouble::Unusable:
        return QStringLiteral("%1 holds no usable Ed25519 public key").arg(path);
    case TrustedKeys::Trouble::Malformed:
        break;
    }
    return QStringLiteral("%1 is no minisign public key (%2)").arg(path, faultText(problem.fault));
}

// The refusal as the JSON document's reason.
QString reasonToken(State state)
{
    switch (state) {
    case State::Unreadable:
        return QStringLiteral("unreadable");
    case State::Malformed:
        return QStringLiteral("malformed");
    case State::UnknownSigner:
        return QStringLiteral("unknown signer");
    case State::BadSignature:
        return QStringLiteral("bad signature");
    case State::UnknownType:
        return QStringLiteral("unknown type");
    case State::UnclearFacts:
        return QStringLiteral("unclear facts");
    case State::CannotCheck:
        return QStringLiteral("cannot check");
    case State::WholeTooLarge:
        return QStringLiteral("signed whole, too large");
    case State::Unsigned:
    case State::Signed:
        break;
    }
    return QString();
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QString signatureRefusal(const ImageSignature::Check &check, const QString &image)
{
    QString why;
    switch (check.state) {
    case State::Unreadable:
        why = unreadable(check);
        break;
    case State::Malformed:
        why = QStringLiteral("its signature file %1 is no minisign signature (%2)")
                  .arg(native(check.path), faultText(check.fault));
        break;
    case State::UnknownSigner:
        why = QStringLiteral("signed by unknown key %1 (trusted public keys go in %2 as *.pub "
                             "files, or come with --trusted-key FILE; an image without a "
                             "signature is written unchecked)")
                  .arg(Minisign::keyIdText(check.keyId), native(TrustedKeys::folder()));
        break;
    case State::BadSignature:
        why = QStringLiteral("its signature does not verify with key %1: the image or the "
                             "signature was changed after signing")
                  .arg(Minisign::keyIdText(check.keyId));
        break;
    case State::UnknownType:
        why = QStringLiteral("signed for device type '%1', which this tool does not know (%2)")
                  .arg(check.facts.typeName, DeviceText::knownModels().join(QStringLiteral(", ")));
        break;
    case State::UnclearFacts:
        why = QStringLiteral("its signature gives '%1' twice, with different values")
                  .arg(check.facts.repeated);
        break;
    case State::CannotCheck:
        why = QStringLiteral("its signature cannot be checked here (%1)")
                  .arg(Crypto::libraryVersion());
        break;
    case State::WholeTooLarge:
        why = QStringLiteral("it is signed whole (minisign -l), which can be checked only for "
                             "images of up to %1 bytes; sign it with minisign's default instead")
                  .arg(Crypto::MaxMessageSize);
        break;
    case State::Unsigned:
    case State::Signed:
        break;
    }
    return QStringLiteral("image refused, %1: %2").arg(why, image);
}

QString signatureSummary(const ImageSignature::Check &check)
{
    if (check.state != State::Signed)
        return QStringLiteral("not signed");
    QString text = QStringLiteral("signed by key ") + keyText(check.signer);
    if (check.facts.type != TypeUnknown)
        text += QStringLiteral(", for ") + DeviceText::model(check.facts.type);
    if (!check.facts.version.isEmpty())
        text += QStringLiteral(", version ") + check.facts.version;
    return text;
}

QJsonObject signatureJson(const ImageSignature::Check &check)
{
    if (check.state == State::Unsigned)
        return {{QStringLiteral("state"), QStringLiteral("unsigned")}};
    const bool good = check.state == State::Signed;
    QJsonObject json{
        {QStringLiteral("state"), good ? QStringLiteral("signed") : QStringLiteral("refused")},
        {QStringLiteral("file"), native(check.path)}};
    if (!good)
        json.insert(QStringLiteral("reason"), reasonToken(check.state));
    if (check.state == State::Unreadable || check.state == State::Malformed)
        return json;
    json.insert(QStringLiteral("keyId"), Minisign::keyIdText(check.keyId));
    json.insert(QStringLiteral("algorithm"),
                check.algorithm == Minisign::Algorithm::Hashed ? QStringLiteral("ED")
                                                               : QStringLiteral("Ed"));
    // What the signature says is believed only once it has verified.
    if (!good && check.state != State::UnknownType && check.state != State::UnclearFacts)
        return json;
    json.insert(QStringLiteral("keyFile"), native(check.signer.file));
    json.insert(QStringLiteral("keyComment"), check.signer.key.comment);
    json.insert(QStringLiteral("trustedComment"), check.trustedComment);
    json.insert(QStringLiteral("type"),
                orNull(check.facts.type != TypeUnknown ? DeviceText::model(check.facts.type)
                                                       : check.facts.typeName));
    json.insert(QStringLiteral("typeCode"), int(check.facts.type));
    json.insert(QStringLiteral("version"), orNull(check.facts.version));
    return json;
}

int reportKeyProblems(Job &job, const std::vector<TrustedKeys::Problem> &problems)
{
    for (const TrustedKeys::Problem &problem : problems) {
        if (problem.named)
            return job.fail(ExitUsage, QStringLiteral("--trusted-key ") + keyProblemText(problem));
    }
    for (const TrustedKeys::Problem &problem : problems)
        job.console.err.write(Program + keyProblemText(problem) + QLatin1Char('\n'));
    return ExitOk;
}

} // namespace Cli
