#pragma once

// A simulator on a pseudo-terminal and the host's end of it, opened the way a
// serial port is: the slave side, raw, with plain POSIX calls. Plus builders
// for the frames the host sends and the answers it expects.

#include "devsim/simulator.h"
#include "protocol/frame.h"

#include <QByteArray>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<quint8>;
using Id = std::array<quint8, 8>;

inline const Id Broadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// idOf(0) is 01 02 03 04 05 06 07 08.
inline Id idOf(int n)
{
    return {1, 2, 3, 4, 5, 6, 7, quint8(8 + n)};
}

inline QByteArray qba(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

inline long long msSince(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
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

inline const Bytes SearchFirst = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x1E, 0x01, 0x68};
inline const Bytes VersionQuery
    = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x14, 0x03, 0x4F};

// A search answer, and the host's confirmation of it: the same bytes.
inline Bytes searchWord(int n, int kind)
{
    return frame(idOf(n), Cpd::TypeResponse, Cpd::BlockSearch, kind);
}

inline Bytes firmwareFrame(const Id &to, int stage, int part, const Bytes &data)
{
    Bytes payload = {quint8(stage), quint8(part >> 8), quint8(part)};
    payload.insert(payload.end(), data.begin(), data.end());
    return frame(to, Cpd::TypeRequest, Cpd::BlockDevice, Cpd::NumberFirmware, payload);
}

inline Bytes ack(int stage, int part, const Id &from = idOf(0))
{
    const Bytes payload = {quint8(stage), quint8(part >> 8), quint8(part)};
    return frame(from, Cpd::TypeResponse, Cpd::BlockDevice, Cpd::NumberFirmware, payload);
}

inline Bytes errorReport(qint32 code, int number = Cpd::NumberFirmware)
{
    const auto v = quint32(code);
    const Bytes payload = {quint8(v), quint8(v >> 8), quint8(v >> 16), quint8(v >> 24)};
    return frame(idOf(0), Cpd::TypeError, Cpd::BlockDevice, number, payload);
}

inline Bytes testImage(size_t size)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = quint8(i * 7 + i / 251);
    return image;
}

inline Bytes imagePart(const Bytes &image, int part)
{
    const size_t begin = std::min(image.size(), size_t(part - 1) * Cpd::PartSize);
    const size_t end = std::min(image.size(), begin + Cpd::PartSize);
    return Bytes(image.begin() + std::ptrdiff_t(begin), image.begin() + std::ptrdiff_t(end));
}

// A device with address idOf(n); description adds what parseDevice() understands.
inline DevSim::DeviceConfig
device(int n, int kind = Cpd::KindTally8, const std::string &description = {})
{
    DevSim::DeviceConfig config;
    std::string error;
    if (!DevSim::parseDevice(description, &config, &error))
        qFatal("bad device in a test: %s", error.c_str());
    config.id = idOf(n);
    config.kind = kind;
    return config;
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
    ~Peer() { ::close(m_fd); }
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
            const long long left = msSince(Clock::now(), until);
            if (left < 0)
                break;
            pollfd pfd{m_fd, POLLIN, 0};
            quint8 buffer[512];
            if (::poll(&pfd, 1, int(left) + 1) <= 0)
                continue;
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

// A running simulator and the host's end of its line.
struct SimLine
{
    explicit SimLine(std::vector<DevSim::DeviceConfig> devices, DevSim::Options options = {})
        : sim(std::move(devices), options)
    {
        if (sim.openPty())
            peer = std::make_unique<Peer>(sim.path());
        sim.start();
    }
    bool ok() const { return peer && peer->isOpen(); }
    Bytes exchange(const Bytes &request, size_t answer, int timeoutMs = 1000) const
    {
        peer->send(request);
        return joined(peer->read(answer, timeoutMs));
    }
    DevSim::Simulator sim;
    std::unique_ptr<Peer> peer;
};
