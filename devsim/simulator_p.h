#pragma once

// The simulator's insides, shared by the public methods and the worker.

#include "devsim/device.h"
#include "devsim/line.h"
#include "devsim/simulator.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace DevSim {

using Clock = std::chrono::steady_clock;

struct Simulator::Private
{
    explicit Private(std::vector<DeviceConfig> devices, Options options);

    // Worker thread.
    void run();
    void readLine(Clock::time_point now);
    void takeFrames(Clock::time_point now, bool quiet);
    void dispatch(std::vector<quint8> frame, Clock::time_point arrived, Clock::time_point now);
    void sendReply(Reply reply, Clock::time_point at, Clock::time_point now);
    void collide(const std::vector<std::pair<size_t, Reply>> &replies, Clock::time_point start);
    void schedule(Clock::time_point at, std::vector<quint8> bytes);
    void sendDue();
    void send(const std::vector<quint8> &bytes);
    void flushPending();
    void holdHostWrites(Clock::time_point from, Clock::time_point until);
    void applyHold(Clock::time_point now);
    void pollAsMaster(Clock::time_point now);
    Clock::duration wireTime(size_t bytes) const;
    void log(const char *who, const std::vector<quint8> &bytes, const std::string &note = {});

    // Any thread.
    void notify();
    void wake();

    const Options m_options;
    const Clock::time_point m_created = Clock::now();

    // Guarded by m_mutex: everything tests look at.
    mutable std::mutex m_mutex;
    std::vector<Device> m_devices;
    std::vector<HostFrame> m_frames;
    std::vector<std::vector<quint8>> m_rawQueue; // writeRaw() while the worker runs

    // Lets waitFor() sleep until the worker has changed something.
    mutable std::mutex m_waitMutex;
    mutable std::condition_variable m_changed;

    // Set up before start(), torn down after the worker has been joined.
    LineFds m_line;
    int m_wakeFd = -1;
    std::thread m_worker;
    std::atomic<bool> m_quit{false};

    // Worker only.
    std::vector<quint8> m_rx;   // bytes not yet taken as a frame
    Clock::time_point m_lastRx; // arrival of m_rx's last byte
    std::multimap<Clock::time_point, std::vector<quint8>> m_schedule; // writes by deadline
    std::vector<quint8> m_pending; // bytes the line would not take yet
    Clock::time_point m_lineFree;  // with pacing: when the last answer has left
    bool m_lineDead = false;
    Clock::time_point m_holdFrom;  // the host's writes are held from here...
    Clock::time_point m_holdUntil; // ... to here; none when default
    bool m_holding = false;
    Clock::time_point m_nextMaster; // the second master's next request
    int m_masterTurn = 0;
    std::mt19937 m_random;         // collision slots
};

} // namespace DevSim
