// The trusted keys' folder on Windows, below the machine's ProgramData
// folder as Windows names it (not as the environment says: a user could
// point that anywhere). The setup program makes it, writable by
// administrators only.

#include "protocol/keyfolder.h"

#include <QDir>

#include <shlobj.h>
#include <windows.h>

namespace KeyFolder {

QString systemFolder()
{
    PWSTR base = nullptr;
    QString folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &base)))
        folder = QString::fromWCharArray(base) + QStringLiteral("\\Olvex Updater\\keys");
    CoTaskMemFree(base);
    return QDir::fromNativeSeparators(folder);
}

bool writableByOthers(const QString &, bool)
{
    return false;
}

} // namespace KeyFolder
