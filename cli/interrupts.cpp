#include "cli/interrupts.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace Cli {

namespace {

sigset_t interruptSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void blockInterruptSignals()
{
    const sigset_t set = interruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Interrupts::Interrupts(QObject *parent)
    : QObject(parent)
{
    const sigset_t set = interruptSignals();
    m_signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    if (m_signals < 0 || m_wake < 0 || ::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("olvex-cli: cannot watch for interrupts");
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Interrupts::readPipe);
    m_watcher = std::thread([this] { watch(); });
}

Interrupts::~Interrupts()
{
    const quint64 one = 1;
    if (::write(m_wake, &one, sizeof one) != sizeof one)
        qFatal("olvex-cli: cannot end the interrupt watch");
    m_watcher.join();
    delete m_notifier;
    for (int fd : {m_signals, m_wake, m_pipe[0], m_pipe[1]})
        ::close(fd);
}

void Interrupts::watch()
{
    int received = 0;
    pollfd fds[2] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0)
            continue; // interrupted by some other signal
        if (fds[1].revents != 0)
            return;
        signalfd_siginfo info{};
        if (::read(m_signals, &info, sizeof info) != sizeof info)
            continue;
        const int signalNumber = int(info.ssi_signo);
        if (++received > 1)
            _exit(128 + signalNumber);
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // The pipe holds one byte long before it could fill.
        if (::write(m_pipe[1], &byte, 1) != 1)
            _exit(128 + signalNumber);
    }
}

void Interrupts::readPipe()
{
    unsigned char byte = 0;
    int signalNumber = 0;
    while (::read(m_pipe[0], &byte, 1) == 1)
        signalNumber = byte;
    if (signalNumber != 0)
        emit interrupted(signalNumber);
}

} // namespace Cli
