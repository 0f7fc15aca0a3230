// Regular files only, on Windows: the file is opened once, and its type is
// checked on the handle that was opened, not on the path. Opening never waits
// (a pipe whose server is busy is refused at once), and a console, a serial
// port or NUL is refused before a byte is read. The name may hold spaces,
// Cyrillic letters and either kind of slash; a read-only file opens as well.

#include "protocol/regularfile.h"

#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool openRegularFile(QFile &file, const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
                                      GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr,
                                      OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false; // a folder too: it opens only when asked for with backup semantics
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return false;
    }
    // Binary, whatever the C runtime is set to: text mode would end the image
    // at its first 0x1A byte and fold its CR LF pairs.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        _close(fd); // closes the handle too
        return false;
    }
    return true;
}
