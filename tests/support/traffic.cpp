#include "support/traffic.h"

#include "protocol/frame.h"

#include <algorithm>

namespace {

Cpd::CommandWord wordOf(const DevSim::HostFrame &frame)
{
    return Cpd::unpackCommand(frame.bytes.data());
}

} // namespace

bool isFirmwareFrame(const DevSim::HostFrame &frame)
{
    if (!frame.valid || frame.bytes.size() < size_t(Cpd::FirmwareHeaderSize + 1))
        return false;
    const Cpd::CommandWord w = wordOf(frame);
    return w.type == Cpd::TypeRequest && w.block == Cpd::BlockDevice
           && w.number == Cpd::NumberFirmware;
}

std::vector<DevSim::HostFrame> firmwareFrames(const DevSim::Simulator &sim)
{
    std::vector<DevSim::HostFrame> firmware;
    for (const DevSim::HostFrame &f : sim.hostFrames()) {
        if (isFirmwareFrame(f))
            firmware.push_back(f);
    }
    return firmware;
}

std::vector<std::vector<quint8>> firmwareFrameBytesTo(const DevSim::Simulator &sim,
                                                      const std::array<quint8, 8> &id)
{
    std::vector<std::vector<quint8>> out;
    for (const DevSim::HostFrame &f : firmwareFrames(sim)) {
        if (std::equal(id.begin(), id.end(), f.bytes.begin()))
            out.push_back(f.bytes);
    }
    return out;
}

std::vector<std::pair<int, int>> firmwareFramesTo(const DevSim::Simulator &sim,
                                                  const std::array<quint8, 8> &id)
{
    std::vector<std::pair<int, int>> out;
    for (const std::vector<quint8> &bytes : firmwareFrameBytesTo(sim, id))
        out.emplace_back(bytes[10], (bytes[11] << 8) | bytes[12]);
    return out;
}

Traffic trafficOn(const DevSim::Simulator &sim)
{
    Traffic t;
    std::vector<DevSim::HostFrame> frames = sim.hostFrames();
    frames.erase(std::remove_if(frames.begin(),
                                frames.end(),
                                [](const DevSim::HostFrame &f) { return !f.valid; }),
                 frames.end());
    for (size_t i = 0; i < frames.size(); ++i) {
        const Cpd::CommandWord w = wordOf(frames[i]);
        if (w.type == Cpd::TypeResponse) {
            ++t.confirmations;
        } else if (w.block == Cpd::BlockSearch) {
            ++t.searches;
            const bool answered
                = i + 1 < frames.size() && wordOf(frames[i + 1]).type == Cpd::TypeResponse;
            t.silentSearches += answered ? 0 : 1;
        } else if (w.number == Cpd::NumberVersion) {
            ++t.queries;
        } else if (isFirmwareFrame(frames[i])) {
            ++t.firmware;
        }
    }
    return t;
}

// A firmware frame: address (8), block 20 in the command word's low bits
// with type 0, number 50, stage, part number (high byte first), data, checksum.
std::map<QByteArray, QByteArray> imagesCarried(const Pcapng::Capture &capture)
{
    std::map<QByteArray, std::map<int, QByteArray>> parts;
    for (const Pcapng::Record &record : capture.records) {
        const QByteArray &f = record.bytes;
        if (record.direction != Pcapng::Direction::Sent || f.size() < 14 || quint8(f[8]) != 0x14
            || quint8(f[9]) != 50 || quint8(f[10]) == 0)
            continue;
        parts[f.left(6).toHex(':')][quint8(f[11]) << 8 | quint8(f[12])] = f.mid(13, f.size() - 14);
    }
    std::map<QByteArray, QByteArray> images;
    for (const auto &[address, pieces] : parts) {
        for (const auto &piece : pieces)
            images[address] += piece.second;
    }
    return images;
}
