// What is wrong with a port, on Windows: its name among the COM ports, and
// the answer Windows gave.

#include "cli/portcheck.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStringList>

namespace Cli {

QString portProblem(const QString &port, bool lost, int serialError)
{
    const QFileInfo file(port);
    if (file.isDir())
        return QStringLiteral("%1 is a folder, not a serial port").arg(port);
    if (file.isFile())
        return QStringLiteral("%1 is a regular file, not a serial port").arg(port);
    bool listed = false;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        listed = listed || info.portName().compare(port, Qt::CaseInsensitive) == 0;
    if (lost)
        return QStringLiteral("lost %1: the adapter was unplugged or its driver stopped; plug it "
                              "back in and try again")
            .arg(port);
    if (!listed || serialError == QSerialPort::DeviceNotFoundError)
        return QStringLiteral("no such port: %1 (%2)").arg(port, listedPortsText());
    // Windows lets one program at a time have a COM port.
    if (serialError == QSerialPort::PermissionError)
        return QStringLiteral("%1 is in use by another program; close it and try again").arg(port);
    return QStringLiteral("cannot open %1 (error %2)").arg(port).arg(serialError);
}

} // namespace Cli
