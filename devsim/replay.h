#pragma once

// The devices of a capture played on a line: each time the host's bytes
// match what the capture shows the host sent next (compared as a byte stream,
// however either side cut it into pieces), what the capture shows the line
// brought after that goes out, with the recorded delays and in the recorded
// pieces. A host that sends anything else is told where: the capture is a
// test of the host as well as a line.

#include "serial/pcapng.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace DevSim {

class Replay
{
public:
    // Plays the records of the capture's first interface.
    explicit Replay(const Pcapng::Capture &capture);
    ~Replay();
    Replay(const Replay &) = delete;
    Replay &operator=(const Replay &) = delete;

    bool openPty(std::string *error = nullptr);
    std::string path() const { return m_path; }
    void start();
    void stop();

    struct Outcome
    {
        bool ended = false;   // the host sent what the capture does not show
        bool complete = false; // every record the host had to send came
        int records = 0;      // records played, sent or matched
        int total = 0;
        std::string text;     // where and how it went wrong, or what was played
    };
    // As it stands now; once ended, final.
    Outcome outcome() const;

private:
    void run();
    void sendDue();
    bool matchHost();
    void fail(const std::string &text);

    std::vector<Pcapng::Record> m_records;
    int m_line = -1;
    int m_keep = -1;
    std::string m_path;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};

    // The worker's own, then under m_mutex for outcome().
    size_t m_next = 0;   // the next record to play
    std::atomic<int> m_matched{0}; // bytes of it the host has sent, when it is the host's
    std::string m_host;  // what the host sent and is not yet matched
    std::chrono::steady_clock::time_point m_anchor; // when the last host record was complete
    qint64 m_anchorNs = 0;                          // ... and its time in the capture
    mutable std::mutex m_mutex;
    Outcome m_outcome;
};

} // namespace DevSim
