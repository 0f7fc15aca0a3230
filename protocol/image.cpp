// Reading and checking the firmware image.

#include "protocol/image.h"

#include "protocol/regularfile.h"

#include <QFileInfo>

namespace ImageFile {

quint32 partsFor(quint32 size)
{
    return size / Cpd::PartSize + (size % Cpd::PartSize != 0 ? 1 : 0);
}

QString signatureBeside(const QString &imagePath)
{
    return imagePath + QStringLiteral(".minisig");
}

namespace {

// Whether the transfer can carry an image of this size to its end.
Problem checkSize(qint64 size)
{
    if (size <= 0)
        return Problem::Empty;
    if (size <= TooSmallBytes)
        return Problem::TooSmall;
    if (size > MaxBytes)
        return Problem::TooLarge;
    return Problem::None;
}

// The signature that came with the image, checked on its bytes. Without one
// (and none named) the image is unsigned, and no key is read.
void checkSignature(const QByteArray &bytes,
                    const QString &path,
                    const Trust &trust,
                    Loaded &result)
{
    ImageSignature::Check &check = result.signature;
    check.path = trust.signature.isEmpty() ? signatureBeside(path) : trust.signature;
    if (trust.signature.isEmpty() && !QFileInfo::exists(check.path))
        return;
    QByteArray signature;
    const FileRead read = readRegularFile(check.path, Minisign::MaxSignatureFileBytes, signature);
    if (read != FileRead::Read) {
        check.state = ImageSignature::State::Unreadable;
        check.missing = read == FileRead::Missing;
        check.tooLarge = read == FileRead::TooLarge;
        return;
    }
    TrustedKeys::Found keys = TrustedKeys::load(trust.keyFiles);
    result.keyProblems = std::move(keys.problems);
    const QString signaturePath = check.path;
    check = ImageSignature::check(bytes, signature, keys.keys);
    check.path = signaturePath;
}

} // namespace

Loaded load(const QString &path, const Trust &trust)
{
    Loaded result;
    QByteArray bytes;
    switch (readRegularFile(path, MaxBytes, bytes)) {
    case FileRead::Missing:
        result.problem = Problem::Missing;
        return result;
    case FileRead::Unreadable:
        result.problem = Problem::Unreadable;
        return result;
    case FileRead::TooLarge:
        result.problem = Problem::TooLarge;
        return result;
    case FileRead::Read:
        break;
    }
    result.problem = checkSize(bytes.size());
    if (result.problem != Problem::None)
        return result;
    checkSignature(bytes, path, trust, result);
    if (result.signature.refused())
        result.problem = Problem::Signature;
    else
        result.image = std::make_shared<const FirmwareImage>(FirmwareImage{bytes});
    return result;
}

} // namespace ImageFile
