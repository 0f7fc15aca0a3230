// The terminal on Unix.

#include "cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace Cli::Terminal {

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int errorColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

} // namespace Cli::Terminal
