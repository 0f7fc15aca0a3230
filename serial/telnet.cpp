// Telnet with the COM-PORT option, the client's side, on bytes.

#include "serial/telnet.h"

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

constexpr quint32 Baud = 9600;
constexpr quint8 DataBits = 8;
constexpr quint8 ParityNone = 1;
constexpr quint8 OneStopBit = 1;
constexpr quint8 NoFlowControl = 1;
constexpr quint8 PurgeBoth = 3;

// The longest subnegotiation kept; COM-PORT answers are a few bytes.
constexpr int MaxSub = 64;

struct Setting
{
    quint8 command;
    QByteArray value;
};

const Setting LineSettings[] = {
    {SetBaudRate,
     QByteArray::fromRawData("\x00\x00\x25\x80", 4)}, // 9600, high byte first
    {SetDataSize, QByteArray(1, char(DataBits))},
    {SetParity, QByteArray(1, char(ParityNone))},
    {SetStopSize, QByteArray(1, char(OneStopBit))},
    {SetControl, QByteArray(1, char(NoFlowControl))},
    {PurgeData, QByteArray(1, char(PurgeBoth))},
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

} // namespace

static_assert(Baud == 0x2580, "the baud rate's bytes above");

QByteArray TelnetClient::start()
{
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

TelnetClient::Settings TelnetClient::settings() const
{
    if (m_refused)
        return Settings::Refused;
    if (m_localBinary && m_remoteBinary && m_comPort && m_answered == AllAnswered)
        return Settings::Accepted;
    return Settings::Pending;
}

void TelnetClient::take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply)
{
    for (qint64 i = 0; i < size; ++i) {
        const quint8 b = quint8(bytes[i]);
        switch (m_state) {
        case State::Data:
            if (b == Iac)
                m_state = State::Iac;
            else
                data->append(char(b));
            break;
        case State::Iac:
            if (b == Iac) {
                data->append(char(Iac));
                m_state = State::Data;
            } else if (b == Will || b == Wont || b == Do || b == Dont) {
                m_command = b;
                m_state = State::Option;
            } else if (b == Sb) {
                m_sub.clear();
                m_subTooLong = false;
                m_state = State::Sub;
            } else {
                m_state = State::Data; // a command without an option (NOP, GA, ...)
            }
            break;
        case State::Option:
            option(m_command, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                m_state = State::SubIac;
            else if (m_sub.size() < MaxSub)
                m_sub.append(char(b));
            else
                m_subTooLong = true;
            break;
        case State::SubIac:
            if (b == Iac) {
                if (m_sub.size() < MaxSub)
                    m_sub.append(char(Iac));
                else
                    m_subTooLong = true;
                m_state = State::Sub;
            } else if (b == Se) {
                if (!m_subTooLong)
                    subnegotiation();
                m_state = State::Data;
            } else {
                // A subnegotiation cut off by another command: dropped.
                m_state = State::Iac;
                --i;
            }
            break;
        }
    }
}

void TelnetClient::option(quint8 verb, quint8 option, QByteArray *reply)
{
    const bool enable = verb == Will || verb == Do;
    if (!enable) {
        if (option == Binary || option == ComPort)
            m_refused = true; // binary mode or the COM-PORT option refused
        return;
    }
    // An offer that matches what was asked is an agreement; one made first
    // by the server is agreed to.
    if (option == Binary || (option == ComPort && verb == Do)) {
        if (option == ComPort)
            m_comPort = true;
        else if (verb == Do)
            m_localBinary = true;
        else
            m_remoteBinary = true;
        setAll(reply);
        return;
    }
    // Any other option the server would use or have us use is refused, once
    // (so is the server's offer to use COM-PORT itself, which a client never
    // needs); a server that asks again gets no answer, so no exchange runs
    // forever.
    quint32 &bits = m_refusedOptions[option / 32];
    const quint32 bit = 1u << (option % 32);
    if (bits & bit)
        return;
    bits |= bit;
    reply->append(command(verb == Will ? Dont : Wont, option));
}

void TelnetClient::setAll(QByteArray *reply)
{
    if (m_settingsSent || !m_comPort)
        return;
    m_settingsSent = true;
    for (const Setting &setting : LineSettings) {
        reply->append(char(Iac));
        reply->append(char(Sb));
        reply->append(char(ComPort));
        reply->append(char(setting.command));
        reply->append(escape(setting.value.constData(), setting.value.size()));
        reply->append(char(Iac));
        reply->append(char(Se));
    }
}

void TelnetClient::subnegotiation()
{
    if (m_sub.size() < 2 || quint8(m_sub.at(0)) != ComPort)
        return;
    const quint8 code = quint8(m_sub.at(1));
    if (code > ServerAnswer) // else a client's command, which a server never sends
        settingAnswered(quint8(code - ServerAnswer), m_sub.mid(2));
}

// An answer to one of our settings, by its code. The server confirms with
// the value now in force: any other value is a refusal. Answers to what was
// not asked (notifications of line and modem state, flow control) are
// ignored.
void TelnetClient::settingAnswered(quint8 code, const QByteArray &value)
{
    for (size_t i = 0; i < SettingCount; ++i) {
        if (LineSettings[i].command != code)
            continue;
        if (!m_settingsSent)
            return;
        if (value != LineSettings[i].value)
            m_refused = true;
        m_answered = quint16(m_answered | (1u << i));
        return;
    }
}
