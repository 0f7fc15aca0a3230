// What the messages about a port share on every platform.

#include "cli/portcheck.h"

#include "serial/line.h"
#include "serial/timing.h"

#include <QSerialPortInfo>
#include <QStringList>

namespace Cli {

QString listedPortsText()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    if (names.isEmpty())
        return QStringLiteral("this machine lists no serial port");
    return QStringLiteral("ports here: %1").arg(names.join(QStringLiteral(", ")));
}

namespace {

QString networkProblem(const QString &line, bool lost, int error)
{
    const int waitS = (lineTiming().connectWait + 999) / 1000;
    switch (error) {
    case NetworkBadAddress:
        return QStringLiteral("%1 is no line address: give tcp://HOST:PORT or rfc2217://HOST:PORT "
                              "(an IPv6 address in brackets)")
            .arg(line);
    case NetworkHostNotFound:
        return QStringLiteral("%1: host not found; check the device server's name").arg(line);
    case NetworkRefused:
        return QStringLiteral("%1: connection refused; nothing listens there (the device server "
                              "is off, or its port is another)")
            .arg(line);
    case NetworkNoAnswer:
        return QStringLiteral("%1: no answer within %2 s; the device server cannot be reached "
                              "(address, network, firewall)")
            .arg(line)
            .arg(waitS);
    case NetworkNoNegotiation:
        return QStringLiteral("%1: the server did not answer the RFC 2217 negotiation within %2 s; "
                              "if it is a raw TCP port, use tcp://")
            .arg(line)
            .arg(waitS);
    case NetworkSettingsRefused:
        return QStringLiteral("%1: the server refused the line's settings (binary mode, 9600 8N1, "
                              "no flow control); set them on the device server, or use tcp:// "
                              "with the server set to 9600 8N1")
            .arg(line);
    case NetworkClosed:
        return lost ? QStringLiteral("lost %1: the device server closed the connection (stopped, "
                                     "restarted, or another client took the line)")
                          .arg(line)
                    : QStringLiteral("%1: the device server closed the connection at once (is "
                                     "another client on it?)")
                          .arg(line);
    default:
        return lost ? QStringLiteral("lost %1: the network connection failed").arg(line)
                    : QStringLiteral("%1: the network connection failed").arg(line);
    }
}

} // namespace

QString lineProblem(const QString &port, bool lost, int error)
{
    if (error == LineFlooded)
        return QStringLiteral("%1 floods: more bytes came to one request than a 9600-baud line "
                              "carries; it is no line of devices (check the device server's or "
                              "the port's settings)")
            .arg(port);
    if (isNetworkName(port) || isNetworkError(error))
        return networkProblem(port, lost, error);
    return portProblem(port, lost, error);
}

} // namespace Cli
