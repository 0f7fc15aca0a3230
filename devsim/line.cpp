// The simulator's end of the line: a pseudo-terminal or a real serial port.

#include "devsim/line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace DevSim {

namespace {

bool fail(std::string *error, const std::string &what)
{
    if (error)
        *error = what + ": " + std::strerror(errno);
    return false;
}

bool makeRaw(int fd, speed_t speed)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speed != B0 && (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0))
        return false;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool setFlags(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0
           && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

speed_t speedFor(int baud)
{
    static const struct
    {
        int baud;
        speed_t speed;
    } speeds[] = {{1200, B1200},
                  {2400, B2400},
                  {4800, B4800},
                  {9600, B9600},
                  {19200, B19200},
                  {38400, B38400},
                  {57600, B57600},
                  {115200, B115200},
                  {230400, B230400},
                  {460800, B460800},
                  {921600, B921600}};
    for (const auto &entry : speeds) {
        if (entry.baud == baud)
            return entry.speed;
    }
    return B0;
}

} // namespace

bool openPtyLine(LineFds *fds, std::string *error)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return fail(error, "openpty");
    if (!makeRaw(slave, B0) || !setFlags(master) || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        fail(error, "pseudo-terminal setup");
        ::close(master);
        ::close(slave);
        return false;
    }
    fds->line = master;
    fds->keep = slave;
    fds->path = name;
    return true;
}

bool openSerialLine(const std::string &path, int baud, LineFds *fds, std::string *error)
{
    const speed_t speed = speedFor(baud);
    if (speed == B0) {
        if (error)
            *error = "unsupported baud rate " + std::to_string(baud);
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(error, path);
    if (!makeRaw(fd, speed)) {
        fail(error, path);
        ::close(fd);
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    fds->line = fd;
    fds->keep = -1;
    fds->path = path;
    return true;
}

void closeLine(LineFds *fds)
{
    if (fds->line >= 0)
        ::close(fds->line);
    if (fds->keep >= 0)
        ::close(fds->keep);
    fds->line = -1;
    fds->keep = -1;
}

} // namespace DevSim
