// Names that are no regular file, on Windows.

#include "support/nonregularfiles.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <windows.h>

struct SilentPipe::Private
{
    QString path;
    HANDLE server = INVALID_HANDLE_VALUE;
};

SilentPipe::SilentPipe(const QTemporaryDir &)
    : d(std::make_unique<Private>())
{
    static QAtomicInt made;
    d->path = QStringLiteral("\\\\.\\pipe\\olvex-test-%1-%2")
                  .arg(QCoreApplication::applicationPid())
                  .arg(made.fetchAndAddRelaxed(1));
    // One instance, waiting for a client that is never written to.
    d->server = CreateNamedPipeW(reinterpret_cast<const wchar_t *>(d->path.utf16()),
                                 PIPE_ACCESS_OUTBOUND,
                                 PIPE_TYPE_BYTE | PIPE_WAIT,
                                 1,
                                 4096,
                                 4096,
                                 0,
                                 nullptr);
}

SilentPipe::~SilentPipe()
{
    if (d->server != INVALID_HANDLE_VALUE)
        CloseHandle(d->server);
}

bool SilentPipe::ok() const
{
    return d->server != INVALID_HANDLE_VALUE;
}

QString SilentPipe::path() const
{
    return d->path;
}

QList<DeviceName> deviceNames()
{
    return {{"NUL", QStringLiteral("NUL")},
            {"the console", QStringLiteral("CON")},
            {"a serial port", QStringLiteral("COM1")},
            {"NUL with a folder", QStringLiteral("C:\\nul")}};
}
