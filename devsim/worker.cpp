// The worker: reads the line, cuts it into host frames, lets the devices
// answer and puts the answers on the line at their moments.

#include "devsim/simulator_p.h"

#include "protocol/frame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace DevSim {

namespace {

using std::chrono::milliseconds;

constexpr int MaxHostFrame = Cpd::MaxHostBody + 1;
const std::vector<quint8> StrayBytes = {0x00, 0xA5, 0x5A};

bool isFirmwareFrame(const quint8 *frame)
{
    const Cpd::CommandWord command = Cpd::unpackCommand(frame);
    return command.block == Cpd::BlockDevice && command.number == Cpd::NumberFirmware;
}

} // namespace

Clock::duration Simulator::Private::wireTime(size_t bytes) const
{
    // Ten bits a byte: start, eight data bits, stop.
    return std::chrono::nanoseconds(qint64(bytes) * 10 * 1000000000LL / m_options.baud);
}

void Simulator::Private::run()
{
    const Clock::duration gap = milliseconds(std::max(1, m_options.quietGapMs));
    while (!m_quit.load()) {
        Clock::time_point next = Clock::time_point::max();
        if (!m_rx.empty())
            next = m_lastRx + gap;
        if (!m_schedule.empty())
            next = std::min(next, m_schedule.begin()->first);
        if (m_holdUntil != Clock::time_point())
            next = std::min(next, m_holding ? m_holdUntil : m_holdFrom);
        if (m_options.masterMs > 0)
            next = std::min(next, m_nextMaster);

        timespec timeout{};
        timespec *timeoutPtr = nullptr;
        if (next != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::max(next - Clock::now(), Clock::duration::zero()));
            timeout.tv_sec = time_t(left.count() / 1000000000LL);
            timeout.tv_nsec = long(left.count() % 1000000000LL);
            timeoutPtr = &timeout;
        }
        const short lineEvents = short(POLLIN | (m_pending.empty() ? 0 : POLLOUT));
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_line.line, lineEvents, 0}};
        if (::ppoll(fds, m_lineDead ? 1 : 2, timeoutPtr, nullptr) < 0 && errno != EINTR) {
            std::fprintf(stderr, "olvex-devsim: poll: %s\n", std::strerror(errno));
            return;
        }
        const Clock::time_point now = Clock::now();

        if (fds[0].revents & POLLIN) {
            quint64 count = 0;
            if (::read(m_wakeFd, &count, sizeof count) < 0 && errno != EAGAIN)
                return;
            std::vector<std::vector<quint8>> raw;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                raw.swap(m_rawQueue);
            }
            for (const std::vector<quint8> &bytes : raw)
                send(bytes);
        }
        if (!m_lineDead && (fds[1].revents & POLLOUT))
            flushPending();
        if (!m_lineDead && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            readLine(now);
        takeFrames(now, !m_rx.empty() && now - m_lastRx >= gap);
        sendDue();
        applyHold(Clock::now());
        pollAsMaster(Clock::now());
    }
}

