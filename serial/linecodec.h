#pragma once

// How a line's bytes travel over a connection to a serial device server:
// as they are (raw TCP), or as telnet data with the COM-PORT option
// (RFC 2217, serial/telnet.h). A codec works on bytes alone, no socket here:
// the network line moves what a codec gives.

#include <QByteArray>

class LineCodec
{
public:
    enum class State {
        Agreeing,  // the line's settings are not all agreed yet
        Ready,     // the bytes are the line's
        Refused,   // the server refused what the line needs
        Withdrawn, // after the start, the server withdrew it: nothing more is the line's
    };

    virtual ~LineCodec() = default;

    // What the client says first.
    virtual QByteArray start() = 0;
    // Takes bytes as they came from the server: the line's bytes go to
    // `data`, what the client must answer to `reply`.
    virtual void take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply) = 0;
    // The line's bytes as they go to the server.
    virtual QByteArray encode(const char *bytes, qint64 size) const = 0;
    // What asks the server to drop the bytes it holds for the line and has
    // not sent on it yet; empty where the server cannot be asked.
    virtual QByteArray purgeOutput() const = 0;
    virtual State state() const = 0;
};

// Raw TCP: every byte is a byte on the line, the server's settings are its own.
class RawCodec : public LineCodec
{
public:
    QByteArray start() override { return {}; }
    void take(const char *bytes, qint64 size, QByteArray *data, QByteArray *) override
    {
        data->append(bytes, int(size));
    }
    QByteArray encode(const char *bytes, qint64 size) const override
    {
        return QByteArray(bytes, int(size));
    }
    QByteArray purgeOutput() const override { return {}; }
    State state() const override { return State::Ready; }
};
