#pragma once

// olvex-cli: the search and the firmware update from a terminal, on the same
// line core as the window. run() is all of it but the process set-up, so the
// tests call it in-process.

#include "cli/console.h"

#include <QStringList>

namespace Cli {

// The exit statuses; --help and the README list them.
enum Exit : int {
    ExitOk = 0,          // every selected device updated, or the scan found devices
    ExitFailed = 1,      // some device failed
    ExitUsage = 2,       // usage error, refused image, devices of different types
    ExitPort = 3,        // the port cannot be opened or was lost
    ExitNotFound = 4,    // no devices found, or a named device not found
    ExitSignalBase = 128 // interrupted: 128 + the signal, 130 for Ctrl-C
};

// Needs a QCoreApplication, and SIGINT and SIGTERM blocked in every thread
// (blockInterruptSignals() in cli/interrupts.h, first thing). arguments[0] is
// the program.
int run(const QStringList &arguments, Console &console);

} // namespace Cli
