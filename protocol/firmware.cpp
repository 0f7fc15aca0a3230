#include "protocol/firmware.h"

#include "protocol/frame.h"

#include <QFile>

#include <cstring>

namespace FirmwareTransfer {

namespace {

// Repeats of one part before the device is given up: the sixth transmission
// of a part is the one that tells the device so (stage byte 0).
constexpr quint8 MaxRepeats = 4;
constexpr quint32 MaxParts = 65535;

std::shared_ptr<QFile> PassFile;
quint8 PartBuffer[Cpd::PartSize];
int PartLength = 0;

quint32 imageSize()
{
    return quint32(FirmwareSize.load());
}

void closeFile()
{
    if (PassFile && PassFile->isOpen())
        PassFile->close();
}

void markOutcome(FlashOutcome outcome)
{
    DeviceList.setOutcome(DeviceCursor - 1, outcome);
}

// The file failed under the transfer (gone, unreadable, shorter than when the
// flash button was pressed). The device is given up at once; the frame that
// tells it so carries no data, never stale bytes of an earlier part.
void giveUpOnFileError(const char *what)
{
    qDebug("CPD_Wrlss: firmware file error (%s), device given up", what);
    closeFile();
    PartLength = 0;
    UpdateStage = StageIdle;
    markOutcome(FlashFailed);
}

// Reads the part PartNumber is due to carry. False when the file fails.
bool readNextPart()
{
    if (UpdateStage == StageStart) {
        closeFile();
        // Unbuffered: each part comes from the file as it is now, so a file that
        // shrinks under the transfer shows as a short read, not as old bytes.
        if (!PassFile || !PassFile->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            giveUpOnFileError("cannot open");
            return false;
        }
        qDebug("CPD_Wrlss: FmwUpdate [START %u bytes] ->", imageSize());
        PartsTotal = quint16(partsFor(imageSize()));
    }
    const quint32 number = PartNumber;
    if (number == 0 || number > PartsTotal) {
        giveUpOnFileError("no part left to send");
        return false;
    }
    // The image is the file as it was when the flash button was pressed: every
    // part but the last is full, the last holds the remainder.
    const quint32 offset = (number - 1) * quint32(Cpd::PartSize);
    const int expected = int(qMin<quint32>(quint32(Cpd::PartSize), imageSize() - offset));
    if (!PassFile->isOpen() || !PassFile->seek(offset)) {
        giveUpOnFileError("cannot seek");
        return false;
    }
    const qint64 got = PassFile->read(reinterpret_cast<char *>(PartBuffer), expected);
    if (got != expected) {
        giveUpOnFileError("short read");
        return false;
    }
    PartLength = expected;
    if (UpdateStage == StageLast)
        closeFile();
    return true;
}

} // namespace

quint32 partsFor(quint32 size)
{
    return size / Cpd::PartSize + (size % Cpd::PartSize != 0 ? 1 : 0);
}

ImageSize checkImageSize(qint64 size)
{
    if (size <= 0)
        return ImageSize::Empty;
    if (size <= 2 * Cpd::PartSize)
        return ImageSize::TooSmall;
    if (size > qint64(MaxParts) * Cpd::PartSize)
        return ImageSize::TooLarge;
    return ImageSize::Fits;
}

void beginPass(std::shared_ptr<QFile> file)
{
    closeFile();
    PassFile = std::move(file);
    PartLength = 0;
    DeviceList.resetOutcomes();
}

void endPass()
{
    closeFile();
    PassFile.reset();
}

void abandonPass()
{
    if (UpdateStage != StageIdle) {
        qDebug("CPD_Wrlss: line lost, device given up");
        markOutcome(FlashFailed);
    }
    UpdateStage = StageIdle;
    endPass();
}

quint16 composePart(quint8 *frame)
{
    if (NextPart) {
        NextPart = 0;
        PartRepeats = 0;
        readNextPart();
    } else {
        PartRepeats = quint8(PartRepeats + 1);
        if (PartRepeats > MaxRepeats) {
            UpdateStage = StageIdle;
            closeFile();
            markOutcome(FlashFailed);
        }
    }

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

void acknowledge(quint8 stageEcho, quint16 number)
{
    switch (UpdateStage.load()) {
    case StageStart:
        if (stageEcho == StageStart && number == 1) {
            UpdateStage = StageBody;
            PartNumber = quint16(PartNumber + 1);
            NextPart = 1;
        }
        break;
    case StageBody:
        if (stageEcho == StageBody && number == PartNumber) {
            NextPart = 1;
            PartNumber = quint16(PartNumber + 1);
            if (PartNumber == PartsTotal)
                UpdateStage = StageLast;
        }
        break;
    case StageLast:
        if (stageEcho == StageLast && number == PartNumber) {
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
