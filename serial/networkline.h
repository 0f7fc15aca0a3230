#pragma once

// A line reached through a serial device server: tcp://HOST:PORT (raw TCP,
// every byte a byte on the line) or rfc2217://HOST:PORT (telnet with the
// COM-PORT option). HOST is a name, an IPv4 address or a bracketed IPv6
// address. A QTcpSocket on the worker thread, used blocking with the same
// bounded steps as a serial port; connecting and, for RFC 2217, agreeing
// the line's settings take at most the connect wait.

#include "serial/line.h"
#include "serial/telnet.h"

#include <QByteArray>

#include <memory>

class QTcpSocket;

class NetworkLine : public Line
{
public:
    NetworkLine();
    ~NetworkLine() override;
    NetworkLine(const NetworkLine &) = delete;
    NetworkLine &operator=(const NetworkLine &) = delete;

    bool open(const QString &name) override;
    void close() override;
    bool gone() override;
    int error() const override;
    qint64 write(const char *data, qint64 size) override;
    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int ms) override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    bool waitForReadyRead(int ms) override;
    qint64 read(char *data, qint64 maxSize) override;

    // What is kept of what the server sent before it is read: a server that
    // floods is held back by TCP itself beyond this.
    static constexpr qint64 MaxBuffered = 64 * 1024;

private:
    bool connectTo(const QString &host, quint16 port);
    bool negotiate();
    // Moves what the socket holds through the telnet layer (RFC 2217) into
    // the line's bytes, as far as the buffer allows.
    void pump();
    bool fail(int error);
    void note(int socketError);

    std::unique_ptr<QTcpSocket> m_socket;
    bool m_telnet = false;
    TelnetClient m_client;
    QByteArray m_data; // line bytes that came (RFC 2217), not yet read
    int m_fault = 0;   // a NetworkError once the line is gone or did not open
};
