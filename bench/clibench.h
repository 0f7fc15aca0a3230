#pragma once

// The terminal tool's part of the benchmark.

namespace Bench {

// olvex-cli as a process: 64 KiB to one device at 9600 baud against the floor
// the window's update is measured against, then two processes on two lines
// at once against the time of the one alone.
int benchCli();

} // namespace Bench
