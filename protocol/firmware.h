#pragma once

// Writing one image into the ticked devices, one after the other, in parts of
// 197 bytes. The device acknowledges each part by echoing its stage and part
// number; a part that is not acknowledged goes out again, and a device that
// lets a part go out six times is given up.

#include "registry/registry.h"

#include <QtGlobal>

#include <memory>

class QFile;

namespace FirmwareTransfer {

// Number of parts of an image of the given size (the last part may be short).
quint32 partsFor(quint32 imageSize);

// Whether the transfer can carry an image of this size to its end: it needs
// at least three parts, so that it has a first, a middle and a last stage,
// and no more parts than the 16-bit part number can count.
enum class ImageSize { Fits, Empty, TooSmall, TooLarge };
ImageSize checkImageSize(qint64 imageSize);

// The update pass keeps its own reference to the file object for its whole
// duration, whatever the flash button does meanwhile.
void beginPass(std::shared_ptr<QFile> file);
void endPass();

// The line is gone under the pass: the device being written, if any, is
// given up (it cannot be told so) and the pass ends. Devices not yet started
// keep their state.
void abandonPass();

// Writes stage, part number and part data behind the header at frame[10] and
// returns the body length. Reads a new part from the file when one is due,
// counts repeats otherwise, and gives the device up when a part has been
// repeated too often or the file fails.
quint16 composePart(quint8 *frame);

// Applies an acknowledgement (payload: stage echo, part number high, low)
// from the device being updated.
void acknowledge(quint8 stageEcho, quint16 partNumber);

} // namespace FirmwareTransfer
