#pragma once

// Why a port could not be used, said in words for the operator, with what to
// do about it. The worker knows only that the open failed or that the port
// stopped working; this looks at the port from outside, without opening it.
// One implementation per platform.

#include "serial/line.h"

#include <QString>

namespace Cli {

// `lost`: the port failed under the job (otherwise it could not be opened);
// `serialError`: the port's error then, a QSerialPort::SerialPortError.
QString portProblem(const QString &port, bool lost, int serialError);

// The serial ports this machine lists, for a message: "ttyUSB0, ttyS0", or
// that there is none.
QString listedPortsText();

// Why a line could not be used, in words: a serial port (portProblem), a
// line behind a device server, or a flood.
QString lineProblem(const QString &port, bool lost, const LineFault &fault);

} // namespace Cli
