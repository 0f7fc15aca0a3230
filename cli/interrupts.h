#pragma once

// Ctrl-C and SIGTERM for the terminal tool. The handler itself only writes the
// signal's number into a pipe; the main thread reads it through a socket
// notifier and gets interrupted(). A second signal ends the process at once,
// from the handler, with status 128 + the signal.

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace Cli {

class Interrupts : public QObject
{
    Q_OBJECT
public:
    // One at a time per process.
    explicit Interrupts(QObject *parent = nullptr);
    ~Interrupts() override; // puts the previous handlers back

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void interrupted(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_previousInt
    {
    };
    struct sigaction m_previousTerm
    {
    };
};

} // namespace Cli
