// The simulator's public face: its line, its devices and what the host sent.

#include "devsim/simulator_p.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace DevSim {

Simulator::Private::Private(std::vector<DeviceConfig> devices, Options options)
    : m_options(options)
    , m_random(options.seed)
{
    for (DeviceConfig &config : devices)
        m_devices.emplace_back(std::move(config));
}

void Simulator::Private::notify()
{
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
    }
    m_changed.notify_all();
}

void Simulator::Private::wake()
{
    const quint64 one = 1;
    if (m_wakeFd >= 0 && ::write(m_wakeFd, &one, sizeof one) < 0) {
        // The counter is only full after 2^64 - 1 wake-ups; nothing to do.
    }
}

Simulator::Simulator(std::vector<DeviceConfig> devices, Options options)
    : m_p(std::make_unique<Private>(std::move(devices), options))
{}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::openPty(std::string *error)
{
    if (m_p->m_line.line >= 0 || m_p->m_worker.joinable()) {
        if (error)
            *error = "the line is already open";
        return false;
    }
    return openPtyLine(&m_p->m_line, error);
}

bool Simulator::openSerial(const std::string &path, int baud, std::string *error)
{
    if (m_p->m_line.line >= 0 || m_p->m_worker.joinable()) {
        if (error)
            *error = "the line is already open";
        return false;
    }
    return openSerialLine(path, baud, &m_p->m_line, error);
}

std::string Simulator::path() const
{
    return m_p->m_line.path;
}

void Simulator::start()
{
    if (m_p->m_line.line < 0 || m_p->m_worker.joinable())
        return;
    m_p->m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_p->m_wakeFd < 0)
        return;
    m_p->m_quit = false;
    m_p->m_worker = std::thread([this] { m_p->run(); });
}

void Simulator::stop()
{
    if (m_p->m_worker.joinable()) {
        m_p->m_quit = true;
        m_p->wake();
        m_p->m_worker.join();
    }
    if (m_p->m_wakeFd >= 0)
        ::close(m_p->m_wakeFd);
    m_p->m_wakeFd = -1;
    closeLine(&m_p->m_line);
}

size_t Simulator::deviceCount() const
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    return m_p->m_devices.size();
}

std::vector<HostFrame> Simulator::hostFrames() const
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    return m_p->m_frames;
}

void Simulator::clearHostFrames()
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    m_p->m_frames.clear();
}

std::vector<quint8> Simulator::image(size_t device) const
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    return device < m_p->m_devices.size() ? m_p->m_devices[device].image() : std::vector<quint8>{};
}

ImageState Simulator::imageState(size_t device) const
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    return device < m_p->m_devices.size() ? m_p->m_devices[device].imageState() : ImageState::None;
}

int Simulator::firmwareFramesReceived(size_t device) const
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    return device < m_p->m_devices.size() ? m_p->m_devices[device].firmwareFrames() : 0;
}

bool Simulator::confirmed(size_t device) const
{
    std::lock_guard<std::mutex> lock(m_p->m_mutex);
    return device < m_p->m_devices.size() && m_p->m_devices[device].confirmed();
}

void Simulator::writeRaw(const std::vector<quint8> &bytes)
{
    if (m_p->m_worker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_p->m_mutex);
            m_p->m_rawQueue.push_back(bytes);
        }
        m_p->wake();
    } else if (m_p->m_line.line >= 0) {
        m_p->send(bytes); // no worker yet: this thread is the only writer
    }
}

bool Simulator::waitFor(const std::function<bool()> &pred, int timeoutMs) const
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_p->m_waitMutex);
    while (!pred()) {
        if (m_p->m_changed.wait_until(lock, deadline) == std::cv_status::timeout)
            return pred();
    }
    return true;
}

} // namespace DevSim
