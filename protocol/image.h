#pragma once

// The firmware image the operator chose: how large an image the transfer can
// carry, how it is read, and why one is refused. Every front end reads its
// image here, so the window and the terminal tool refuse the same files.

#include "protocol/frame.h"
#include "protocol/signature.h"
#include "protocol/trustedkeys.h"
#include "registry/imageslot.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <vector>

namespace ImageFile {

// The part number is 16 bits wide on the line.
constexpr quint32 MaxParts = 65535;
constexpr qint64 MaxBytes = qint64(MaxParts) * Cpd::PartSize;
// An image of this size or less has fewer than three parts, so it never
// passes through the first, the middle and the last stage of a transfer.
constexpr qint64 TooSmallBytes = 2 * Cpd::PartSize;

// Number of parts of an image of the given size (the last part may be short).
quint32 partsFor(quint32 imageSize);

// Signature: it came with a signature that refuses it (Loaded::signature says why).
enum class Problem { None, Missing, Unreadable, Empty, TooSmall, TooLarge, Signature };

// Where an image's signature and the keys to check it come from. As it
// stands, the window's: IMAGE.minisig beside the image if it is there, and
// the keys of this machine's key folder.
struct Trust
{
    QString signature;    // the signature file, which must then be there
    QStringList keyFiles; // keys trusted besides the key folder's
};

// IMAGE.minisig, where minisign puts an image's signature.
QString signatureBeside(const QString &imagePath);

struct Loaded
{
    Problem problem = Problem::None;
    std::shared_ptr<const FirmwareImage> image; // set when there is no problem
    ImageSignature::Check signature;            // Unsigned when none came with it
    // Keys left out, read only when there was a signature to check.
    std::vector<TrustedKeys::Problem> keyProblems;
};

// Reads the image, all of it, once: every device of the pass gets these
// bytes whatever happens to the file afterwards. Only a regular file is read,
// nothing here waits on the file (a FIFO, a device node) for data to come,
// and a file too large is refused before anything is read. A signature that
// came with it is checked on these very bytes; one that does not verify, of
// an unknown signer or for an unknown device type refuses the image.
Loaded load(const QString &path, const Trust &trust = {});

} // namespace ImageFile
