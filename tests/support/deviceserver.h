#pragma once

// A serial device server of the tests' own, on the loopback: it relays one
// client at a time to a simulated line (the simulator's pseudo-terminal),
// raw or speaking the server's side of telnet with the COM-PORT option, with
// the habits of the servers in the field; or it cannot serve at all. Written
// from the RFCs, apart from the product's telnet client, on a thread of its
// own with plain sockets.

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <string>
#include <thread>

class DeviceServer
{
public:
    enum class Habit {
        Raw,           // every byte a byte on the line
        Rfc2217,       // answers every option and setting as asked
        NoPurgeAnswer, // ser2net 4.0 to 4.3: PURGE-DATA done, never acknowledged
        OffersComPort, // offers COM-PORT itself (WILL), acknowledges a refusal with WONT
        WithdrawsBinary, // after the first answer: WONT BINARY, then CR NUL and the answers
        FloodsStartPause, // raw; 160 KiB of noise as soon as a firmware part has gone by
        Silent,        // accepts, reads, says nothing
        OptionFlood,   // telnet options without end, none of them asked for
        ByteFlood,     // random bytes without end
    };

    // `line`: the simulated line's path; unused by the servers that cannot serve.
    DeviceServer(Habit habit, const std::string &line = {});
    ~DeviceServer();
    DeviceServer(const DeviceServer &) = delete;
    DeviceServer &operator=(const DeviceServer &) = delete;

    quint16 port() const { return m_port; }
    // tcp://127.0.0.1:PORT, or rfc2217://... for the habits that speak telnet.
    QString url() const;
    // Bytes of noise sent to the client so far.
    qint64 noiseSent() const { return m_noise; }

private:
    void serve();
    void talk(int client);
    void relay(int client);
    void flood(int client);
    bool telnet() const;

    Habit m_habit;
    std::string m_line;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_quit{false};
    std::atomic<qint64> m_noise{0};
    std::thread m_thread;
};