void Simulator::Private::readLine(Clock::time_point now)
{
    quint8 buffer[1024];
    for (;;) {
        const ssize_t count = ::read(m_line.line, buffer, sizeof buffer);
        if (count > 0) {
            m_rx.insert(m_rx.end(), buffer, buffer + count);
            m_lastRx = now;
            if (m_options.echo)
                send(std::vector<quint8>(buffer, buffer + count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return;
        // End of file or a real error: the port is gone. Keep the state for
        // inspection and only wait to be stopped.
        std::fprintf(stderr,
                     "olvex-devsim: %s: %s\n",
                     m_line.path.c_str(),
                     count == 0 ? "hung up" : std::strerror(errno));
        m_lineDead = true;
        return;
    }
}

// A host frame has no length field. Fixed-size frames are complete as soon as
// their checksum matches. A firmware frame may be short only when it carries
// the last part, so a short one is taken once the line has been quiet for the
// gap. Bytes that never make a frame are dropped after the gap.
void Simulator::Private::takeFrames(Clock::time_point now, bool quiet)
{
    while (!m_rx.empty()) {
        const quint8 *bytes = m_rx.data();
        const int size = int(m_rx.size());
        int length = 0;
        if (size >= Cpd::MinFrameSize && isFirmwareFrame(bytes)) {
            if (size >= MaxHostFrame && Cpd::checksumMatches(bytes, MaxHostFrame))
                length = MaxHostFrame;
            else if (quiet && size < MaxHostFrame && Cpd::checksumMatches(bytes, size))
                length = size;
        } else {
            for (int n = Cpd::MinFrameSize; n <= std::min(size, MaxHostFrame) && !length; ++n) {
                if (Cpd::checksumMatches(bytes, n))
                    length = n;
            }
        }
        if (length == 0) {
            if (quiet) {
                log("drop", m_rx, "no valid frame");
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_frames.push_back(HostFrame{m_lastRx, m_rx, false});
                }
                m_rx.clear();
                notify();
            }
            return;
        }
        std::vector<quint8> frame(m_rx.begin(), m_rx.begin() + length);
        m_rx.erase(m_rx.begin(), m_rx.begin() + length);
        dispatch(std::move(frame), m_lastRx, now);
    }
}

void Simulator::Private::dispatch(std::vector<quint8> frame,
                                  Clock::time_point arrived,
                                  Clock::time_point now)
{
    log("host", frame);
    std::vector<std::pair<size_t, Reply>> replies;
    const size_t frameSize = frame.size();
    const Cpd::CommandWord command = Cpd::unpackCommand(frame.data());
    const bool searchRequest = command.type == Cpd::TypeRequest
                               && command.block == Cpd::BlockSearch;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_devices.size(); ++i) {
            if (std::optional<Reply> reply = m_devices[i].receive(frame))
                replies.emplace_back(i, std::move(*reply));
        }
        m_frames.push_back(HostFrame{arrived, std::move(frame), true});
    }
    notify();

    // With pacing an answer is written when its last byte would have left the
    // device: after the request has crossed the wire and after any answer
    // still on it. Fault delays come on top and do not hold the line.
    const bool paced = m_options.baud > 0;
    const Clock::time_point frameEnd = paced ? arrived + wireTime(frameSize) : now;
    if (m_options.collisionSlots > 0 && searchRequest && !replies.empty()) {
        collide(replies, paced ? std::max(frameEnd, m_lineFree) : frameEnd);
        return;
    }
    int rank = 0;
    for (auto &[device, reply] : replies) {
        Clock::time_point at;
        if (paced) {
            at = std::max(frameEnd, m_lineFree) + wireTime(reply.bytes.size());
            m_lineFree = at;
        } else {
            at = now + milliseconds(rank * std::max(0, m_options.slotMs));
        }
        ++rank;
        at += milliseconds(reply.delayMs);
        if (m_options.verbose) {
            const auto ms = std::chrono::duration_cast<milliseconds>(at - now).count();
            log("dev",
                reply.bytes,
                "#" + std::to_string(device + 1) + " in " + std::to_string(ms) + " ms");
        }
        sendReply(std::move(reply), at, now);
    }
}

// Puts one answer on the line at its moment, spoilt as its faults ask.
void Simulator::Private::sendReply(Reply reply, Clock::time_point at, Clock::time_point now)
{
    if (reply.garbageMs >= 0) {
        // The stray bytes lead the answer by the rule's time, even when that
        // moves the answer back.
        const Clock::time_point strayAt = std::max(now, at - milliseconds(reply.garbageMs));
        at = std::max(at, strayAt + milliseconds(reply.garbageMs));
        schedule(strayAt, StrayBytes);
    }
    if (reply.againMs >= 0)
        schedule(at + milliseconds(reply.againMs), reply.bytes);
    if (reply.stallMs >= 0)
        holdHostWrites(at, at + milliseconds(reply.stallMs));
    if (reply.piecesMs >= 0) {
        constexpr size_t Piece = 3;
        for (size_t from = 0; from < reply.bytes.size(); from += Piece) {
            const auto begin = reply.bytes.begin() + std::ptrdiff_t(from);
            const auto end = reply.bytes.begin()
                             + std::ptrdiff_t(std::min(from + Piece, reply.bytes.size()));
            schedule(at + milliseconds(reply.piecesMs * int(from / Piece)),
                     std::vector<quint8>(begin, end));
        }
    } else if (reply.splitMs >= 0) {
        const auto half = reply.bytes.begin() + std::ptrdiff_t(reply.bytes.size() / 2);
        schedule(at, std::vector<quint8>(reply.bytes.begin(), half));
        schedule(at + milliseconds(reply.splitMs), std::vector<quint8>(half, reply.bytes.end()));
    } else {
        schedule(at, std::move(reply.bytes));
    }
}

