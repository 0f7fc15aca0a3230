// Reading and checking the firmware image.

#include "protocol/image.h"

#include "protocol/regularfile.h"

#include <QFile>
#include <QFileInfo>

namespace ImageFile {

quint32 partsFor(quint32 size)
{
    return size / Cpd::PartSize + (size % Cpd::PartSize != 0 ? 1 : 0);
}

namespace {

// Whether the transfer can carry an image of this size to its end.
Problem checkSize(qint64 size)
{
    if (size <= 0)
        return Problem::Empty;
    if (size <= TooSmallBytes)
        return Problem::TooSmall;
    if (size > MaxBytes)
        return Problem::TooLarge;
    return Problem::None;
}

} // namespace

Loaded load(const QString &path)
{
    Loaded result;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        result.problem = Problem::Missing;
        return result;
    }
    QFile file;
    if (!openRegularFile(file, path)) {
        result.problem = Problem::Unreadable;
        return result;
    }
    result.problem = checkSize(file.size());
    if (result.problem != Problem::None)
        return result;
    // One byte more than the largest image: a file that grows while it is
    // read is caught below, and never read without end.
    const QByteArray bytes = file.read(MaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        result.problem = Problem::Unreadable;
        return result;
    }
    result.problem = checkSize(bytes.size());
    if (result.problem == Problem::None)
        result.image = std::make_shared<const FirmwareImage>(FirmwareImage{bytes});
    return result;
}

} // namespace ImageFile
