#pragma once

// Writing one image into the ticked devices, one after the other, in parts of
// 197 bytes. The device acknowledges each part by echoing its stage and part
// number; a part that is not acknowledged goes out again, and a device that
// lets a part go out six times is given up.

#include "registry/registry.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

namespace FirmwareTransfer {

// Number of parts of an image of the given size (the last part may be short).
quint32 partsFor(quint32 imageSize);

// Reads the image the operator chose, all of it, once: every device of the
// pass gets these bytes whatever happens to the file afterwards. Only a
// regular file is read, and nothing here can wait on the file (a FIFO, a
// device node) for its data to come.
enum class ImageProblem { None, Missing, Unreadable, Empty, TooSmall, TooLarge };

// Whether the transfer can carry an image of this size to its end: it needs
// at least three parts, so that it has a first, a middle and a last stage,
// and no more parts than the 16-bit part number can count. None when it can.
ImageProblem checkImageSize(qint64 imageSize);

struct LoadedImage
{
    ImageProblem problem = ImageProblem::None;
    std::shared_ptr<const FirmwareImage> image; // set when there is no problem
};
LoadedImage loadImage(const QString &path);

// All devices of a pass must be of one type. The first ticked device of a
// known type sets it; ticked devices of unknown type before that one pass,
// any other type after it, unknown included, conflicts. Positions in the list.
struct TypeConflict
{
    int first = -1; // the device that set the type
    int other = -1; // the first ticked device of another type
};
std::optional<TypeConflict> findTypeConflict(const std::vector<DeviceRecord> &devices);

// Hands the image to the worker and asks for an update pass over the ticked
// devices; the idle worker takes it up at its next poll.
void requestPass(std::shared_ptr<const FirmwareImage> image);

// The update pass keeps its own reference to the image for its whole
// duration, whatever the flash button does meanwhile.
void beginPass(std::shared_ptr<const FirmwareImage> image);
void endPass();

// Sets up the frame that gives the device being written up (stage 0, the
// part in hand), exactly as after too many repeats: the next composePart()
// writes it. For when the update must stop at once (the window closes).
// False when no such frame is due (no device is being written).
bool giveUpNow();

// The line is gone under the pass: the device being written, if any, is
// given up (it cannot be told so) and the pass ends. Devices not yet started
// keep their state.
void abandonPass();

// Writes stage, part number and part data behind the header at frame[10] and
// returns the body length. Takes a new part from the image when one is due,
// counts repeats otherwise, and gives the device up when a part has been
// repeated too often.
quint16 composePart(quint8 *frame);

// Applies an acknowledgement (payload: stage echo, part number high, low)
// from the device being updated.
void acknowledge(quint8 stageEcho, quint16 partNumber);

} // namespace FirmwareTransfer
