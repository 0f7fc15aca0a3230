#pragma once

// Opening a file for reading only if it is a regular file, without ever
// waiting on it: a FIFO or a device node would otherwise hold the caller until
// some writer came. One implementation per platform.

#include <QFile>
#include <QString>

// False, with the file left closed, for anything but a regular file that can
// be read.
bool openRegularFile(QFile &file, const QString &path);
