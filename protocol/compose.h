#pragma once

// Composing the frames the host sends.

#include <QtGlobal>

// Writes the body of the next frame (without checksum) at the start of the
// buffer, addressed with TargetId, CmdBlock and CmdNumber, and returns its
// length. While an update runs the body carries the firmware part.
quint16 composeFrame(quint8 *buffer, int type);
