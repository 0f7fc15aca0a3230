#pragma once

// Where this machine keeps the public keys it trusts to sign firmware, and
// whether a key file or the folder is safe from ordinary users. One
// implementation per platform.

#include <QString>

namespace KeyFolder {

// /etc/olvex-updater/keys on Linux, %ProgramData%\Olvex Updater\keys on Windows.
QString systemFolder();

// Whether users other than root may change the file or folder (and so put
// their own key in). `ownUserToo`: the user running counts as root, for the
// tests' own folders. On Windows always false: the setup program makes the
// folder writable by administrators only.
bool writableByOthers(const QString &path, bool ownUserToo);

} // namespace KeyFolder
