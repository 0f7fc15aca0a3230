#pragma once

// Which devices a flash writes: those the operator named (or all), of the
// type asked for, and all of one type. Decided on the list the search left,
// before anything is written.

#include "cli/job.h"
#include "registry/device.h"

#include <vector>

namespace Cli {

struct Selection
{
    int status = 0;             // ExitOk, or why nothing is written
    std::vector<int> chosen;    // list positions to write
    std::vector<bool> otherType; // left alone for being of another type (--type --all)
};

// Chooses, ticks the chosen devices in the list (and unticks the others),
// and says what is wrong when the choice cannot be written.
Selection chooseDevices(Job &job, const std::vector<DeviceRecord> &devices);

} // namespace Cli
