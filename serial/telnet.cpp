// Telnet with the COM-PORT option, the client's side, on bytes.

#include "serial/telnet.h"

#include "serial/line.h"

namespace {

// Telnet commands (RFC 854).
constexpr quint8 Iac = 0xFF;
constexpr quint8 Dont = 0xFE;
constexpr quint8 Do = 0xFD;
constexpr quint8 Wont = 0xFC;
constexpr quint8 Will = 0xFB;
constexpr quint8 Sb = 0xFA;
constexpr quint8 Se = 0xF0;

// Options.
constexpr quint8 Binary = 0;   // RFC 856
constexpr quint8 ComPort = 44; // RFC 2217

// COM-PORT commands from the client; the server answers each with its code
// plus 100.
constexpr quint8 SetBaudRate = 1;
constexpr quint8 SetDataSize = 2;
constexpr quint8 SetParity = 3;
constexpr quint8 SetStopSize = 4;
constexpr quint8 SetControl = 5;
constexpr quint8 PurgeData = 12;
constexpr quint8 ServerAnswer = 100;

constexpr quint32 Baud = LineBaud;
constexpr quint8 DataBits = 8;
constexpr quint8 ParityNone = 1;
constexpr quint8 OneStopBit = 1;
constexpr quint8 NoFlowControl = 1;
constexpr quint8 PurgeBoth = 3;
constexpr quint8 PurgeTransmit = 2; // what the server holds to send on the line

// The longest subnegotiation kept; COM-PORT answers are a few bytes.
constexpr int MaxSub = 64;

struct Setting
{
    quint8 command;
    QByteArray value;
};

// The settings the line needs, each confirmed by the server.
const Setting LineSettings[] = {
    {SetBaudRate,
     QByteArray::fromRawData("\x00\x00\x25\x80", 4)}, // 9600, high byte first
    {SetDataSize, QByteArray(1, char(DataBits))},
    {SetParity, QByteArray(1, char(ParityNone))},
    {SetStopSize, QByteArray(1, char(OneStopBit))},
    {SetControl, QByteArray(1, char(NoFlowControl))},
};
constexpr size_t SettingCount = sizeof LineSettings / sizeof LineSettings[0];
const quint16 AllAnswered = quint16((1u << SettingCount) - 1);

QByteArray command(quint8 verb, quint8 option)
{
    QByteArray bytes;
    bytes.append(char(Iac));
    bytes.append(char(verb));
    bytes.append(char(option));
    return bytes;
}

QByteArray comPortCommand(quint8 code, const QByteArray &value)
{
    QByteArray bytes;
    bytes.append(char(Iac));
    bytes.append(char(Sb));
    bytes.append(char(ComPort));
    bytes.append(char(code));
    bytes.append(TelnetClient::escape(value.constData(), value.size()));
    bytes.append(char(Iac));
    bytes.append(char(Se));
    return bytes;
}

} // namespace

static_assert(Baud == 0x2580, "the baud rate's bytes above");

QByteArray TelnetClient::start()
{
    m_us.state[Binary] = Q::WantYes;
    m_him.state[Binary] = Q::WantYes;
    m_us.state[ComPort] = Q::WantYes;
    return command(Will, Binary) + command(Do, Binary) + command(Will, ComPort);
}

QByteArray TelnetClient::escape(const char *bytes, qint64 size)
{
    QByteArray out;
    out.reserve(int(size + size / 8));
    for (qint64 i = 0; i < size; ++i) {
        out.append(bytes[i]);
        if (quint8(bytes[i]) == Iac)
            out.append(char(Iac));
    }
    return out;
}

QByteArray TelnetClient::encode(const char *bytes, qint64 size) const
{
    return escape(bytes, size);
}

QByteArray TelnetClient::purgeOutput() const
{
    if (m_us.state[ComPort] != Q::Yes)
        return {};
    return comPortCommand(PurgeData, QByteArray(1, char(PurgeTransmit)));
}

bool TelnetClient::agreed() const
{
    return m_us.state[Binary] == Q::Yes && m_him.state[Binary] == Q::Yes
           && m_us.state[ComPort] == Q::Yes && m_answered == AllAnswered;
}

LineCodec::State TelnetClient::state() const
{
    if (m_withdrawn)
        return State::Withdrawn;
    if (m_refused)
        return State::Refused;
    return agreed() ? State::Ready : State::Agreeing;
}

