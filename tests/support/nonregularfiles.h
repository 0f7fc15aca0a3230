#pragma once

// Names that open like a file but are no regular file, for the tests of the
// image loader and the flash button: a careless reader would wait on them for
// ever, or read without end. One implementation per platform.

#include <QList>
#include <QString>

#include <memory>

class QTemporaryDir;

// A pipe with a name that nobody writes into: a FIFO in the folder on Unix,
// a named pipe whose server waits for a client on Windows. It goes with the
// object.
class SilentPipe
{
public:
    explicit SilentPipe(const QTemporaryDir &dir);
    ~SilentPipe();
    SilentPipe(const SilentPipe &) = delete;
    SilentPipe &operator=(const SilentPipe &) = delete;

    bool ok() const;
    QString path() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The platform's device names a path may give: /dev/zero on Unix, which reads
// without end; the console, NUL and serial ports on Windows.
struct DeviceName
{
    const char *what;
    QString path;
};
QList<DeviceName> deviceNames();
