#pragma once

// A line reached through a serial device server: tcp://HOST:PORT (raw TCP,
// every byte a byte on the line) or rfc2217://HOST:PORT (telnet with the
// COM-PORT option). HOST is a name, an IPv4 address or a bracketed IPv6
// address. A QTcpSocket on the worker thread, used blocking with the same
// bounded steps as a serial port; the line's bytes pass through a codec
// (serial/linecodec.h) that is all the two forms differ in.
//
// The open has one time for all of it: looking the name up, connecting to
// each of its addresses in turn, and agreeing the line's settings; it looks
// at the worker's quit every WatchStepMs.
//
// What has been handed to a socket cannot be taken back: discarding output
// leaves what the socket holds to go out, no longer counted as waiting; on
// RFC 2217 the server is asked to purge what it has not yet sent on the line
// (PURGE-DATA), which takes what was cut off with it. On raw TCP the server
// cannot be asked.

#include "serial/line.h"
#include "serial/linecodec.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <memory>

class QHostAddress;
class QTcpSocket;
class OpenClock;

class NetworkLine : public Line
{
public:
    NetworkLine();
    ~NetworkLine() override;
    NetworkLine(const NetworkLine &) = delete;
    NetworkLine &operator=(const NetworkLine &) = delete;

    void close() override;
    qint64 write(const char *data, qint64 size) override;
    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int ms) override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    bool waitForReadyRead(int ms) override;
    qint64 read(char *data, qint64 maxSize) override;

    // The line's bytes kept unread, at most: a server that sends more is
    // held back by TCP itself, and this much unread is a flood.
    static constexpr qint64 MaxBuffered = FloodBytes;

protected:
    bool openLine(const QString &name, const QuitCheck &quitRequested) override;
    LineFault health() override;

private:
    enum class Attempt { Connected, Refused, NoAnswer, Failed, Quit };

    bool lookUp(const QString &host, OpenClock &clock, QList<QHostAddress> *addresses);
    bool connectTo(const QList<QHostAddress> &addresses, quint16 port, OpenClock &clock);
    Attempt attempt(const QHostAddress &address, quint16 port, qint64 budget, OpenClock &clock);
    bool negotiate(OpenClock &clock);
    // Moves what the socket holds through the codec into the line's bytes,
    // as far as the bound allows; the codec's answers go back at once.
    void pump();
    // Nothing more can come until the line's bytes are read, or ever.
    bool stalled() const;
    void send(const QByteArray &bytes, bool lineBytes);
    bool fail(NetworkReason reason);
    void note(int socketError);

    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<LineCodec> m_codec;
    QByteArray m_data; // line bytes that came, not yet read
    // Bytes the socket holds that are not the line's to wait for: the
    // codec's answers, and what was discarded.
    qint64 m_notLine = 0;
    QElapsedTimer m_lastWrite; // since line bytes were last handed to the socket
    qint64 m_lastWriteBytes = 0;
};
