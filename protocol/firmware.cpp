#include "protocol/firmware.h"

#include "protocol/frame.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace FirmwareTransfer {

namespace {

// Repeats of one part before the device is given up: the sixth transmission
// of a part is the one that tells the device so (stage byte 0).
constexpr quint8 MaxRepeats = 4;
constexpr quint32 MaxParts = 65535;

std::shared_ptr<const FirmwareImage> PassImage;
quint8 PartBuffer[Cpd::PartSize];
int PartLength = 0;

quint32 imageSize()
{
    return quint32(FirmwareSize.load());
}

void markOutcome(FlashOutcome outcome)
{
    DeviceList.setOutcome(DeviceCursor - 1, outcome);
}

void markAcked(quint16 number)
{
    DeviceList.setPartsAcked(DeviceCursor - 1, number);
}

// No image to send (the pass was started without one, or the part asked for
// lies beyond it). The device is given up at once; the frame that tells it so
// carries no data, never stale bytes of an earlier part.
void giveUpWithoutImage(const char *what)
{
    qDebug("CPD_Wrlss: firmware file error (%s), device given up", what);
    PartLength = 0;
    UpdateStage = StageIdle;
    markOutcome(FlashFailed);
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
        PartsTotal = quint16(partsFor(imageSize()));
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

// Opens the file for reading only if it is a regular file. On Unix the open
// itself never waits: a FIFO would otherwise block it until some writer came.
bool openRegularFile(QFile &file, const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    file.setFileName(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
#endif
}

} // namespace

quint32 partsFor(quint32 size)
{
    return size / Cpd::PartSize + (size % Cpd::PartSize != 0 ? 1 : 0);
}

ImageProblem checkImageSize(qint64 size)
{
    if (size <= 0)
        return ImageProblem::Empty;
    if (size <= 2 * Cpd::PartSize)
        return ImageProblem::TooSmall;
    if (size > qint64(MaxParts) * Cpd::PartSize)
        return ImageProblem::TooLarge;
    return ImageProblem::None;
}

LoadedImage loadImage(const QString &path)
{
    LoadedImage result;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        result.problem = ImageProblem::Missing;
        return result;
    }
    QFile file;
    if (!openRegularFile(file, path)) {
        result.problem = ImageProblem::Unreadable;
        return result;
    }
    result.problem = checkImageSize(file.size());
    if (result.problem != ImageProblem::None)
        return result;
    // One byte more than the largest image: a file that grows while it is
    // read is caught below, and never read without end.
    const QByteArray bytes = file.read(qint64(MaxParts) * Cpd::PartSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.problem = ImageProblem::Unreadable;
        return result;
    }
    result.problem = checkImageSize(bytes.size());
    if (result.problem == ImageProblem::None)
        result.image = std::make_shared<const FirmwareImage>(FirmwareImage{bytes});
    return result;
}

std::optional<TypeConflict> findTypeConflict(const std::vector<DeviceRecord> &devices)
{
    qint32 reference = TypeUnknown;
    int first = -1;
    for (int pos = 0; pos < int(devices.size()); ++pos) {
        const DeviceRecord &record = devices[size_t(pos)];
        if (record.selected != 1 || record.devType == reference)
            continue;
        if (reference == TypeUnknown) {
            reference = record.devType;
            first = pos;
            continue;
        }
        return TypeConflict{first, pos};
    }
    return std::nullopt;
}

void requestPass(std::shared_ptr<const FirmwareImage> image)
{
    // The worker acts on FlashRequest, so it is written last.
    FirmwareSize = qint32(quint32(image ? image->bytes.size() : 0));
    FirmwareFile.set(std::move(image));
    FlashRequest = 1;
}

void beginPass(std::shared_ptr<const FirmwareImage> image)
{
    PassImage = std::move(image);
    PartLength = 0;
    DeviceList.resetOutcomes();
}

void endPass()
{
    PassImage.reset();
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
            markOutcome(FlashFailed);
        } else {
            DeviceList.countRepeat(DeviceCursor - 1);
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
