#pragma once

// Ctrl-C and SIGTERM for the terminal tool. No code runs in a signal handler:
// on Unix the signals are blocked in every thread and a thread of this
// object's own takes them from a signalfd; on Windows the console's control
// handler (Ctrl-C, Ctrl-Break, the console closed) only hands the event over.
// The first one reaches the main thread as interrupted(); a second one ends
// the process there and then, with status 128 + the signal, whatever the main
// thread is waiting for. One implementation per platform.

#include <QObject>

#include <memory>

namespace Cli {

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it
// starts afterwards (on Windows: installs the console's control handler).
// main() calls it before anything else; until an Interrupts object takes
// them, they wait.
void blockInterruptSignals();

class Interrupts : public QObject
{
    Q_OBJECT
public:
    // One at a time per process, after blockInterruptSignals().
    explicit Interrupts(QObject *parent = nullptr);
    ~Interrupts() override;

signals:
    void interrupted(int signalNumber);

private:
    struct Private; // the platform's own watch
    std::unique_ptr<Private> d;
};

} // namespace Cli
