#pragma once

// Which devices a flash writes: those the operator named (or all), of the
// type asked for, not yet at the image's version when asked, and all of one
// type. Decided on the list the search left,
// before anything is written.

#include "cli/job.h"
#include "cli/report.h"
#include "registry/device.h"

#include <QString>

#include <optional>
#include <vector>

namespace Cli {

// What the image is for: the type --type or its signature names, and with
// --skip-current the signed version a device needs no more.
struct Wanted
{
    std::optional<qint32> type;
    QString current;
};

struct Selection
{
    int status = 0;          // ExitOk, or why nothing is written
    std::vector<int> chosen; // list positions to write
    // Per list position: left alone for being of another type (--all) or
    // at the version already.
    std::vector<LeftAlone> leftAlone;
};

// Chooses, ticks the chosen devices in the list (and unticks the others),
// and says what is wrong when the choice cannot be written.
Selection chooseDevices(Job &job, const std::vector<DeviceRecord> &devices, const Wanted &wanted);

} // namespace Cli
