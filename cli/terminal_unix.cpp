// The terminal on Unix.

#include "cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace Cli::Terminal {

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

namespace {
int columnsOf(int fd)
{
    winsize size{};
    if (::isatty(fd) != 1 || ::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}
} // namespace

int errorColumns()
{
    return columnsOf(STDERR_FILENO);
}

int outputColumns()
{
    return columnsOf(STDOUT_FILENO);
}

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

} // namespace Cli::Terminal
