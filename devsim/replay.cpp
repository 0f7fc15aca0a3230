// A capture played back as a line.

#include "devsim/replay.h"

#include "devsim/line.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace DevSim {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes shown in a message, at most this many.
constexpr int ShownBytes = 24;
// How long the player waits for the host at most before it looks again.
constexpr int LookMs = 50;

std::string hexOf(const char *bytes, size_t size)
{
    std::string out;
    char pair[4];
    for (size_t i = 0; i < size && i < size_t(ShownBytes); ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x", unsigned(quint8(bytes[i])));
        out += pair;
    }
    if (size > size_t(ShownBytes))
        out += " ...";
    return out.empty() ? "nothing" : out;
}

} // namespace

Replay::Replay(const Pcapng::Capture &capture)
{
    for (const Pcapng::Record &record : capture.records) {
        if (record.interface == 0)
            m_records.push_back(record);
    }
    m_outcome.total = int(m_records.size());
}

Replay::~Replay()
{
    stop();
    if (m_line >= 0)
        ::close(m_line);
    if (m_keep >= 0)
        ::close(m_keep);
}

bool Replay::openPty(std::string *error)
{
    LineFds fds;
    if (!openPtyLine(&fds, error))
        return false;
    m_line = fds.line;
    m_keep = fds.keep;
    m_path = fds.path;
    return true;
}

void Replay::start()
{
    m_anchor = Clock::now();
    m_anchorNs = m_records.empty() ? 0 : m_records.front().nanoseconds;
    m_thread = std::thread([this] { run(); });
}

void Replay::stop()
{
    m_quit = true;
    if (m_thread.joinable())
        m_thread.join();
}

Replay::Outcome Replay::outcome() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Outcome now = m_outcome;
    if (now.ended)
        return now;
    // The rest of the capture is what the line brought: nothing more was
    // asked of the host.
    now.complete = std::none_of(m_records.begin() + long(std::min(m_next, m_records.size())),
                                m_records.end(),
                                [](const Pcapng::Record &r) {
                                    return r.direction == Pcapng::Direction::Sent;
                                });
    if (now.complete) {
        now.text = "played " + std::to_string(now.records) + " of " + std::to_string(now.total)
                   + " records";
    } else {
        const Pcapng::Record &waiting = m_records[m_next];
        now.text = "the host stopped before record " + std::to_string(waiting.number)
                   + ": the capture shows it sending "
                   + hexOf(waiting.bytes.constData() + m_matched,
                           size_t(waiting.bytes.size() - m_matched));
    }
    return now;
}

void Replay::fail(const std::string &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outcome.ended = true;
    m_outcome.text = text;
}

// The line's records whose time has come go out, each as one write.
void Replay::sendDue()
{
    while (m_next < m_records.size()
           && m_records[m_next].direction == Pcapng::Direction::Received) {
        const Pcapng::Record &record = m_records[m_next];
        const auto due = m_anchor + std::chrono::nanoseconds(record.nanoseconds - m_anchorNs);
        if (Clock::now() < due)
            return;
        if (::write(m_line, record.bytes.constData(), size_t(record.bytes.size())) < 0)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_next;
        ++m_outcome.records;
    }
}

// What the host sent against what the capture shows it sent next. False
// when they differ.
bool Replay::matchHost()
{
    while (!m_host.empty()) {
        if (m_next >= m_records.size()) {
            fail("after the capture's last record the host sent "
                 + hexOf(m_host.data(), m_host.size()));
            return false;
        }
        const Pcapng::Record &record = m_records[m_next];
        if (record.direction != Pcapng::Direction::Sent)
            return true; // the line speaks first
        const size_t left = size_t(record.bytes.size() - m_matched);
        const size_t n = std::min(left, m_host.size());
        const char *expected = record.bytes.constData() + m_matched;
        const auto differ = std::mismatch(m_host.begin(), m_host.begin() + long(n), expected);
        if (differ.first != m_host.begin() + long(n)) {
            const size_t at = size_t(differ.first - m_host.begin());
            fail("record " + std::to_string(record.number) + ", byte "
                 + std::to_string(m_matched + int(at) + 1) + ": the capture shows the host sending "
                 + hexOf(expected + at, left - at) + ", the host sent "
                 + hexOf(m_host.data() + at, m_host.size() - at));
            return false;
        }
        m_host.erase(0, n);
        m_matched += int(n);
        if (m_matched == record.bytes.size()) {
            m_anchor = Clock::now();
            m_anchorNs = record.nanoseconds;
            m_matched = 0;
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_next;
            ++m_outcome.records;
        }
    }
    return true;
}

void Replay::run()
{
    char chunk[4096];
    while (!m_quit) {
        sendDue();
        int waitMs = LookMs;
        if (m_next < m_records.size() && m_records[m_next].direction == Pcapng::Direction::Received) {
            const auto due = m_anchor
                             + std::chrono::nanoseconds(m_records[m_next].nanoseconds - m_anchorNs);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            waitMs = int(std::clamp<qint64>(left.count(), 0, LookMs));
        }
        pollfd io{m_line, POLLIN, 0};
        if (::poll(&io, 1, waitMs) > 0 && (io.revents & POLLIN)) {
            const ssize_t n = ::read(m_line, chunk, sizeof chunk);
            if (n > 0)
                m_host.append(chunk, size_t(n));
        }
        if (!matchHost())
            return;
    }
}

} // namespace DevSim
