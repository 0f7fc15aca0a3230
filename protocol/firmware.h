#pragma once

// Writing one image into the ticked devices, one after the other, in parts of
// 197 bytes. The device acknowledges each part by echoing its stage and part
// number; a part that is not acknowledged goes out again, and a device that
// lets a part go out six times is given up.

#include "registry/registry.h"

#include <QtGlobal>

#include <memory>

namespace FirmwareTransfer {

// Repeats of one part before the device is given up: the sixth transmission
// of a part is the one that tells the device so (stage byte 0).
constexpr quint8 MaxRepeats = 4;

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

// An acknowledgement payload (stage echo, part number) of a part of the
// device being written that was acknowledged already: a late copy (the
// device or a repeater on the line sent it twice). It moves nothing and
// never makes the part in hand go out again.
bool isLateCopy(const quint8 *payload, size_t length);

// The device being updated answered with an error report: the part goes out
// again, and if the device is given up, this is why.
void errorReported(qint32 code);

} // namespace FirmwareTransfer
