#pragma once

// The serial worker: the only code that opens, writes and reads the port.
// One loop, one frame outstanding at a time, fixed waits (serial/timing.h).

#include "serial/answers.h"
#include "serial/jobend.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class Line;
class LineCapture;

class SerialThread : public QThread
{
    Q_OBJECT
public:
    explicit SerialThread(QObject *parent = nullptr);
    ~SerialThread() override;

    // Hands over the port to use and starts the worker if it is not running.
    // A running worker switches ports at the end of its current pass.
    void startWork(const QString &portName);

    // Tells the worker to end and waits until it has. A device being written
    // is given up first, with the frame that tells it so. Final: the worker
    // does not start again.
    void stop();

    // Records every line the worker opens from now on into this capture
    // (serial/capture.h); set before the first startWork.
    void setCapture(std::shared_ptr<LineCapture> capture);

signals:
    // How the job just ended, for the front ends (search, pass, port failure).
    void jobEnded(const JobEnd &end);

    // Diagnostic texts. Nothing in the program needs to listen to them: the
    // window hears of failures through the notifier, the terminal tool takes
    // the error texts for its messages. response is part of the worker's
    // published interface and is never emitted.
    void response(const QString &s);
    void error(const QString &s);
    void timeout(const QString &s);

protected:
    void run() override;

private:
    enum class PortFailure {
        CannotOpen,   // at the start of a run or after a change of port
        CannotReopen, // when the idle wait ends; logged by nobody
        Lost,         // under a job: the adapter was pulled, the driver failed
    };

    QString currentPortName();
    bool quitRequested();
    void pause(int ms);

    // The steps of a pass: advance the exchange, idle while there is no work,
    // follow a change of port or end on quit. False when the run ends.
    void advanceExchange(Line &line);
    bool idleUntilWork(Line &line, const QString &runPort);
    bool followPortName(std::unique_ptr<Line> &line, QString &runPort);

    // The line a port name asks for, recorded when there is a capture.
    std::unique_ptr<Line> lineFor(const QString &name);
    // Opens the line, or ends the job the failure belongs to; told to quit
    // meanwhile, ends without a word.
    bool openLine(Line &line, const QString &name, PortFailure failure);
    void sendFrame(Line &line, quint16 bodyLength);
    void awaitWritten(Line &line);
    void notWritten();
    // One idle poll: waits its interval (less when told to quit), then lets
    // the scheduler take up a flash request that came meanwhile.
    void lookForWork();
    // Says how the job ended, with the traffic not ours seen during it.
    void announce(JobEnd end);
    void awaitResponse(Line &line);
    void handleNextReceived(Line &line);
    void giveUpOnQuit(Line &line);
    // Ends the job the port failed under and says so: the search button comes
    // back with «Порт занят», an update gives up the device being written.
    void endJob(Line &line, PortFailure failure);

    QString portName;
    int writeTimeout;
    std::mutex mutex;
    bool quit = false;
    bool m_runActive = false; // a run has been started and has not yet ended
    std::shared_ptr<LineCapture> m_capture;
    std::condition_variable m_quitSignal;

    // Worker thread only.
    Answers m_answers;
    quint16 m_frameLength = 0; // of the last frame written, or of the block read
    bool m_lost = false;       // the port failed under the run
};
