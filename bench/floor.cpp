#include "bench/floor.h"

#include "protocol/frame.h"

namespace Bench {

std::vector<DevSim::HostFrame> firmwareFrames(const DevSim::Simulator &sim)
{
    std::vector<DevSim::HostFrame> firmware;
    for (const DevSim::HostFrame &f : sim.hostFrames()) {
        if (f.valid && f.bytes.size() >= AckBytes
            && Cpd::unpackCommand(f.bytes.data()).number == Cpd::NumberFirmware)
            firmware.push_back(f);
    }
    return firmware;
}

UpdateFloor updateFloor(const std::vector<DevSim::HostFrame> &firmware)
{
    UpdateFloor result;
    if (firmware.empty())
        return result;
    double wire = 0;
    for (const DevSim::HostFrame &f : firmware)
        wire += wireMs(f.bytes.size()) + wireMs(AckBytes);
    const double firstExchange = wireMs(firmware.front().bytes.size()) + wireMs(AckBytes);
    result.floorMs = StartPauseMs + wire;
    result.tightFloorMs = std::max(StartPauseMs, firstExchange) + wire - firstExchange;
    return result;
}

} // namespace Bench
