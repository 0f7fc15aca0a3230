#pragma once

// The terminal tool's part of the benchmark.

namespace Bench {

// olvex-cli as a process: 64 KiB to one device at 9600 baud against the floor
// the window's update is measured against, then two processes on two lines
// at once against the time of the one alone.
int benchCli();

// olvex-cli through ser2net on the loopback: 64 KiB to one device, raw and
// with RFC 2217, against the same floor; then 16 lines side by side, each
// behind its own ser2net and written by its own olvex-cli, against the time
// of one line alone, with each process's CPU time and resident memory.
int benchNetwork();

// olvex-cli's 64 KiB update without and with --capture, each against the
// floor, and the capture's size per KiB of image.
int benchCapture();

} // namespace Bench
