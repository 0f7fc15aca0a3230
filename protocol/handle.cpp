// Interpreting the frames the devices send.

#include "protocol/handle.h"

#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "registry/exchange.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<bool> AnswerHandlingBroken{false};

// What handleResponse returns for a search answer: confirm it.
constexpr int ConfirmSearchAnswer = 8;

qint32 typeForKind(int kind)
{
    switch (kind) {
    case Cpd::KindProbe:
        return TypeProbe;
    case Cpd::KindTally8:
        return TypeTally8;
    case Cpd::KindTally16:
        return TypeTally16;
    default:
        return TypeUnknown;
    }
}

bool payloadTooShort(quint16 length, int needed, int cmdB, int cmdN)
{
    if (length >= needed)
        return false;
    qDebug("SerialP: payload too short (%d bytes), cmd_block %d, cmd_number %d",
           int(length),
           cmdB,
           cmdN);
    return true;
}

int registerDevice(const quint8 *frame, int kind)
{
    const DeviceId id = senderOf(frame);
    // A device already listed that answers again is confirmed again, but it
    // is no news: only a new device keeps the search going. A device that
    // keeps answering after its confirmation must not hold the search open.
    if (isRegistered(id))
        return ConfirmSearchAnswer;
    DeviceRecord record;
    record.id = id;
    record.devType = typeForKind(kind);
    qDebug(
        "SerialP: new id: %02x:%02x:%02x:%02x:%02x:%02x", id[0], id[1], id[2], id[3], id[4], id[5]);
    if (!DeviceList.append(record)) {
        qDebug("SerialP: device list full, new id dropped");
        return ConfirmSearchAnswer;
    }
    SearchRound = 0;
    RoundsWithoutNews = 0;
    emit Notifier.UpdateTable();
    return ConfirmSearchAnswer;
}

} // namespace

DeviceId senderOf(const quint8 *frame)
{
    DeviceId id;
    std::copy(frame, frame + Cpd::IdSize, id.begin());
    return id;
}

void logFrameHeader(const quint8 *b, const char *tail)
{
    const Cpd::CommandWord word = Cpd::unpackCommand(b);
    qDebug("SerialP: CPDevice [%02X:%02X:%02X:%02X:%02X:%02X:%02X:%02X], cmd_t 0x%X, cmd_b %d, "
           "cmd_n %d%s",
           b[0],
           b[1],
           b[2],
           b[3],
           b[4],
           b[5],
           b[6],
           b[7],
           word.type,
           word.block,
           word.number,
           tail);
}

bool isRegistered(const DeviceId &id)
{
    return DeviceList.indexOf(id) >= 0;
}

int handleResponse(
    const quint8 *payload, quint16 payloadLength, const quint8 *frame, int cmdB, int cmdN)
{
    if (cmdB == Cpd::BlockSearch)
        return AnswerHandlingBroken ? 0 : registerDevice(frame, cmdN);

    const DeviceId sender = senderOf(frame);
    const int senderPos = DeviceList.indexOf(sender);
    if (senderPos < 0)
        return 0;

    if (cmdB != Cpd::BlockDevice) {
        qDebug("SerialP: unknown CPD_Response cmd_block %d, cmd_number %d", cmdB, cmdN);
        return payloadLength;
    }

    if (cmdN == Cpd::NumberVersion) {
        if (payloadTooShort(payloadLength, Cpd::VersionPayload, cmdB, cmdN))
            return 0;
        // Stored with the device that sent it: a late answer from the device
        // asked before must not land in the record of the one asked now.
        DeviceList.setVersion(senderPos, payload[0], payload[1]);
        return 0;
    }

    if (cmdN == Cpd::NumberFirmware) {
        if (payloadTooShort(payloadLength, Cpd::AckPayload, cmdB, cmdN))
            return 0;
        const quint8 stage = payload[0];
        const quint16 number = quint16((payload[1] << 8) | payload[2]);
        qDebug("CPD_Wrlss: ->Response OK [%d:%d]\n", int(stage), int(number));
        const auto current = DeviceList.at(cursorPosition());
        if (!current || current->id != sender) {
            qDebug("CPD_Wrlss: acknowledgement from a device not being updated, ignored");
            return 0;
        }
        FirmwareTransfer::acknowledge(stage, number);
        return 0;
    }
    return 0;
}

quint16 handleFrame(quint8 *buffer, quint16 length)
{
    if (length < Cpd::HeaderSize) {
        qDebug("SerialP: frame too short (%d bytes), dropped", int(length));
        return 0;
    }
    const Cpd::CommandWord word = Cpd::unpackCommand(buffer);
    CmdBlock = word.block;
    CmdNumber = quint8(word.number);
    TargetId = senderOf(buffer);
    logFrameHeader(buffer);

    const quint8 *payload = buffer + Cpd::HeaderSize;
    const quint16 payloadLength = quint16(length - Cpd::HeaderSize);
    if (word.type == Cpd::TypeResponse)
        return quint16(handleResponse(payload, payloadLength, buffer, word.block, word.number));
    if (word.type == Cpd::TypeError) {
        if (payloadTooShort(payloadLength, Cpd::ErrorPayload, word.block, word.number))
            return 0;
        const qint32 code = qint32(quint32(payload[0]) | quint32(payload[1]) << 8
                                   | quint32(payload[2]) << 16 | quint32(payload[3]) << 24);
        qDebug("SerialP: CPD_Error code %d, cmd_block %d, cmd_number %d",
               code,
               word.block,
               word.number);
        if (WorkMode == ModeUpdate) {
            const auto current = DeviceList.at(cursorPosition());
            if (current && current->id == senderOf(buffer))
                FirmwareTransfer::errorReported(code);
        }
        return 0;
    }
    qDebug("SerialP: unknown CPD_Command type 0x%X", word.type);
    return 0;
}

namespace TestSeam {
void breakAnswerHandling(bool broken)
{
    AnswerHandlingBroken = broken;
}
} // namespace TestSeam
