#pragma once

// Ctrl-C and SIGTERM for the terminal tool. No code runs in a signal handler:
// the signals are blocked in every thread and a thread of this object's own
// takes them from a signalfd. The first one reaches the main thread as
// interrupted(); a second one ends the process there and then, with status
// 128 + the signal, whatever the main thread is waiting for.

#include <QObject>

#include <thread>

class QSocketNotifier;

namespace Cli {

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it
// starts afterwards. main() calls it before anything else; until an
// Interrupts object takes them, they wait.
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
    void watch();
    void readPipe();

    int m_signals = -1;       // signalfd of SIGINT and SIGTERM
    int m_wake = -1;          // eventfd that ends the watching thread
    int m_pipe[2] = {-1, -1}; // watching thread to main thread
    QSocketNotifier *m_notifier = nullptr;
    std::thread m_watcher;
};

} // namespace Cli
