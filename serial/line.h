#pragma once

// The line the worker talks through: a serial port cabled to this machine,
// or a serial device server reached over the network (raw TCP, or telnet with
// the COM-PORT option of RFC 2217). Frames, waits, repeats and port-loss
// handling never know which: they use this interface alone, blocking, with
// bounded waits, on the worker thread.

#include <QString>

#include <memory>

// Why a network line could not be used or stopped working. A serial port's
// reasons are its QSerialPort::SerialPortError; these lie above them all.
enum NetworkError : int {
    NetworkBadAddress = 1000, // not tcp://HOST:PORT or rfc2217://HOST:PORT
    NetworkHostNotFound,      // the name does not resolve
    NetworkRefused,           // nothing listens there
    NetworkNoAnswer,          // no connection within the connect wait
    NetworkNoNegotiation,     // the server never answered the RFC 2217 negotiation
    NetworkSettingsRefused,   // the server refused binary mode, the COM-PORT option or 9600 8N1
    NetworkClosed,            // the server closed the connection
    NetworkFailed,            // any other network error
};

// Any line: it brought more bytes to one request than a 9600-baud line
// carries in the longest gathering. What floods the host so is no line of
// devices (a misconfigured device server, something else on the port).
constexpr int LineFlooded = 1100;
// The bytes that make a flood: a 9600-baud line carries some 57 600 bytes in
// the 60 s a search gathers at most.
constexpr qint64 FloodBytes = 64 * 1024;

// A port name that names a network line.
bool isNetworkName(const QString &name);
bool isNetworkError(int error);

class Line
{
public:
    virtual ~Line() = default;

    // Opens the line by name, with 9600 baud, 8N1, no flow control. False
    // when it cannot be used; error() then says why.
    virtual bool open(const QString &name) = 0;
    virtual void close() = 0;

    // The line is no use any more (a pulled adapter, a closed connection).
    // Kept from the first error that says so until the line is opened again.
    virtual bool gone() = 0;
    // Why the line is gone or did not open: a QSerialPort::SerialPortError,
    // or a NetworkError.
    virtual int error() const = 0;

    // Hands bytes to the line; they are sent as the wait below goes on.
    virtual qint64 write(const char *data, qint64 size) = 0;
    // Bytes handed to the line and not yet sent.
    virtual qint64 bytesToWrite() const = 0;
    virtual bool waitForBytesWritten(int ms) = 0;
    // Drops what has not been sent.
    virtual void discardOutput() = 0;

    // Line bytes that can be read now.
    virtual qint64 bytesAvailable() = 0;
    // Waits at most `ms` for line bytes to come; true when some came.
    virtual bool waitForReadyRead(int ms) = 0;
    virtual qint64 read(char *data, qint64 maxSize) = 0;
};

// The line a port name asks for, not yet open.
std::unique_ptr<Line> makeLine(const QString &name);
