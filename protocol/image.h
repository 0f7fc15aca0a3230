#pragma once

// The firmware image the operator chose: how large an image the transfer can
// carry, how it is read, and why one is refused. Every front end reads its
// image here, so the window and the terminal tool refuse the same files.

#include "protocol/frame.h"
#include "registry/imageslot.h"

#include <QString>
#include <QtGlobal>

#include <memory>

namespace ImageFile {

// The part number is 16 bits wide on the line.
constexpr quint32 MaxParts = 65535;
constexpr qint64 MaxBytes = qint64(MaxParts) * Cpd::PartSize;
// An image of this size or less has fewer than three parts, so it never
// passes through the first, the middle and the last stage of a transfer.
constexpr qint64 TooSmallBytes = 2 * Cpd::PartSize;

// Number of parts of an image of the given size (the last part may be short).
quint32 partsFor(quint32 imageSize);

enum class Problem { None, Missing, Unreadable, Empty, TooSmall, TooLarge };

struct Loaded
{
    Problem problem = Problem::None;
    std::shared_ptr<const FirmwareImage> image; // set when there is no problem
};

// Reads the image, all of it, once: every device of the pass gets these
// bytes whatever happens to the file afterwards. Only a regular file is read,
// nothing here waits on the file (a FIFO, a device node) for data to come,
// and a file too large is refused before anything is read.
Loaded load(const QString &path);

} // namespace ImageFile
