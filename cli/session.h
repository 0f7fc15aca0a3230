#pragma once

// One job on one line, for the terminal tool: the same worker, scheduler,
// answer handling and transfer as the window, started the same way and heard
// through the same notifier. Each step runs until the worker says how it
// ended, or until an interrupt.

#include "registry/registry.h"
#include "serial/serialthread.h"

#include <QObject>
#include <QString>

#include <memory>

class LineCapture;
class QEventLoop;

namespace Cli {

class Interrupts;

class LineSession : public QObject
{
    Q_OBJECT
public:
    enum class End {
        Done,        // search: devices found; update: the pass is over
        NoDevices,   // the search found nothing
        PortFailed,  // the port cannot be opened, or it was lost
        NoPort,      // no port name
        Interrupted, // Ctrl-C or SIGTERM
    };

    // With a capture, every byte that crosses the line is recorded in it.
    LineSession(const QString &port,
                Interrupts &interrupts,
                std::shared_ptr<LineCapture> capture = {},
                QObject *parent = nullptr);
    ~LineSession() override;

    // The search and version inventory, as the window's search button starts it.
    End search();
    // The update pass over the ticked devices with this image.
    End update(std::shared_ptr<const FirmwareImage> image);
    // Ends the worker; a device being written is given up first, with the
    // frame that tells it so. Blocks until the worker has ended (at most an
    // answer window and a frame).
    void stop();

    // How the last job ended, as the core said it (the port's fault with it).
    const JobEnd &jobEnd() const { return m_jobEnd; }

    // Traffic not ours that the line carried during this session's jobs.
    struct Traffic
    {
        quint64 frames = 0;
        quint64 bytes = 0;
    };
    Traffic foreignTraffic() const { return m_foreign; }
    int signalNumber() const { return m_signal; }

signals:
    // A device was found, or a transfer moved on.
    void changed();

private:
    End await(JobEnd::Kind done);
    void onJobEnded(const JobEnd &end);
    void finish(End end);

    QString m_port;
    SerialThread m_worker;
    QEventLoop *m_loop = nullptr;
    JobEnd::Kind m_awaited = JobEnd::SearchFinished;
    JobEnd m_jobEnd;
    Traffic m_foreign;
    End m_end = End::Done;
    int m_signal = 0;
};

} // namespace Cli
