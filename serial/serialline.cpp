// The serial port the worker talks through, and its health.

#include "serial/serialline.h"

#include <QSerialPort>

#include <atomic>

namespace {

std::atomic<int> InjectedFault{QSerialPort::NoError};

// The port's error means it is no use any more. Line noise and time-outs do
// not; an operation the driver refuses does only once the port has worked
// (a driver that refuses what it did a moment ago has lost its device).
bool meansGone(int error, bool worked)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::NotOpenError:
    case QSerialPort::UnknownError:
        return true;
    case QSerialPort::UnsupportedOperationError:
        return worked;
    default:
        return false;
    }
}

} // namespace

SerialLine::SerialLine()
    : m_port(std::make_unique<QSerialPort>())
{
    // Direct: the port and its owner live on the worker thread, and the error
    // must be kept before the next wait's time-out replaces it.
    QObject::connect(m_port.get(),
                     &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError error) { note(int(error)); });
}

SerialLine::~SerialLine() = default;

void SerialLine::note(int error)
{
    if (meansGone(error, m_worked))
        fail(LineFault::port(error));
}

bool SerialLine::openLine(const QString &name, const QuitCheck &)
{
    // Closing a port that is not open is an error of its own (NotOpenError).
    if (m_port->isOpen())
        m_port->close();
    m_worked = false;
    InjectedFault = QSerialPort::NoError;
    m_port->setPortName(systemPortName(name));
    if (!m_port->open(QIODevice::ReadWrite)) {
        // Whatever the port says, its own error code tells why.
        fail(LineFault::port(int(m_port->error())));
        return false;
    }
    // On Windows the toolkit first waits for the driver's notice that bytes
    // came (WaitCommEvent) and reads only then. Wine's serial layer ends that
    // wait with no notice (a pseudo-terminal has no modem lines), so nothing
    // would ever be read: the Windows pass under Wine fails without this,
    // with Qt Serial Port 5.15.8 and with 5.15.15 alike. Asking for data at
    // once posts a read straight away, which Wine completes when bytes come;
    // on Windows it only starts the reading a moment early. A peek takes
    // nothing out of the buffer; on Unix it does nothing.
    char none = 0;
    m_port->peek(&none, 1);
    return true;
}

void SerialLine::close()
{
    if (m_port->isOpen())
        m_port->close();
}

LineFault SerialLine::health()
{
    const int injected = InjectedFault.exchange(QSerialPort::NoError);
    if (injected != QSerialPort::NoError)
        note(injected);
    return fault();
}

qint64 SerialLine::write(const char *data, qint64 size)
{
    return m_port->write(data, size);
}

qint64 SerialLine::bytesToWrite() const
{
    return m_port->bytesToWrite();
}

bool SerialLine::waitForBytesWritten(int ms)
{
    const bool written = m_port->waitForBytesWritten(ms);
    m_worked = m_worked || written;
    return written;
}

void SerialLine::discardOutput()
{
    m_port->clear(QSerialPort::Output);
}

qint64 SerialLine::bytesAvailable()
{
    return m_port->bytesAvailable();
}

bool SerialLine::waitForReadyRead(int ms)
{
    return m_port->waitForReadyRead(ms);
}

qint64 SerialLine::read(char *data, qint64 maxSize)
{
    const qint64 n = m_port->read(data, maxSize);
    m_worked = m_worked || n > 0;
    return n;
}

namespace TestSeam {
void injectLineFault(int error)
{
    InjectedFault = error;
}
} // namespace TestSeam
