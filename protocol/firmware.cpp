// The firmware transfer: parts, stages, repeats and giving a device up.

#include "protocol/firmware.h"

#include "protocol/frame.h"
#include "protocol/image.h"

#include <cstring>

namespace FirmwareTransfer {

namespace {

std::shared_ptr<const FirmwareImage> PassImage;
quint8 PartBuffer[Cpd::PartSize];
int PartLength = 0;

// What the device being written answered to the last frame sent to it, so
// that a device given up can say why.
enum class Heard { Nothing, WrongAcknowledgement, ErrorReport };
Heard LastHeard = Heard::Nothing;
qint32 LastErrorCode = 0;
bool Stopping = false; // the update is being stopped: the give-up frame is for that

quint32 imageSize()
{
    return quint32(FirmwareSize.load());
}

void markOutcome(FlashOutcome outcome)
{
    DeviceList.setOutcome(cursorPosition(), outcome);
}

void markAcked(quint16 number)
{
    DeviceList.setPartsAcked(cursorPosition(), number);
}

void giveUp(FlashFailure failure, qint32 errorCode = 0)
{
    DeviceList.setFailed(cursorPosition(), failure, errorCode);
}

// An acknowledgement of a part of the device being written that was
// acknowledged already.
bool lateCopy(quint8 stageEcho, quint16 number)
{
    if (UpdateStage == StageIdle || number == 0 || number >= PartNumber)
        return false;
    return stageEcho == (number == 1 ? StageStart : StageBody);
}

// Why the part in hand goes out again.
void giveUpForWhatWasHeard()
{
    if (Stopping)
        giveUp(FailureInterrupted);
    else if (LastHeard == Heard::ErrorReport)
        giveUp(FailureErrorAnswer, LastErrorCode);
    else if (LastHeard == Heard::WrongAcknowledgement)
        giveUp(FailureWrongAnswer); // it only ever acknowledged parts before this one
    else
        giveUp(FailureNoAnswer);
}

// No image to send (the pass was started without one, or the part asked for
// lies beyond it). The device is given up at once; the frame that tells it so
// carries no data, never stale bytes of an earlier part.
void giveUpWithoutImage(const char *what)
{
    qDebug("CPD_Wrlss: firmware file error (%s), device given up", what);
    PartLength = 0;
    UpdateStage = StageIdle;
    giveUp(FailureNoImage);
}

// Copies the part PartNumber is due to carry. False when there is none.
bool takePart()
{
    if (UpdateStage == StageStart) {
        if (!PassImage) {
            giveUpWithoutImage("no image");
            return false;
        }
        qDebug("CPD_Wrlss: FmwUpdate [START %u bytes] ->", imageSize());
        PartsTotal = quint16(ImageFile::partsFor(imageSize()));
    }
    const quint32 number = PartNumber;
    if (!PassImage || number == 0 || number > PartsTotal) {
        giveUpWithoutImage("no part left to send");
        return false;
    }
    // Every part but the last is full, the last holds the remainder.
    const quint32 offset = (number - 1) * quint32(Cpd::PartSize);
    const int length = int(qMin<quint32>(quint32(Cpd::PartSize), imageSize() - offset));
    if (qint64(offset) + length > PassImage->bytes.size()) {
        giveUpWithoutImage("image shorter than its size");
        return false;
    }
    std::memcpy(PartBuffer, PassImage->bytes.constData() + offset, size_t(length));
    PartLength = length;
    return true;
}

} // namespace

void beginPass(std::shared_ptr<const FirmwareImage> image)
{
    PassImage = std::move(image);
    PartLength = 0;
    LastHeard = Heard::Nothing;
    Stopping = false;
    DeviceList.beginPass(quint16(ImageFile::partsFor(imageSize())));
}

void endPass()
{
    PassImage.reset();
}

void abandonPass()
{
    if (UpdateStage != StageIdle) {
        qDebug("CPD_Wrlss: line lost, device given up");
        giveUp(FailurePortLost);
    }
    UpdateStage = StageIdle;
    endPass();
}

bool giveUpNow()
{
    if (UpdateStage == StageIdle)
        return false;
    if (UpdateStage == StageStart && NextPart) {
        // Chosen, but nothing written to it yet: there is nothing to give up.
        UpdateStage = StageIdle;
        markOutcome(FlashNone);
        return false;
    }
    // A part that was acknowledged but not sent yet is taken in hand first,
    // so the frame carries a part number with its own data.
    if (NextPart) {
        NextPart = 0;
        if (!takePart())
            return false;
    }
    PartRepeats = MaxRepeats;
    Stopping = true;
    return true;
}

quint16 composePart(quint8 *frame)
{
    if (NextPart) {
        NextPart = 0;
        PartRepeats = 0;
        takePart();
    } else {
        PartRepeats = quint8(PartRepeats + 1);
        if (PartRepeats > MaxRepeats) {
            UpdateStage = StageIdle;
            giveUpForWhatWasHeard();
        } else {
            DeviceList.countRepeat(cursorPosition());
        }
    }
    LastHeard = Heard::Nothing;

    const quint16 number = PartNumber;
    frame[10] = UpdateStage;
    frame[11] = quint8(number >> 8);
    frame[12] = quint8(number & 0xFF);
    std::memcpy(frame + Cpd::FirmwareHeaderSize, PartBuffer, size_t(PartLength));
    qDebug("CPD_Wrlss: FmwUpdate [stage:%d; %d/%d parts] ->",
           int(UpdateStage),
           int(number),
           int(PartsTotal));
    emit Notifier.UpdateDevStatus();
    return quint16(Cpd::FirmwareHeaderSize + PartLength);
}

void errorReported(qint32 code)
{
    LastHeard = Heard::ErrorReport;
    LastErrorCode = code;
}

bool isLateCopy(const quint8 *payload, size_t length)
{
    if (length < size_t(Cpd::AckPayload))
        return false;
    return lateCopy(payload[0], quint16((payload[1] << 8) | payload[2]));
}

void acknowledge(quint8 stageEcho, quint16 number)
{
    if (lateCopy(stageEcho, number)) {
        qDebug("CPD_Wrlss: late copy of the acknowledgement of part %d, ignored", int(number));
        // Heard alone, late copies still tell that the device answered, only
        // never for the part in hand.
        if (LastHeard == Heard::Nothing)
            LastHeard = Heard::WrongAcknowledgement;
        return;
    }
    // Anything not taken below leaves the part to go out again.
    LastHeard = Heard::WrongAcknowledgement;
    switch (UpdateStage.load()) {
    case StageStart:
        if (stageEcho == StageStart && number == 1) {
            markAcked(number);
            UpdateStage = StageBody;
            PartNumber = quint16(PartNumber + 1);
            NextPart = 1;
        }
        break;
    case StageBody:
        if (stageEcho == StageBody && number == PartNumber) {
            markAcked(number);
            NextPart = 1;
            PartNumber = quint16(PartNumber + 1);
            if (PartNumber == PartsTotal)
                UpdateStage = StageLast;
        }
        break;
    case StageLast:
        if (stageEcho == StageLast && number == PartNumber) {
            markAcked(number);
            UpdateStage = StageIdle;
            markOutcome(FlashDone);
            // The last frame has already been drawn as in flight; let the table
            // learn that the device took it.
            emit Notifier.UpdateDevStatus();
        }
        break;
    default:
        break;
    }
}

} // namespace FirmwareTransfer
