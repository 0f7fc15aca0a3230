#pragma once

// The benchmark's part for signed images.

namespace Bench {

// Checking the signature of a 64 KiB and of the largest image the protocol
// carries (65535 parts), and of the largest image signed whole (minisign -l)
// that can be checked, against the time an update of that image takes at
// least at 9600 baud.
int benchSignature();

} // namespace Bench
