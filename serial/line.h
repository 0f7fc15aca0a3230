#pragma once

// The line the worker talks through: a serial port cabled to this machine,
// or a serial device server reached over the network (raw TCP, or telnet with
// the COM-PORT option of RFC 2217). Frames, waits, repeats and port-loss
// handling never know which: they use this interface alone, blocking, with
// bounded waits, on the worker thread.

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

// Why a line behind a device server could not be used or stopped working.
enum class NetworkReason : quint8 {
    BadAddress,        // not tcp://HOST:PORT or rfc2217://HOST:PORT
    HostNotFound,      // the name does not resolve
    Refused,           // nothing listens there
    NoAnswer,          // not connected within the open's time
    NoNegotiation,     // the server never answered the RFC 2217 negotiation
    SettingsRefused,   // the server refused binary mode, the COM-PORT option or 9600 8N1
    Closed,            // the server closed the connection
    Failed,            // any other network error
    SettingsWithdrawn, // after the start, the server withdrew binary mode or the settings
    LookupTooSlow,     // the name was not looked up within the open's time
};

// Why a line could not be used or stopped working: a value, the same for
// every line, taken once by the front ends into their own words.
struct LineFault
{
    enum class Kind : quint8 {
        None,
        Port,    // the serial port: `code` is its QSerialPort::SerialPortError
        Network, // the device server: `code` is a NetworkReason
        Flooded, // more came than a 9600-baud line carries: no line of devices
    };
    Kind kind = Kind::None;
    int code = 0;

    constexpr LineFault() {}
    constexpr LineFault(Kind faultKind, int faultCode)
        : kind(faultKind)
        , code(faultCode)
    {}
    static LineFault port(int serialPortError) { return {Kind::Port, serialPortError}; }
    static LineFault network(NetworkReason reason) { return {Kind::Network, int(reason)}; }
    static LineFault flooded() { return {Kind::Flooded, 0}; }

    explicit operator bool() const { return kind != Kind::None; }
    NetworkReason reason() const { return NetworkReason(code); }
    // The number the diagnostic texts give: a port's own error code; the
    // other faults lie above them all.
    int number() const;

    bool operator==(const LineFault &other) const
    {
        return kind == other.kind && code == other.code;
    }
};

// Every line runs at 9600 baud, 8 data bits, no parity, one stop bit: ten
// bits on the wire a byte.
constexpr int LineBaud = 9600;
constexpr int LineBitsPerByte = 10;

// The bytes that make a flood: a 9600-baud line carries some 57 600 bytes in
// the 60 s a search gathers at most. As many bytes unread at once, or as many
// to one request, end the job as a port failure.
constexpr qint64 FloodBytes = 64 * 1024;

// How a line of this name is reached: "serial", "tcp" (raw TCP to a device
// server) or "rfc2217" (telnet with the COM-PORT option).
QString lineForm(const QString &name);
// A port name that names a network line.
bool isNetworkName(const QString &name);

class Line
{
public:
    // Asked at least every WatchStepMs while an open waits: true ends the
    // open at once (the worker has been told to quit).
    using QuitCheck = std::function<bool()>;

    virtual ~Line() = default;

    // Opens the line by name, with 9600 baud, 8N1, no flow control, within
    // one bounded time. False when it cannot be used (fault() says why) or
    // when told to quit meanwhile.
    bool open(const QString &name, const QuitCheck &quitRequested);
    virtual void close() = 0;

    // The line is no use any more: a pulled adapter, a closed connection, a
    // server that withdrew the settings, or a flood (FloodBytes unread).
    // Kept from the first fault until the line is opened again.
    bool gone();
    // Why the line is gone or did not open.
    LineFault fault() const { return m_fault; }
    // Keeps a fault the line's user found (a flood); the first one stays.
    void fail(const LineFault &fault);

    // Hands bytes to the line; they are sent as the wait below goes on.
    virtual qint64 write(const char *data, qint64 size) = 0;
    // Bytes handed to the line and not yet sent.
    virtual qint64 bytesToWrite() const = 0;
    virtual bool waitForBytesWritten(int ms) = 0;
    // Drops what has not been sent, as far as the line can take it back
    // (each line says how far).
    virtual void discardOutput() = 0;

    // Line bytes that can be read now.
    virtual qint64 bytesAvailable() = 0;
    // Waits at most `ms` for line bytes to come; true when some came.
    virtual bool waitForReadyRead(int ms) = 0;
    virtual qint64 read(char *data, qint64 maxSize) = 0;

protected:
    // Opens the line; on failure keeps why with fail().
    virtual bool openLine(const QString &name, const QuitCheck &quitRequested) = 0;
    // A fault the line sees now, or none.
    virtual LineFault health() = 0;

private:
    LineFault m_fault;
};

// The line a port name asks for, not yet open.
std::unique_ptr<Line> makeLine(const QString &name);
