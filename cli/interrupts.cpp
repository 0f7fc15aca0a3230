#include "cli/interrupts.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Cli {

namespace {

std::atomic<int> Received{0};
int PipeRead = -1;
int PipeWrite = -1;
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

extern "C" void onSignal(int signalNumber)
{
    if (Received.fetch_add(1) > 0)
        _exit(128 + signalNumber);
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe means a signal is already waiting to be read; nothing is lost.
    if (::write(PipeWrite, &byte, 1) < 0) {
    }
    errno = saved;
}

} // namespace

Interrupts::Interrupts(QObject *parent)
    : QObject(parent)
{
    int fds[2];
    if (PipeRead >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    PipeRead = fds[0];
    PipeWrite = fds[1];
    Received = 0;
    m_notifier = new QSocketNotifier(PipeRead, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Interrupts::readPipe);

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_previousInt);
    sigaction(SIGTERM, &action, &m_previousTerm);
}

Interrupts::~Interrupts()
{
    if (!m_notifier)
        return;
    sigaction(SIGINT, &m_previousInt, nullptr);
    sigaction(SIGTERM, &m_previousTerm, nullptr);
    delete m_notifier;
    ::close(PipeRead);
    ::close(PipeWrite);
    PipeRead = -1;
    PipeWrite = -1;
}

void Interrupts::readPipe()
{
    unsigned char byte = 0;
    int signalNumber = 0;
    while (::read(PipeRead, &byte, 1) == 1)
        signalNumber = byte;
    if (signalNumber != 0)
        emit interrupted(signalNumber);
}

} // namespace Cli
