// A device server of the tests' own: a relay to a simulated line with a
// field server's habits, or a server that cannot serve.

#include "support/deviceserver.h"

#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Telnet (RFC 854, 856) and the COM-PORT option (RFC 2217), the server's side.
constexpr quint8 Iac = 0xFF, Dont = 0xFE, Do = 0xFD, Wont = 0xFC, Will = 0xFB, Sb = 0xFA,
                 Se = 0xF0;
constexpr quint8 Binary = 0, ComPort = 44;
constexpr quint8 PurgeData = 12, AnswerOffset = 100;

constexpr qint64 NoiseBytes = 160 * 1024;
// A client's write this long is a firmware part (requests and
// confirmations are short).
constexpr qint64 FirmwarePartBytes = 200;

bool sendAll(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray option(quint8 verb, quint8 which)
{
    return QByteArray() + char(Iac) + char(verb) + char(which);
}

// What the server reads from its client: line bytes and telnet commands.
class ServerTelnet
{
public:
    explicit ServerTelnet(DeviceServer::Habit habit)
        : m_habit(habit)
    {}

    // The line's bytes to `line`, the server's answers to `reply`.
    void take(const char *bytes, qint64 size, QByteArray *line, QByteArray *reply)
    {
        for (qint64 i = 0; i < size; ++i) {
            const quint8 b = quint8(bytes[i]);
            switch (m_state) {
            case State::Data:
                if (b == Iac)
                    m_state = State::Command;
                else
                    line->append(char(b));
                break;
            case State::Command:
                if (b == Iac) {
                    line->append(char(Iac));
                    m_state = State::Data;
                } else if (b >= Will && b <= Dont) {
                    m_verb = b;
                    m_state = State::Option;
                } else if (b == Sb) {
                    m_sub.clear();
                    m_state = State::Sub;
                } else {
                    m_state = State::Data;
                }
                break;
            case State::Option:
                answerOption(m_verb, b, reply);
                m_state = State::Data;
                break;
            case State::Sub:
                if (b == Iac)
                    m_state = State::SubIac;
                else
                    m_sub.append(char(b));
                break;
            case State::SubIac:
                if (b == Se) {
                    answerSetting(reply);
                    m_state = State::Data;
                } else {
                    m_sub.append(char(b)); // IAC IAC inside: one 0xFF
                    m_state = State::Sub;
                }
                break;
            }
        }
    }

private:
    void answerOption(quint8 verb, quint8 which, QByteArray *reply)
    {
        if (verb == Will && (which == Binary || which == ComPort))
            reply->append(option(Do, which));
        else if (verb == Do && which == Binary)
            reply->append(option(Will, Binary));
        else if (verb == Dont && which == ComPort
                 && m_habit == DeviceServer::Habit::OffersComPort)
            reply->append(option(Wont, ComPort)); // the offer withdrawn, as asked
        else if (verb == Will)
            reply->append(option(Dont, which));
        else if (verb == Do && which != ComPort)
            reply->append(option(Wont, which));
    }

    // Each setting is confirmed with the value asked, under its code plus 100.
    void answerSetting(QByteArray *reply)
    {
        if (m_sub.size() < 2 || quint8(m_sub[0]) != ComPort)
            return;
        const quint8 command = quint8(m_sub[1]);
        if (command == PurgeData && m_habit == DeviceServer::Habit::NoPurgeAnswer)
            return;
        QByteArray answer = QByteArray() + char(Iac) + char(Sb) + char(ComPort)
                            + char(command + AnswerOffset);
        for (const char c : m_sub.mid(2)) {
            answer.append(c);
            if (quint8(c) == Iac)
                answer.append(c);
        }
        reply->append(answer + char(Iac) + char(Se));
    }

    enum class State { Data, Command, Option, Sub, SubIac };
    DeviceServer::Habit m_habit;
    State m_state = State::Data;
    quint8 m_verb = 0;
    QByteArray m_sub;
};

// The line's bytes as telnet data: 0xFF doubled; without binary mode a
// carriage return is followed by a NUL (RFC 854).
QByteArray asTelnetData(const char *bytes, qint64 size, bool binary)
{
    QByteArray out;
    for (qint64 i = 0; i < size; ++i) {
        out.append(bytes[i]);
        if (quint8(bytes[i]) == Iac)
            out.append(char(Iac));
        else if (!binary && bytes[i] == '\r')
            out.append('\0');
    }
    return out;
}

} // namespace

