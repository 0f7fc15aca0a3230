#pragma once

// The simulated line of the demo: the simulator's sample devices, paced fast
// enough that an image of a few hundred kilobytes goes through in well under a
// minute, slow enough to watch the progress.

#include "devsim/simulator.h"

constexpr int DemoBaud = 115200;
