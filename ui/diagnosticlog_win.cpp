// The diagnostic log on Windows. The program is a window with no console of
// its own, and the toolkit would hand every line to the debugger's output,
// where no technician looks. So the lines go
//  - to standard error when whoever started the program gave it one: a file
//    (`Olvex_Updater.exe 2> log.txt` in a command prompt) or a pipe;
//  - else to the console of the command prompt the program was started from;
//  - else (started from Explorer) where the toolkit sends them anyway: the
//    debugger's output, which DebugView shows.

#include "ui/diagnosticlog.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <mutex>
#include <windows.h>

namespace DiagnosticLog {

namespace {

HANDLE target = nullptr;
bool targetIsConsole = false;
std::mutex writing; // the serial worker logs from its own thread

void writeLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString line = qFormatLogMessage(type, context, message) + QStringLiteral("\r\n");
    const std::lock_guard<std::mutex> lock(writing);
    DWORD written = 0;
    if (targetIsConsole) {
        // UTF-16 straight to the console: right whatever its code page.
        WriteConsoleW(target, line.utf16(), DWORD(line.size()), &written, nullptr);
    } else {
        const QByteArray bytes = line.toUtf8();
        WriteFile(target, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    }
}

bool usable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE
           && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void route()
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (!usable(handle)) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        handle = CreateFileW(L"CONOUT$",
                             GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_WRITE,
                             nullptr,
                             OPEN_EXISTING,
                             0,
                             nullptr);
        if (!usable(handle))
            return;
    }
    DWORD mode = 0;
    target = handle;
    targetIsConsole = GetConsoleMode(handle, &mode) != 0;
    qInstallMessageHandler(writeLine);
}

} // namespace DiagnosticLog