void TelnetClient::take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply)
{
    // Once the server has withdrawn the line, nothing it sends is the line's.
    for (qint64 i = 0; i < size && !m_withdrawn; ++i) {
        const quint8 b = quint8(bytes[i]);
        switch (m_parse) {
        case Parse::Data:
            if (b == Iac)
                m_parse = Parse::Command;
            else
                data->append(char(b));
            break;
        case Parse::Command:
            if (b == Iac) {
                data->append(char(Iac));
                m_parse = Parse::Data;
            } else if (b == Will || b == Wont || b == Do || b == Dont) {
                m_command = b;
                m_parse = Parse::Option;
            } else if (b == Sb) {
                m_sub.clear();
                m_subTooLong = false;
                m_parse = Parse::Sub;
            } else {
                m_parse = Parse::Data; // a command without an option (NOP, GA, ...)
            }
            break;
        case Parse::Option:
            option(m_command, b, reply);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
            if (b == Iac)
                m_parse = Parse::SubIac;
            else if (m_sub.size() < MaxSub)
                m_sub.append(char(b));
            else
                m_subTooLong = true;
            break;
        case Parse::SubIac:
            if (b == Iac) {
                if (m_sub.size() < MaxSub)
                    m_sub.append(char(Iac));
                else
                    m_subTooLong = true;
                m_parse = Parse::Sub;
            } else if (b == Se) {
                if (!m_subTooLong)
                    subnegotiation();
                m_parse = Parse::Data;
            } else {
                // A subnegotiation cut off by another command: dropped.
                m_parse = Parse::Command;
                --i;
            }
            break;
        }
    }
}

void TelnetClient::option(quint8 verb, quint8 option, QByteArray *reply)
{
    switch (verb) {
    case Will: // the server would use it on its side
        enable(m_him, option, option == Binary, Do, Dont, reply);
        break;
    case Wont:
        disable(m_him, option, option == Binary, Dont, reply);
        break;
    case Do: // the server asks the client to use it
        enable(m_us, option, option == Binary || option == ComPort, Will, Wont, reply);
        if (option == ComPort && m_us.state[ComPort] == Q::Yes)
            setAll(reply);
        break;
    case Dont:
        disable(m_us, option, option == Binary || option == ComPort, Wont, reply);
        break;
    }
}

void TelnetClient::enable(
    Side &side, quint8 option, bool wanted, quint8 yes, quint8 no, QByteArray *reply)
{
    Q &state = side.state[option];
    switch (state) {
    case Q::No:
        if (wanted) {
            state = Q::Yes;
            reply->append(command(yes, option));
        } else if (!side.refusedOnce.test(option)) {
            // Refused once in each direction: a server that asks again and
            // again gets no answer, so no exchange runs forever.
            side.refusedOnce.set(option);
            reply->append(command(no, option));
        }
        break;
    case Q::WantYes: // the answer to what the client asked
        state = Q::Yes;
        break;
    case Q::WantNo: // an error of the server's; the option stays off
        state = Q::No;
        break;
    case Q::Yes:
        break;
    }
}

void TelnetClient::disable(Side &side, quint8 option, bool wanted, quint8 no, QByteArray *reply)
{
    Q &state = side.state[option];
    const bool ready = agreed();
    switch (state) {
    case Q::Yes: // withdrawn: acknowledged, as the protocol asks
        state = Q::No;
        reply->append(command(no, option));
        if (wanted)
            lost(ready);
        break;
    case Q::WantYes: // what the client asked for is refused
        state = Q::No;
        if (wanted)
            lost(ready);
        break;
    case Q::WantNo:
        state = Q::No;
        break;
    case Q::No: // the acknowledgement of the client's own refusal
        break;
    }
}

// The server refused or withdrew what the line needs: before the line is
// ready a refusal, after it a withdrawal.
void TelnetClient::lost(bool ready)
{
    if (ready)
        m_withdrawn = true;
    else
        m_refused = true;
}

// The server's buffers are purged first, so that nothing it held before
// comes after the settings' answers; then the line's settings.
void TelnetClient::setAll(QByteArray *reply)
{
    if (m_settingsSent)
        return;
    m_settingsSent = true;
    reply->append(comPortCommand(PurgeData, QByteArray(1, char(PurgeBoth))));
    for (const Setting &setting : LineSettings)
        reply->append(comPortCommand(setting.command, setting.value));
}

void TelnetClient::subnegotiation()
{
    if (m_sub.size() < 2 || quint8(m_sub.at(0)) != ComPort)
        return;
    const quint8 code = quint8(m_sub.at(1));
    if (code > ServerAnswer) // else a client's command, which a server never sends
        settingAnswered(quint8(code - ServerAnswer), m_sub.mid(2));
}

// An answer to one of the settings, by its code. The server confirms with
// the value now in force; some servers send it wider than asked (a baud rate
// in eight bytes), so what counts is that it begins with the value asked.
// Any other value is a refusal, or once the line is ready a withdrawal.
// Answers to what was not asked (a purge, notifications of line and modem
// state, flow control) are ignored.
void TelnetClient::settingAnswered(quint8 code, const QByteArray &value)
{
    if (!m_settingsSent)
        return;
    for (size_t i = 0; i < SettingCount; ++i) {
        if (LineSettings[i].command != code)
            continue;
        if (!value.startsWith(LineSettings[i].value))
            lost(agreed());
        m_answered = quint16(m_answered | (1u << i));
        return;
    }
}