// A bus where every device answers a search in a slot of its own choosing:
// answers alone in their slot arrive whole, answers that share one arrive as
// one garbled block that is neither of them. Their devices stay unconfirmed
// and try again at the next search request.
//
// The slots begin at `start`: when the request has crossed the wire and any
// answer still on it is done.
void Simulator::Private::collide(const std::vector<std::pair<size_t, Reply>> &replies,
                                 Clock::time_point start)
{
    const bool paced = m_options.baud > 0;
    const Clock::duration slot = paced ? wireTime(Cpd::MinFrameSize)
                                       : Clock::duration(milliseconds(std::max(1, m_options.slotMs)));
    std::uniform_int_distribution<int> pick(0, m_options.collisionSlots - 1);
    std::map<int, std::vector<const Reply *>> slots;
    for (const auto &entry : replies)
        slots[pick(m_random)].push_back(&entry.second);

    for (const auto &[index, inSlot] : slots) {
        Clock::time_point at = start + slot * (index + 1) + milliseconds(inSlot.front()->delayMs);
        std::vector<quint8> bytes = inSlot.front()->bytes;
        if (inSlot.size() > 1) {
            // Noise as long as the longest of them, one draw a byte.
            size_t length = 0;
            for (const Reply *reply : inSlot)
                length = std::max(length, reply->bytes.size());
            bytes.resize(length);
            for (quint8 &byte : bytes)
                byte = quint8(m_random());
            if (Cpd::checksumMatches(bytes.data(), int(bytes.size())))
                bytes.back() ^= 0x01;
            log("dev", bytes, std::to_string(inSlot.size()) + " answers collided");
        }
        if (paced)
            m_lineFree = std::max(m_lineFree, at);
        schedule(at, std::move(bytes));
    }
}

// The host's side of a pseudo-terminal stops sending while its output is
// suspended: its writes wait in its own buffers, as behind a driver that
// completes a write only when the bytes have left. From `from` to `until`.
void Simulator::Private::holdHostWrites(Clock::time_point from, Clock::time_point until)
{
    if (m_line.keep < 0)
        return;
    m_holdFrom = from;
    m_holdUntil = until;
}

void Simulator::Private::applyHold(Clock::time_point now)
{
    if (m_line.keep < 0 || m_holdUntil == Clock::time_point())
        return;
    const bool hold = now >= m_holdFrom && now < m_holdUntil;
    if (hold != m_holding) {
        ::tcflow(m_line.keep, hold ? TCOOFF : TCOON);
        m_holding = hold;
        log(hold ? "hold" : "free", {}, hold ? "the host's writes are held" : "the host may write");
    }
    if (!hold && now >= m_holdUntil)
        m_holdUntil = Clock::time_point();
}

// Another master on the same bus, in another protocol and in ours: a Modbus
// RTU read of holding registers, then a CPD version query to a device that
// is not on this line.
void Simulator::Private::pollAsMaster(Clock::time_point now)
{
    if (m_options.masterMs <= 0)
        return;
    if (m_nextMaster == Clock::time_point())
        m_nextMaster = now + milliseconds(m_options.masterMs);
    if (now < m_nextMaster)
        return;
    static const std::vector<quint8> Modbus = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
    std::vector<quint8> cpd = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0, 0, 0};
    Cpd::packCommand(cpd.data(), Cpd::TypeRequest, Cpd::BlockDevice, Cpd::NumberVersion);
    Cpd::appendChecksum(cpd.data(), Cpd::HeaderSize);
    const std::vector<quint8> &request = m_masterTurn++ % 2 == 0 ? Modbus : cpd;
    log("mast", request);
    send(request);
    m_nextMaster = now + milliseconds(m_options.masterMs);
}

void Simulator::Private::schedule(Clock::time_point at, std::vector<quint8> bytes)
{
    // Equal deadlines keep their order: a multimap inserts behind equal keys.
    m_schedule.emplace(at, std::move(bytes));
}

void Simulator::Private::sendDue()
{
    while (!m_schedule.empty() && m_schedule.begin()->first <= Clock::now()) {
        send(m_schedule.begin()->second);
        m_schedule.erase(m_schedule.begin());
    }
}

void Simulator::Private::send(const std::vector<quint8> &bytes)
{
    if (m_lineDead)
        return;
    if (!m_pending.empty()) {
        m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
        return;
    }
    ssize_t written = ::write(m_line.line, bytes.data(), bytes.size());
    if (written < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "olvex-devsim: write: %s\n", std::strerror(errno));
            return;
        }
        written = 0;
    }
    m_pending.assign(bytes.begin() + written, bytes.end());
}

void Simulator::Private::flushPending()
{
    std::vector<quint8> bytes;
    bytes.swap(m_pending);
    send(bytes);
}

void Simulator::Private::log(const char *who,
                             const std::vector<quint8> &bytes,
                             const std::string &note)
{
    if (!m_options.verbose)
        return;
    std::string text;
    for (quint8 byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text += hex;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - m_created).count();
    std::fprintf(stderr,
                 "[%9.3f] %-4s%s%s%s\n",
                 seconds,
                 who,
                 text.c_str(),
                 note.empty() ? "" : "  ",
                 note.c_str());
}

} // namespace DevSim
