// Opening the port and watching that it is still there.

#include "serial/port.h"

#include <QElapsedTimer>
#include <QSerialPort>

namespace LinePort {

bool open(QSerialPort &port, const QString &name)
{
    port.close();
    port.setPortName(name);
    return port.open(QIODevice::ReadWrite);
}

bool gone(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::NotOpenError:
    case QSerialPort::UnknownError:
        return true;
    default:
        return false;
    }
}

bool pause(QSerialPort &port, int ms, const std::function<bool()> &quitRequested)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0 || quitRequested())
            return true;
        // Returns at once when new bytes arrive, and they join the buffer.
        if (!port.waitForReadyRead(int(qMin<qint64>(left, WatchStepMs))) && gone(port))
            return false;
    }
}

} // namespace LinePort
