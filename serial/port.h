#pragma once

// The port's health, as the worker sees it: opening it, telling a port that is
// gone (the adapter was pulled, the driver failed) from one that is merely
// quiet, and pausing with an eye on it.

#include <QString>

#include <functional>

class QSerialPort;

namespace LinePort {

// How often a wait on the port looks whether the worker has been told to quit
// or the port has gone.
constexpr int WatchStepMs = 100;

// Closes the port, names it anew and opens it for reading and writing.
bool open(QSerialPort &port, const QString &name);

// The port's last error means it is no use any more. Line noise and time-outs
// do not.
bool gone(const QSerialPort &port);

// Waits `ms`, but returns early when told to quit, and returns false at once
// when the port goes away, so a pulled adapter is reported without sitting
// out a long pause. What arrives meanwhile stays in the port's buffer.
bool pause(QSerialPort &port, int ms, const std::function<bool()> &quitRequested);

} // namespace LinePort
