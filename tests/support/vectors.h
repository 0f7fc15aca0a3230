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
inline const std::vector<quint8> AckA2 = hex("01 02 03 04 05 06 07 08 54 32 02 00 02 B3");
inline const std::vector<quint8> AckA3 = hex("01 02 03 04 05 06 07 08 54 32 02 00 03 ED");
// An error report whose code (0x00020002) has the bytes of AckA2's payload.
inline const std::vector<quint8> ErrorLikeAckA2 = hex("01 02 03 04 05 06 07 08 D4 32 02 00 02 00 3A");

// Frames the host sends.
inline const std::vector<quint8> HostSearchFirst = hex("FF FF FF FF FF FF FF FF 1E 01 68");
inline const std::vector<quint8> HostSearchNext = hex("FF FF FF FF FF FF FF FF 1E 00 36");
inline const std::vector<quint8> HostVersionA = hex("01 02 03 04 05 06 07 08 14 03 4F");
// The confirmation of A's search answer: the very bytes of that answer.
inline const std::vector<quint8> HostConfirmA = SearchA;
// The last part, number 2, of a tiny image: AA BB CC.
inline const std::vector<quint8> HostLastPartA
    = hex("01 02 03 04 05 06 07 08 14 32 03 00 02 AA BB CC F2");

} // namespace Vectors
