#pragma once

// The serial line as the worker uses it: a QSerialPort created on the worker
// thread, and the port's health. A port is gone (the adapter was pulled, the
// driver failed) from the first error that says so until it is opened again:
// later errors, the time-out every blocking wait that runs out sets among
// them, never hide it. Output not yet sent is dropped by the driver.

#include "serial/line.h"

class QSerialPort;

class SerialLine : public Line
{
public:
    SerialLine();
    ~SerialLine() override;
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    void close() override;

    // Blocking use, with bounded waits, as the toolkit offers it.
    qint64 write(const char *data, qint64 size) override;
    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int ms) override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    bool waitForReadyRead(int ms) override;
    qint64 read(char *data, qint64 maxSize) override;

protected:
    // Closes the port, names it anew and opens it for reading and writing
    // (9600 baud, 8N1, no flow control: the toolkit's defaults). Opening a
    // port does not wait.
    bool openLine(const QString &name, const QuitCheck &quitRequested) override;
    LineFault health() override;

private:
    void note(int error);

    std::unique_ptr<QSerialPort> m_port;
    bool m_worked = false; // the port has carried bytes since it was opened
};

// The name the system opens a port by. On Windows the toolkit adds the
// device prefix only to names that begin with upper-case COM, so "com12" is
// taken as "COM12"; elsewhere names are taken as given. One implementation
// per platform.
QString systemPortName(const QString &name);

namespace TestSeam {
// The next look at a line's health finds this error recorded, as if the
// driver had reported it (a QSerialPort::SerialPortError): for tests of a
// port lost where a test cannot pull an adapter out.
void injectLineFault(int error);
} // namespace TestSeam
