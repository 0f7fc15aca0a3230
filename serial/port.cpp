// Opening the port and watching that it is still there.

#include "serial/port.h"

#include <QElapsedTimer>
#include <QSerialPort>

namespace LinePort {

bool open(QSerialPort &port, const QString &name)
{
    port.close();
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    // On Windows the toolkit starts reading the port only once asked for
    // data; where the driver's notification that bytes came never arrives
    // (Wine's serial layer drops it), nothing would ever be read. Asked at
    // once, the port is read from the start and the first answer is never
    // missed. A peek takes nothing out of the buffer; on Unix it does nothing.
    char none = 0;
    port.peek(&none, 1);
    return true;
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
