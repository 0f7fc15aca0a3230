#pragma once

// One simulated device: what it does with a host frame and what its faults
// make of the answer. Not thread-safe; the simulator guards it.

#include "devsim/simulator.h"

#include <optional>

namespace DevSim {

// An answer a device has decided to give, with the timing its faults ask for.
struct Reply
{
    std::vector<quint8> bytes;
    int delayMs = 0;    // added to the normal moment of sending
    int splitMs = -1;   // >= 0: the second half follows the first this much later
    int garbageMs = -1; // >= 0: stray bytes go out this much before the answer
    int againMs = -1;   // >= 0: a copy of the answer follows this much later
    int piecesMs = -1;  // >= 0: the answer goes out in pieces of three bytes this much apart
    int stallMs = -1;   // >= 0: the host's writes are held this long from the answer on
};

class Device
{
public:
    explicit Device(DeviceConfig config);

    // Acts on one well-formed host frame and returns the answer, if any.
    std::optional<Reply> receive(const std::vector<quint8> &frame);

    const DeviceConfig &config() const { return m_config; }
    bool confirmed() const { return m_confirmed; }
    const std::vector<quint8> &image() const { return m_image; }
    ImageState imageState() const { return m_state; }
    int firmwareFrames() const { return m_firmwareFrames; }

private:
    std::optional<Reply> search(int type, int number, bool toMe, bool broadcast);
    std::optional<Reply> firmware(const quint8 *frame, int length);
    std::vector<quint8> storePart(int stage, int part, const quint8 *data, int size, bool *ack);
    std::vector<quint8> answer(int type, int block, int number, std::vector<quint8> payload) const;
    std::vector<quint8> errorReport(int block, int number, qint32 code) const;
    std::vector<quint8> firmwareAck(int stage, int part) const;
    FaultRule *takeFault(FaultRule::Kind kind, int part);
    std::optional<Reply> spoil(std::vector<quint8> bytes, int part, bool isAck);

    DeviceConfig m_config;
    bool m_confirmed = false;
    std::vector<quint8> m_image;
    ImageState m_state = ImageState::None;
    int m_lastStage = 0;
    int m_lastPart = 0; // the last part stored, 0 before the first
    int m_firmwareFrames = 0;
};

} // namespace DevSim
