#pragma once

// The commands of olvex-cli.

#include "cli/console.h"
#include "cli/options.h"

namespace Cli {

int listPorts(const Options &options, Console &console);
int scan(const Options &options, Console &console);
int flash(const Options &options, Console &console);
int checkImage(const Options &options, Console &console);

} // namespace Cli
