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

QString networkProblem(const QString &line, bool lost, NetworkReason reason)
{
    const int waitS = (lineTiming().openWait + 999) / 1000;
    switch (reason) {
    case NetworkReason::BadAddress:
        return QStringLiteral("%1 is no line address: give tcp://HOST:PORT or rfc2217://HOST:PORT "
                              "(an IPv6 address in brackets)")
            .arg(line);
    case NetworkReason::HostNotFound:
        return QStringLiteral("%1: host not found; check the device server's name").arg(line);
    case NetworkReason::LookupTooSlow:
        return QStringLiteral("%1: the name could not be looked up within %2 s; check the name "
                              "servers, or give the device server's address")
            .arg(line)
            .arg(waitS);
    case NetworkReason::Refused:
        return QStringLiteral("%1: connection refused; nothing listens there (the device server "
                              "is off, or its port is another)")
            .arg(line);
    case NetworkReason::NoAnswer:
        return QStringLiteral("%1: no answer within %2 s; the device server cannot be reached "
                              "(address, network, firewall)")
            .arg(line)
            .arg(waitS);
    case NetworkReason::NoNegotiation:
        return QStringLiteral("%1: the server did not answer the RFC 2217 negotiation within %2 s; "
                              "if it is a raw TCP port, use tcp://")
            .arg(line)
            .arg(waitS);
    case NetworkReason::SettingsRefused:
        return QStringLiteral("%1: the server refused the line's settings (binary mode, 9600 8N1, "
                              "no flow control); set them on the device server, or use tcp:// "
                              "with the server set to 9600 8N1")
            .arg(line);
    case NetworkReason::SettingsWithdrawn:
        return QStringLiteral("lost %1: the device server withdrew binary mode or the line's "
                              "settings (changed on the server, or by another client); nothing "
                              "after that was taken as an answer")
            .arg(line);
    case NetworkReason::Closed:
        return lost ? QStringLiteral("lost %1: the device server closed the connection (stopped, "
                                     "restarted, or another client took the line)")
                          .arg(line)
                    : QStringLiteral("%1: the device server closed the connection at once (is "
                                     "another client on it?)")
                          .arg(line);
    case NetworkReason::Failed:
        break;
    }
    return lost ? QStringLiteral("lost %1: the network connection failed").arg(line)
                : QStringLiteral("%1: the network connection failed").arg(line);
}

} // namespace

QString lineProblem(const QString &port, bool lost, const LineFault &fault)
{
    switch (fault.kind) {
    case LineFault::Kind::Flooded:
        return QStringLiteral("%1 floods: more bytes came than a 9600-baud line carries; it is no "
                              "line of devices (check the device server's or the port's settings)")
            .arg(port);
    case LineFault::Kind::Network:
        return networkProblem(port, lost, fault.reason());
    case LineFault::Kind::Port:
    case LineFault::Kind::None:
        break;
    }
    if (isNetworkName(port))
        return networkProblem(port, lost, NetworkReason::Failed);
    return portProblem(port, lost, fault.code);
}

} // namespace Cli
