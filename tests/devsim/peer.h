#pragma once

// The host's end of a simulated line, opened the way a serial port is: the
// pseudo-terminal's slave, raw, with plain POSIX calls. Plus frame builders.

#include "protocol/frame.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<quint8>;
using Id = std::array<quint8, 8>;

inline const Id Broadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline Id idOf(int n)
{
    return {1, 2, 3, 4, 5, 6, 7, quint8(8 + n)};
}

inline QByteArray qba(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

inline Bytes frame(const Id &address, int type, int block, int number, const Bytes &payload = {})
{
    Bytes bytes(address.begin(), address.end());
    bytes.resize(Cpd::HeaderSize);
    Cpd::packCommand(bytes.data(), type, quint8(block), quint8(number));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    bytes.push_back(0);
    Cpd::appendChecksum(bytes.data(), int(bytes.size()) - 1);
    return bytes;
}

inline Bytes firmwareFrame(const Id &to, int stage, int part, const Bytes &data)
{
    Bytes payload = {quint8(stage), quint8(part >> 8), quint8(part)};
    payload.insert(payload.end(), data.begin(), data.end());
    return frame(to, Cpd::TypeRequest, Cpd::BlockDevice, Cpd::NumberFirmware, payload);
}

inline Bytes ack(const Id &from, int stage, int part)
{
    return frame(from,
                 Cpd::TypeResponse,
                 Cpd::BlockDevice,
                 Cpd::NumberFirmware,
                 {quint8(stage), quint8(part >> 8), quint8(part)});
}

inline Bytes errorReport(const Id &from, int block, int number, qint32 code)
{
    const auto v = quint32(code);
    return frame(from,
                 Cpd::TypeError,
                 block,
                 number,
                 {quint8(v), quint8(v >> 8), quint8(v >> 16), quint8(v >> 24)});
}

struct Chunk
{
    Clock::time_point at;
    Bytes bytes;
};

inline Bytes joined(const std::vector<Chunk> &chunks)
{
    Bytes all;
    for (const Chunk &chunk : chunks)
        all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
    return all;
}

class Peer
{
public:
    explicit Peer(const std::string &path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Peer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    bool send(const Bytes &bytes) const
    {
        return ::write(m_fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }

    // Each read() as it came. Stops once `count` bytes are in (0: no limit),
    // once quietMs passed without more after the first byte, or at timeoutMs.
    std::vector<Chunk> read(size_t count, int timeoutMs, int quietMs = 100) const
    {
        std::vector<Chunk> chunks;
        size_t total = 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (count == 0 || total < count) {
            Clock::time_point until = deadline;
            if (!chunks.empty())
                until = std::min(until, chunks.back().at + std::chrono::milliseconds(quietMs));
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() < 0)
                break;
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, int(left.count()) + 1) <= 0)
                continue;
            quint8 buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                chunks.push_back({Clock::now(), Bytes(buffer, buffer + n)});
                total += size_t(n);
            }
        }
        return chunks;
    }

private:
    int m_fd;
};
