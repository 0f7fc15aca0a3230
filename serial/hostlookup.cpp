// A name looked up on a thread of its own.

#include "serial/hostlookup.h"

// The system resolver's declarations, where each platform keeps them.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct HostLookup::Result
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QList<QHostAddress> addresses;
};

HostLookup::HostLookup(const QString &host)
    : m_result(std::make_shared<Result>())
{
    std::thread([result = m_result, name = host.toUtf8()] {
        const QList<QHostAddress> found = resolveHost(name);
        std::lock_guard<std::mutex> lock(result->mutex);
        result->addresses = found;
        result->finished = true;
        result->done.notify_all();
    }).detach();
}

HostLookup::~HostLookup() = default;

bool HostLookup::wait(int ms)
{
    std::unique_lock<std::mutex> lock(m_result->mutex);
    return m_result->done.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return m_result->finished;
    });
}

QList<QHostAddress> HostLookup::addresses() const
{
    std::lock_guard<std::mutex> lock(m_result->mutex);
    return m_result->addresses;
}

QList<QHostAddress> resolveHost(const QByteArray &host)
{
    startResolver();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    QList<QHostAddress> addresses;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo *at = found; at; at = at->ai_next) {
        const QHostAddress address(at->ai_addr);
        if (!address.isNull() && !addresses.contains(address))
            addresses.append(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}
