// The serial ports the window offers.

#include "ui/portlist.h"

#include <QSerialPortInfo>

namespace {
std::function<QStringList()> &source()
{
    static std::function<QStringList()> current = systemPortNames;
    return current;
}
} // namespace

QStringList listedPortNames(const QStringList &systemNames)
{
    QStringList listed;
    for (const QString &name : systemNames) {
        if (name.left(5) != QLatin1String("NULL_"))
            listed.append(name);
    }
    return listed;
}

QStringList systemPortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    return names;
}

void setPortNameSource(std::function<QStringList()> newSource)
{
    source() = newSource ? std::move(newSource) : systemPortNames;
}

QStringList portNamesFromSource()
{
    return source()();
}
