#pragma once

// Chooses, once per pass of the worker loop, whether a request is due and
// which: it fills in TargetId, CmdBlock and CmdNumber and returns 1, or
// returns 0 when nothing is to be sent. It also moves WorkMode along
// search -> inventory -> idle and idle -> update -> idle, and tells the main
// window when a search, an inventory or an update has ended. It only
// decides: every wait is the worker's.

#include "serial/jobend.h"

#include <optional>

// A mode with requests to make is set (search, inventory or update); in any
// other the worker waits for work.
bool hasWork();

// The next request, or 0. When this call ends a job (the inventory after a
// search, or an update pass), `ended` says how.
int nextRequest(std::optional<JobEnd> *ended = nullptr);

// The idle worker's look for work, after each idle wait: a flash request that
// came meanwhile switches to the update.
void takeUpFlashRequest();
