// The trusted keys' folder on Linux. Its place comes from the build
// (OLVEX_KEY_FOLDER), which installs it there empty.

#include "protocol/keyfolder.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace KeyFolder {

QString systemFolder()
{
    return QStringLiteral(OLVEX_KEY_FOLDER);
}

bool writableByOthers(const QString &path, bool ownUserToo)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return true; // what cannot be looked at cannot be vouched for
    const bool owner = info.st_uid == 0 || (ownUserToo && info.st_uid == ::geteuid());
    return !owner || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

} // namespace KeyFolder
