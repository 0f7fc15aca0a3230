// The terminal on Windows: standard error is a console, one that takes the
// live line's control sequences (carriage return, erase to the end of the
// line). The C runtime's isatty() would also say yes for NUL or a serial port.

#include "cli/terminal.h"

#include <windows.h>

namespace Cli::Terminal {

namespace {

HANDLE errorHandle()
{
    return GetStdHandle(STD_ERROR_HANDLE);
}

// The width of the console window the handle writes to; 0 for anything else.
int columnsOf(HANDLE handle)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(handle, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

} // namespace

bool errorIsTerminal()
{
    const HANDLE handle = errorHandle();
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_CHAR
        || !GetConsoleMode(handle, &mode))
        return false;
    // Windows 10's console understands the sequences once asked to; an older
    // one does not, and gets the plain progress lines a file gets.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0
           || SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int errorColumns()
{
    return columnsOf(errorHandle());
}

int outputColumns()
{
    return columnsOf(GetStdHandle(STD_OUTPUT_HANDLE));
}

Utf8Console::Utf8Console()
    : m_previous(GetConsoleOutputCP()) // 0 without a console
{
    if (m_previous != 0)
        SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console()
{
    if (m_previous != 0)
        SetConsoleOutputCP(m_previous);
}

} // namespace Cli::Terminal
