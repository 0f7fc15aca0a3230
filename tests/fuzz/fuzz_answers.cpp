// Fuzz target: whatever comes off the line goes through the stream that
// cuts it into frames and through the answer handling, in every mode.
//
// Input: byte 0 picks the mode and how the bytes arrive (in one read, byte
// by byte, or in pieces); the rest is the line. Anything the stream hands
// out must be a whole frame that passes its checksum, an echo must be one of
// the frames the host sent, and no byte may get lost or counted twice.

#include "protocol/compose.h"
#include "protocol/frame.h"
#include "protocol/handle.h"
#include "protocol/stream.h"
#include "registry/exchange.h"
#include "registry/registry.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

const DeviceId Known = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

void prepare(int mode)
{
    resetSharedStateForTests();
    DeviceRecord record;
    record.id = Known;
    record.devType = TypeProbe;
    DeviceList.append(record);
    DeviceCursor = 1;
    DeviceCount = 1;
    WorkMode = mode;
    if (mode == ModeUpdate) {
        UpdateStage = StageBody;
        PartNumber = 2;
        PartsTotal = 5;
    }
}

// What the host sent before the line was read: a version query and the
// confirmation of a search answer (the bytes of that answer).
const std::vector<std::vector<quint8>> Sent = {
    {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x14, 0x03, 0x4F},
    {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x5E, 0x0A, 0xAF},
};

void handle(const std::vector<quint8> &frame, int mode, bool echo)
{
    if (echo) {
        if (std::find(Sent.begin(), Sent.end(), frame) == Sent.end())
            std::abort();
        return;
    }
    if (frame.size() < size_t(Cpd::MinFrameSize) || frame.size() > size_t(FrameStream::MaxFrame)
        || !Cpd::checksumMatches(frame.data(), int(frame.size())))
        std::abort();
    // Exactly as long as the frame, so a read past it is caught.
    std::vector<quint8> body(frame.begin(), frame.end() - 1);
    const quint16 confirm = handleFrame(body.data(), quint16(body.size()));
    if (confirm != 0 && mode != ModeUpdate) {
        quint8 buffer[Cpd::BufferSize];
        if (composeFrame(buffer, Cpd::TypeResponse) != Cpd::HeaderSize)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    if (size < 1)
        return 0;
    const int mode = data[0] & 3;
    const int feeding = (data[0] >> 2) & 3;
    const size_t piece = feeding == 0 ? size : feeding == 1 ? 1 : size_t(7 + (data[0] >> 4));
    prepare(mode);

    FrameStream stream;
    for (const std::vector<quint8> &sent : Sent)
        stream.expectEcho(sent.data(), sent.size());
    std::vector<quint8> frame;
    bool echo = false;
    size_t taken = 0;
    for (size_t at = 1; at < size; at += piece) {
        const size_t n = std::min(piece, size - at);
        stream.append(data + at, n);
        while (stream.takeFrame(&frame, false, &echo)) {
            taken += frame.size();
            handle(frame, mode, echo);
        }
    }
    while (stream.takeFrame(&frame, true, &echo)) {
        taken += frame.size();
        handle(frame, mode, echo);
    }
    if (taken + stream.skippedBytes() + stream.pending() != size - 1)
        std::abort();
    stream.discard();
    if (stream.pending() != 0)
        std::abort();
    return 0;
}
