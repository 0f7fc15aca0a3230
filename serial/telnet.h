#pragma once

// The client side of telnet with the COM-PORT option (RFC 854, RFC 2217), as
// a serial device server speaks it, on bytes alone: no socket here.
//
// The line's bytes travel as telnet data: 0xFF is doubled on the way out and
// undoubled on the way in; everything else the server sends is a command.
// Each option is agreed in each direction apart (RFC 1143): the client asks
// for binary mode both ways and offers the COM-PORT option, and refuses every
// other option, and the server's own COM-PORT offer, once in each direction.
// Once COM-PORT is agreed it purges the server's buffers and sets 9600 baud,
// 8 data bits, no parity, one stop bit and no flow control. The settings'
// answers are taken by their code, whatever their order; a purge's answer is
// taken if it comes and never waited for (ser2net 4.0 to 4.3 never send it).
// Unasked notifications are ignored. Once the line is ready, a server that
// withdraws binary mode, the COM-PORT option or a setting has withdrawn the
// line: nothing it sends after that is the line's. Nothing the server sends
// makes this keep more than a bounded number of bytes.

#include "serial/linecodec.h"

#include <array>
#include <bitset>

class TelnetClient : public LineCodec
{
public:
    QByteArray start() override;
    void take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply) override;
    QByteArray encode(const char *bytes, qint64 size) const override;
    QByteArray purgeOutput() const override;
    State state() const override;

    // Line bytes as they go to the server (0xFF doubled).
    static QByteArray escape(const char *bytes, qint64 size);

private:
    // Where an option stands in one direction (RFC 1143, without its queue:
    // the client never changes its mind).
    enum class Q : quint8 { No, Yes, WantNo, WantYes };
    struct Side
    {
        std::array<Q, 256> state{};   // all No
        std::bitset<256> refusedOnce; // options refused already in this direction
    };

    void option(quint8 verb, quint8 option, QByteArray *reply);
    // The server offers (WILL) or withdraws (WONT) an option on its side, or
    // asks (DO) or tells (DONT) the client to use one on its own.
    void enable(Side &side, quint8 option, bool wanted, quint8 yes, quint8 no, QByteArray *reply);
    void disable(Side &side, quint8 option, bool wanted, quint8 no, QByteArray *reply);
    // What the line needs was refused; withdrawn when the line was `ready`.
    void lost(bool ready);
    void subnegotiation();
    void setAll(QByteArray *reply);
    void settingAnswered(quint8 code, const QByteArray &value);
    bool agreed() const;

    enum class Parse { Data, Command, Option, Sub, SubIac };
    Parse m_parse = Parse::Data;
    quint8 m_command = 0;
    QByteArray m_sub; // the subnegotiation being read, bounded
    bool m_subTooLong = false;

    Side m_us;  // what the client does: binary mode, COM-PORT
    Side m_him; // what the server does: binary mode
    bool m_settingsSent = false;
    bool m_refused = false;
    bool m_withdrawn = false;
    quint16 m_answered = 0; // a bit per setting the server has confirmed
};
