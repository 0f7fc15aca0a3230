// Reading a regular file whole, up to a bound, on every platform.

#include "protocol/regularfile.h"

#include <QFileInfo>

FileRead readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return FileRead::Missing;
    QFile file;
    if (!openRegularFile(file, path))
        return FileRead::Unreadable;
    if (file.size() > maxBytes)
        return FileRead::TooLarge;
    // One byte more than allowed: a file that grew meanwhile is caught.
    QByteArray read = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return FileRead::Unreadable;
    if (read.size() > maxBytes)
        return FileRead::TooLarge;
    bytes = read;
    return FileRead::Read;
}
