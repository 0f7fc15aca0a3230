// Ctrl-C, Ctrl-Break and the closing of the console on Windows. The system
// calls the console's control handler on a thread it makes for the purpose;
// the handler only hands the event over (a number and an event object) and
// the main thread, woken by the event, emits interrupted(). The numbers are
// the C runtime's signals: SIGINT for Ctrl-C (exit status 130), SIGBREAK for
// Ctrl-Break (149), SIGTERM for a closed console, a logoff or a shutdown (143).

#include "cli/interrupts.h"

#include <QWinEventNotifier>

#include <atomic>
#include <csignal>
#include <windows.h>

namespace Cli {

namespace {

// Closing the console ends the process as soon as the handler returns, and
// some five seconds later in any case. The handler holds it this long, for
// the main thread to give up the device being written, and then ends it
// itself, with the status the tool gives (the system's would be another).
constexpr DWORD CloseGraceMs = 4000;

struct Handover
{
    std::atomic<int> received{0}; // events so far in this process
    std::atomic<int> pending{0};  // the last signal the main thread has not taken yet
    HANDLE arrived = nullptr;     // set by the handler, reset by the main thread
    HANDLE released = nullptr;    // set while no Interrupts object has anything to give up
};

Handover &handover()
{
    static Handover shared;
    return shared;
}

int signalFor(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGBREAK;
    default: // CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT
        return SIGTERM;
    }
}

BOOL WINAPI onConsoleControl(DWORD event)
{
    Handover &h = handover();
    const int signalNumber = signalFor(event);
    // The second one ends the process there and then, whatever the main
    // thread is waiting for; nothing of the process runs on.
    if (h.received.fetch_add(1) > 0)
        TerminateProcess(GetCurrentProcess(), UINT(128 + signalNumber));
    h.pending.store(signalNumber);
    SetEvent(h.arrived);
    if (signalNumber == SIGTERM) {
        WaitForSingleObject(h.released, CloseGraceMs);
        TerminateProcess(GetCurrentProcess(), UINT(128 + signalNumber));
    }
    return TRUE;
}

} // namespace

// Until an Interrupts object takes them, the events wait in the handover.
void blockInterruptSignals()
{
    Handover &h = handover();
    if (h.arrived)
        return;
    h.arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    h.released = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!h.arrived || !h.released || !SetConsoleCtrlHandler(onConsoleControl, TRUE))
        qFatal("olvex-cli: cannot watch for interrupts");
}

struct Interrupts::Private
{
    QWinEventNotifier *notifier = nullptr;
};

Interrupts::Interrupts(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    blockInterruptSignals();
    Handover &h = handover();
    ResetEvent(h.released);
    // An event that came before this object did is taken at the first turn
    // of the main thread's loop.
    d->notifier = new QWinEventNotifier(h.arrived, this);
    connect(d->notifier, &QWinEventNotifier::activated, this, [this] {
        ResetEvent(handover().arrived);
        if (const int signalNumber = handover().pending.exchange(0))
            emit interrupted(signalNumber);
    });
}

Interrupts::~Interrupts()
{
    delete d->notifier;
    // A closing console may end the process now: the device is given up.
    SetEvent(handover().released);
}

} // namespace Cli
