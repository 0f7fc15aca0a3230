#pragma once

// Opening the line the simulated devices sit on: a pseudo-terminal of our own
// or a real serial port. Both come back raw and non-blocking.

#include <string>

namespace DevSim {

struct LineFds
{
    int line = -1; // read and written by the simulator
    int keep = -1; // pseudo-terminal only: the slave, held open so the line never hangs up
    std::string path;
};

bool openPtyLine(LineFds *fds, std::string *error);
bool openSerialLine(const std::string &path, int baud, LineFds *fds, std::string *error);
void closeLine(LineFds *fds);

} // namespace DevSim
