#pragma once

// Opening a file for reading only if it is a regular file, without ever
// waiting on it: a FIFO or a device node would otherwise hold the caller until
// some writer came. One implementation per platform.

#include <QByteArray>
#include <QFile>
#include <QString>

// False, with the file left closed, for anything but a regular file that can
// be read.
bool openRegularFile(QFile &file, const QString &path);

enum class FileRead { Read, Missing, Unreadable, TooLarge };

// The whole of a regular file of at most `maxBytes`. A larger one is refused
// before anything is read, and one that grows while it is read is never
// read without end.
FileRead readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes);
