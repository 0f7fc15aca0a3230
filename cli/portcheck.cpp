// What the messages about a port share on every platform.

#include "cli/portcheck.h"

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

} // namespace Cli
