#pragma once

// All devices of one update pass must be of one type. The first ticked
// device of a known type sets it; ticked devices of unknown type before that
// one pass, any other type after it, unknown included, conflicts.

#include "registry/device.h"

#include <optional>
#include <vector>

namespace TypeRule {

// Positions in the list.
struct Conflict
{
    int first = -1; // the device that set the type
    int other = -1; // the first ticked device of another type
};

std::optional<Conflict> findConflict(const std::vector<DeviceRecord> &devices);

} // namespace TypeRule
