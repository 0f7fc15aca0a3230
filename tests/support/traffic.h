#pragma once

// What the host put on a simulated line, sorted by kind: the one rule of the
// tests and the benchmark for what a firmware frame is, and the counts of each
// kind of frame.

#include "devsim/simulator.h"
#include "serial/pcapng.h"

#include <QByteArray>

#include <array>
#include <map>
#include <utility>
#include <vector>

// A valid host request of the firmware command that carries at least its
// stage and part number.
bool isFirmwareFrame(const DevSim::HostFrame &frame);

// Every firmware frame, to any device, as the simulator stamped it.
std::vector<DevSim::HostFrame> firmwareFrames(const DevSim::Simulator &sim);

// The firmware frames sent to one device, whole (checksum included).
std::vector<std::vector<quint8>> firmwareFrameBytesTo(const DevSim::Simulator &sim,
                                                      const std::array<quint8, 8> &id);
// The same frames as (stage, part), in order.
std::vector<std::pair<int, int>> firmwareFramesTo(const DevSim::Simulator &sim,
                                                  const std::array<quint8, 8> &id);

struct Traffic
{
    int searches = 0;
    int silentSearches = 0; // search requests no confirmation followed
    int confirmations = 0;
    int queries = 0;
    int firmware = 0;
};
Traffic trafficOn(const DevSim::Simulator &sim);

// The image the host's firmware frames in a capture carry to each device,
// by the six bytes of its address as scan shows them ("00:1a:..."), each
// part once, in part order; decoded by hand, apart from the product's frame
// code.
std::map<QByteArray, QByteArray> imagesCarried(const Pcapng::Capture &capture);