DeviceServer::DeviceServer(Habit habit, const std::string &line)
    : m_habit(habit)
    , m_line(line)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length);
    ::listen(m_listener, 4);
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

DeviceServer::~DeviceServer()
{
    m_quit = true;
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
}

bool DeviceServer::telnet() const
{
    return m_habit != Habit::Raw && m_habit != Habit::FloodsStartPause
           && m_habit != Habit::ByteFlood;
}

QString DeviceServer::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(telnet() ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
        .arg(m_port);
}

void DeviceServer::serve()
{
    pollfd wait{m_listener, POLLIN, 0};
    while (!m_quit && ::poll(&wait, 1, 50) >= 0) {
        if (!(wait.revents & POLLIN))
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        talk(client);
        ::close(client);
    }
}

void DeviceServer::talk(int client)
{
    switch (m_habit) {
    case Habit::Silent:
    case Habit::OptionFlood:
    case Habit::ByteFlood:
        flood(client);
        break;
    default:
        relay(client);
        break;
    }
}

// Relays between the client and the line until either side goes.
void DeviceServer::relay(int client)
{
    const int line = ::open(m_line.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line < 0)
        return;
    termios raw{};
    ::tcgetattr(line, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(line, TCSANOW, &raw);

    ServerTelnet server(m_habit);
    if (m_habit == Habit::OffersComPort)
        sendAll(client, option(Will, ComPort));
    bool binary = true;
    std::mt19937 random(11);
    std::vector<char> chunk(4096);
    while (!m_quit) {
        pollfd io[2] = {{client, POLLIN, 0}, {line, POLLIN, 0}};
        if (::poll(io, 2, 20) < 0)
            break;
        if (io[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(client, chunk.data(), chunk.size());
            if (n <= 0)
                break;
            QByteArray toLine, reply;
            if (telnet())
                server.take(chunk.data(), n, &toLine, &reply);
            else
                toLine = QByteArray(chunk.data(), int(n));
            if (!reply.isEmpty() && !sendAll(client, reply))
                break;
            if (::write(line, toLine.constData(), size_t(toLine.size())) < 0)
                break;
            if (m_habit == Habit::FloodsStartPause && m_noise == 0 && n >= FirmwarePartBytes) {
                QByteArray noise(int(NoiseBytes), Qt::Uninitialized);
                for (char &c : noise)
                    c = char(random());
                m_noise = NoiseBytes;
                if (!sendAll(client, noise))
                    break;
            }
        }
        if (io[1].revents & POLLIN) {
            const ssize_t n = ::read(line, chunk.data(), chunk.size());
            if (n <= 0)
                break;
            QByteArray toClient;
            if (m_habit == Habit::WithdrawsBinary && binary) {
                binary = false; // its port settings changed under it, say
                toClient = option(Wont, Binary);
            }
            toClient += telnet() ? asTelnetData(chunk.data(), n, binary)
                                 : QByteArray(chunk.data(), int(n));
            if (!sendAll(client, toClient))
                break;
        }
    }
    ::close(line);
}

// A server that cannot serve: silent, or flooding options or bytes, reading
// whatever comes.
void DeviceServer::flood(int client)
{
    std::mt19937 random(7);
    std::vector<char> chunk(4096);
    quint8 which = 1;
    while (!m_quit) {
        pollfd io{client, short(POLLIN | (m_habit == Habit::Silent ? 0 : POLLOUT)), 0};
        if (::poll(&io, 1, 20) < 0)
            return;
        if ((io.revents & POLLIN) && ::read(client, chunk.data(), chunk.size()) <= 0)
            return;
        if (!(io.revents & POLLOUT))
            continue;
        size_t size = 0;
        if (m_habit == Habit::OptionFlood) {
            // Options without end, none of them binary mode or COM-PORT.
            for (; size + 3 <= chunk.size(); size += 3) {
                which = which % 40 + 1;
                chunk[size] = char(Iac);
                chunk[size + 1] = char(size % 2 ? Will : Do);
                chunk[size + 2] = char(which);
            }
        } else {
            for (char &c : chunk)
                c = char(random());
            size = chunk.size();
        }
        if (::send(client, chunk.data(), size, MSG_NOSIGNAL) < 0)
            return;
        m_noise += qint64(size);
    }
}
