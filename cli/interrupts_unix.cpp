// Ctrl-C and SIGTERM on Unix, taken from a signalfd by a thread of their own.

#include "cli/interrupts.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace Cli {

struct Interrupts::Private
{
    void watch();

    int signalFd = -1;         // signalfd of SIGINT and SIGTERM
    int wakeFd = -1;           // eventfd that ends the watching thread
    int pipeFds[2] = {-1, -1}; // watching thread to main thread
    QSocketNotifier *notifier = nullptr;
    std::thread watcher;
};

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
    , d(std::make_unique<Private>())
{
    const sigset_t set = interruptSignals();
    d->signalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (d->signalFd < 0 || d->wakeFd < 0 || ::pipe2(d->pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("olvex-cli: cannot watch for interrupts");
    d->notifier = new QSocketNotifier(d->pipeFds[0], QSocketNotifier::Read, this);
    // The last signal that came, once the main thread's loop gets to it.
    connect(d->notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        int signalNumber = 0;
        while (::read(d->pipeFds[0], &byte, 1) == 1)
            signalNumber = byte;
        if (signalNumber != 0)
            emit interrupted(signalNumber);
    });
    d->watcher = std::thread([this] { d->watch(); });
}

Interrupts::~Interrupts()
{
    const quint64 one = 1;
    if (::write(d->wakeFd, &one, sizeof one) != sizeof one)
        qFatal("olvex-cli: cannot end the interrupt watch");
    d->watcher.join();
    delete d->notifier;
    for (int fd : {d->signalFd, d->wakeFd, d->pipeFds[0], d->pipeFds[1]})
        ::close(fd);
}

void Interrupts::Private::watch()
{
    int received = 0;
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0)
            continue; // interrupted by some other signal
        if (fds[1].revents != 0)
            return;
        signalfd_siginfo info{};
        if (::read(signalFd, &info, sizeof info) != sizeof info)
            continue;
        const int signalNumber = int(info.ssi_signo);
        if (++received > 1)
            _exit(128 + signalNumber);
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // The pipe holds one byte long before it could fill.
        if (::write(pipeFds[1], &byte, 1) != 1)
            _exit(128 + signalNumber);
    }
}

} // namespace Cli
