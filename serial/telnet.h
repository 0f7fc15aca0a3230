#pragma once

// The client side of telnet with the COM-PORT option (RFC 854, RFC 2217), as
// a serial device server speaks it, on bytes alone: no socket here.
//
// The line's bytes travel as telnet data: 0xFF is doubled on the way out and
// undoubled on the way in; everything else the server sends is a command.
// The client asks for binary mode both ways and the COM-PORT option, refuses
// every other option once, sets 9600 baud, 8 data bits, no parity, one stop
// bit and no flow control, and purges the server's buffers. The server's
// answers are taken by their code, whatever their order; its unasked
// notifications are ignored. Nothing the server sends makes this keep more
// than a bounded number of bytes.

#include <QByteArray>

class TelnetClient
{
public:
    enum class Settings {
        Pending,  // not all options agreed or not all settings answered yet
        Accepted, // binary both ways, COM-PORT, and 9600 8N1 without flow control
        Refused,  // the server refused one of them
    };

    // What the client says first.
    QByteArray start();

    // Takes bytes as they came from the server: line bytes go to `data`,
    // what the client must answer to `reply`.
    void take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply);

    // Line bytes as they go to the server (0xFF doubled).
    static QByteArray escape(const char *bytes, qint64 size);

    Settings settings() const;

private:
    void option(quint8 command, quint8 option, QByteArray *reply);
    void subnegotiation();
    void setAll(QByteArray *reply);
    void settingAnswered(quint8 code, const QByteArray &value);

    enum class State { Data, Iac, Option, Sub, SubIac };
    State m_state = State::Data;
    quint8 m_command = 0;
    QByteArray m_sub;        // the subnegotiation being read, bounded
    bool m_subTooLong = false;

    bool m_localBinary = false;  // the server agreed that we send binary
    bool m_remoteBinary = false; // the server sends binary
    bool m_comPort = false;      // the server agreed to the COM-PORT option
    bool m_settingsSent = false;
    bool m_refused = false;
    quint16 m_answered = 0; // a bit per setting the server has confirmed
    quint32 m_refusedOptions[8] = {}; // options refused once, a bit each
};
