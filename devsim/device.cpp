// One simulated device: what it answers to each request, and its faults.

#include "devsim/device.h"

#include "protocol/frame.h"

#include <algorithm>

namespace DevSim {

namespace {

constexpr int StageAbort = 0;
constexpr int StageFirst = 1;
constexpr int StageMiddle = 2;
constexpr int StageLast = 3;

// Offsets inside a firmware frame.
constexpr int StageOffset = Cpd::HeaderSize;
constexpr int PartOffset = Cpd::HeaderSize + 1;

} // namespace

Device::Device(DeviceConfig config)
    : m_config(std::move(config))
{}

std::optional<Reply> Device::receive(const std::vector<quint8> &frame)
{
    const int length = int(frame.size());
    if (length < Cpd::MinFrameSize)
        return std::nullopt;
    const quint8 *bytes = frame.data();
    const Cpd::CommandWord command = Cpd::unpackCommand(bytes);
    const bool toMe = std::equal(m_config.id.begin(), m_config.id.end(), bytes);
    const bool broadcast
        = std::all_of(bytes, bytes + Cpd::IdSize, [](quint8 b) { return b == 0xFF; });

    if (command.block == Cpd::BlockSearch)
        return search(command.type, command.number, toMe, broadcast);
    if (!toMe || command.type != Cpd::TypeRequest)
        return std::nullopt;

    if (command.block == Cpd::BlockDevice && command.number == Cpd::NumberFirmware)
        return firmware(bytes, length);
    if (command.block == Cpd::BlockDevice && command.number == Cpd::NumberVersion) {
        if (const FaultRule *rule = takeFault(FaultRule::ErrorReport, -1))
            return spoil(errorReport(command.block,
                                     command.number,
                                     rule->delayMs ? rule->delayMs : ErrorWriteFailed),
                         -1,
                         false);
        return spoil(answer(Cpd::TypeResponse,
                            Cpd::BlockDevice,
                            Cpd::NumberVersion,
                            {m_config.verMajor, m_config.verMinor}),
                     -1,
                     false);
    }
    return spoil(errorReport(command.block, command.number, ErrorUnknownCommand), -1, false);
}

std::optional<Reply> Device::search(int type, int number, bool toMe, bool broadcast)
{
    // The host confirms an answer by echoing its command word to the device.
    if (type == Cpd::TypeResponse) {
        if (toMe && number == m_config.kind)
            m_confirmed = true;
        return std::nullopt;
    }
    if (type != Cpd::TypeRequest || !broadcast)
        return std::nullopt;
    if (number == Cpd::NumberSearchFirst)
        m_confirmed = false;
    else if (number != Cpd::NumberSearchNext)
        return std::nullopt;
    if (m_confirmed && !m_config.chatty)
        return std::nullopt;
    return spoil(answer(Cpd::TypeResponse, Cpd::BlockSearch, m_config.kind, {}), -1, false);
}

std::optional<Reply> Device::firmware(const quint8 *frame, int length)
{
    ++m_firmwareFrames;
    const int dataSize = length - 1 - Cpd::FirmwareHeaderSize;
    if (dataSize < 0 || dataSize > Cpd::PartSize)
        return spoil(errorReport(Cpd::BlockDevice, Cpd::NumberFirmware, ErrorBadLength), -1, false);

    const int stage = frame[StageOffset];
    const int part = (frame[PartOffset] << 8) | frame[PartOffset + 1];
    if (stage == StageAbort) {
        m_state = ImageState::Aborted;
        return std::nullopt;
    }
    if (const FaultRule *rule = takeFault(FaultRule::ErrorReport, part)) {
        const qint32 code = rule->delayMs ? rule->delayMs : ErrorWriteFailed;
        return spoil(errorReport(Cpd::BlockDevice, Cpd::NumberFirmware, code), part, false);
    }
    bool ack = false;
    std::vector<quint8> reply
        = storePart(stage, part, frame + Cpd::FirmwareHeaderSize, dataSize, &ack);
    return spoil(std::move(reply), part, ack);
}

// The image's sequence rules: stage 1 part 1 starts over, each further part
// must be the next one, and a repeat of the part just stored is acknowledged
// again without storing it twice (the host repeats when it lost our answer).
std::vector<quint8> Device::storePart(int stage, int part, const quint8 *data, int size, bool *ack)
{
    const auto refuse = [this](qint32 code) {
        return errorReport(Cpd::BlockDevice, Cpd::NumberFirmware, code);
    };
    const bool receiving = m_state == ImageState::Receiving;
    const bool next = receiving && part == m_lastPart + 1;
    const bool repeat = part == m_lastPart && m_lastPart > 0
                        && ((stage == StageMiddle && receiving)
                            || (stage == StageLast && m_state == ImageState::Complete
                                && m_lastStage == StageLast));
    switch (stage) {
    case StageFirst:
        if (part != 1)
            return refuse(ErrorOutOfSequence);
        if (size != Cpd::PartSize)
            return refuse(ErrorBadLength);
        m_image.assign(data, data + size);
        m_state = ImageState::Receiving;
        break;
    case StageMiddle:
    case StageLast:
        if (repeat) {
            *ack = true;
            return firmwareAck(stage, part);
        }
        // A last part numbered 1 is an image that fits into one frame.
        if (stage == StageLast && part == 1 && !receiving) {
            m_image.clear();
        } else if (!next) {
            return refuse(receiving ? ErrorOutOfSequence : ErrorNotStarted);
        }
        if (stage == StageMiddle && size != Cpd::PartSize)
            return refuse(ErrorBadLength);
        m_image.insert(m_image.end(), data, data + size);
        m_state = stage == StageLast ? ImageState::Complete : ImageState::Receiving;
        break;
    default:
        return refuse(ErrorBadStage);
    }
    m_lastStage = stage;
    m_lastPart = part;
    *ack = true;
    return firmwareAck(stage, part);
}

std::vector<quint8>
Device::answer(int type, int block, int number, std::vector<quint8> payload) const
{
    std::vector<quint8> frame(Cpd::HeaderSize + payload.size() + 1);
    std::copy(m_config.id.begin(), m_config.id.end(), frame.begin());
    Cpd::packCommand(frame.data(), type, quint8(block), quint8(number));
    std::copy(payload.begin(), payload.end(), frame.begin() + Cpd::HeaderSize);
    Cpd::appendChecksum(frame.data(), int(frame.size()) - 1);
    return frame;
}

std::vector<quint8> Device::errorReport(int block, int number, qint32 code) const
{
    const auto value = quint32(code);
    return answer(Cpd::TypeError,
                  block,
                  number,
                  {quint8(value), quint8(value >> 8), quint8(value >> 16), quint8(value >> 24)});
}

std::vector<quint8> Device::firmwareAck(int stage, int part) const
{
    return answer(Cpd::TypeResponse,
                  Cpd::BlockDevice,
                  Cpd::NumberFirmware,
                  {quint8(stage), quint8(part >> 8), quint8(part)});
}

// The first rule of that kind with answers left to spoil, counted down.
FaultRule *Device::takeFault(FaultRule::Kind kind, int part)
{
    for (FaultRule &rule : m_config.faults) {
        if (rule.kind != kind || rule.times == 0)
            continue;
        if (rule.onPart != 0 && rule.onPart != part)
            continue;
        if (rule.times > 0)
            --rule.times;
        return &rule;
    }
    return nullptr;
}

// part: the part number of the firmware frame answered, -1 for other requests.
std::optional<Reply> Device::spoil(std::vector<quint8> bytes, int part, bool isAck)
{
    if (takeFault(FaultRule::Silent, part))
        return std::nullopt;
    Reply reply;
    if (isAck && takeFault(FaultRule::WrongPart, part)) {
        const int wrong = part - 1;
        bytes[PartOffset] = quint8(wrong >> 8);
        bytes[PartOffset + 1] = quint8(wrong);
        Cpd::appendChecksum(bytes.data(), int(bytes.size()) - 1);
    }
    if (const FaultRule *rule = takeFault(FaultRule::Late, part))
        reply.delayMs = std::max(0, rule->delayMs);
    if (takeFault(FaultRule::BadChecksum, part))
        bytes.back() ^= 0xFF;
    if (const FaultRule *rule = takeFault(FaultRule::Split, part))
        reply.splitMs = std::max(0, rule->delayMs);
    if (const FaultRule *rule = takeFault(FaultRule::Garbage, part))
        reply.garbageMs = std::max(0, rule->delayMs);
    if (const FaultRule *rule = takeFault(FaultRule::Twice, part))
        reply.againMs = std::max(0, rule->delayMs);
    if (const FaultRule *rule = takeFault(FaultRule::Pieces, part))
        reply.piecesMs = std::max(0, rule->delayMs);
    if (const FaultRule *rule = takeFault(FaultRule::Stall, part))
        reply.stallMs = std::max(0, rule->delayMs);
    reply.bytes = std::move(bytes);
    return reply;
}

} // namespace DevSim
