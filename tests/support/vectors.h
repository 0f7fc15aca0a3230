#pragma once

// Device frames written out by hand, their checksums worked out apart from
// the product's code, so that an error in the frame code cannot hide behind
// itself. Device A is 01 02 03 04 05 06 07 08, device B 00 1A 2B 3C 4D 5E 6F 70.

#include "support/fixtures.h"

namespace Vectors {

inline const std::vector<quint8> SearchA = hex("01 02 03 04 05 06 07 08 5E 0A AF"); // kind 10
inline const std::vector<quint8> SearchB = hex("00 1A 2B 3C 4D 5E 6F 70 5E 00 A6"); // kind 0
inline const std::vector<quint8> VersionA = hex("01 02 03 04 05 06 07 08 54 03 02 05 CD");
inline const std::vector<quint8> AckA = hex("01 02 03 04 05 06 07 08 54 32 01 00 01 B5");
inline const std::vector<quint8> ErrorA = hex("01 02 03 04 05 06 07 08 D4 32 05 00 00 00 2D");
inline const std::vector<quint8> ErrorB = hex("00 1A 2B 3C 4D 5E 6F 70 DE 00 FF FF FF FF C7");
// Block 25 with two payload bytes: an answer whose header does not tell its length.
inline const std::vector<quint8> Unknown = hex("01 02 03 04 05 06 07 08 59 04 09 09 AA");
inline const std::vector<quint8> BadSearchB = hex("00 1A 2B 3C 4D 5E 6F 70 5E 00 A7");

} // namespace Vectors
