#pragma once

// What a 9600-baud line allows for an update, the same for every front end:
// the 10-second start pause plus the wire time of every firmware frame and
// its acknowledgement, 10 bits a byte.

#include "devsim/simulator.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <vector>

class QTemporaryDir;

namespace Bench {

constexpr int Baud = 9600;

using Clock = std::chrono::steady_clock;
inline double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Writes an image of `size` bytes of a fixed pattern into `dir`; its path.
QString writeImage(const QTemporaryDir &dir, int size);

inline double wireMs(size_t bytes, int baud = Baud)
{
    return double(bytes) * 10.0 * 1000.0 / baud;
}

struct UpdateFloor
{
    double floorMs = 0;      // 10 s + wire time of every frame and answer
    double tightFloorMs = 0; // the first answer taken as inside the 10 s pause
};
UpdateFloor updateFloor(const std::vector<DevSim::HostFrame> &firmware);

// Prints the time measured against both floors.
void printFloors(double measuredMs, const UpdateFloor &floors);

} // namespace Bench
