// Names that are no regular file, on Unix.

#include "support/nonregularfiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

struct SilentPipe::Private
{
    QString path;
    bool made = false;
};

SilentPipe::SilentPipe(const QTemporaryDir &dir)
    : d(std::make_unique<Private>())
{
    for (int n = 0; QFile::exists(d->path = dir.filePath(QStringLiteral("fifo-%1").arg(n))); ++n) {
    }
    d->made = ::mkfifo(QFile::encodeName(d->path).constData(), 0600) == 0;
}

SilentPipe::~SilentPipe()
{
    QFile::remove(d->path);
}

bool SilentPipe::ok() const
{
    return d->made;
}

QString SilentPipe::path() const
{
    return d->path;
}

QList<DeviceName> deviceNames()
{
    return {{"a character device", QStringLiteral("/dev/zero")}};
}
