#pragma once

// The simulated line of the demo: devices of different kinds and versions,
// one of them in its boot loader.

#include "devsim/simulator.h"

#include <vector>

inline std::vector<DevSim::DeviceConfig> demoDevices()
{
    static const char *const descriptions[] = {
        "id=00:1a:2b:3c:4d:5e:00:01,kind=tally8,version=2.7",
        "id=00:1a:2b:3c:4d:5f:00:02,kind=tally8,version=2.5",
        "id=00:1a:2b:3c:4d:60:00:03,kind=tally16,version=1.12",
        "id=00:1a:2b:3c:4d:61:00:04,kind=probe,version=3.0,boot",
    };
    std::vector<DevSim::DeviceConfig> devices;
    for (const char *description : descriptions) {
        DevSim::DeviceConfig config;
        std::string error;
        if (DevSim::parseDevice(description, &config, &error))
            devices.push_back(config);
    }
    return devices;
}

// Pace of the demo line: fast enough that an image of a few hundred kilobytes
// goes through in well under a minute, slow enough to watch the progress.
constexpr int DemoBaud = 115200;
