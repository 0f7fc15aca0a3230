#pragma once

// The serial worker: the only code that opens, writes and reads the port.
// One loop, one frame outstanding at a time, fixed waits (serial/timing.h).

#include "protocol/stream.h"
#include "registry/exchange.h"
#include "registry/registry.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class QSerialPort;

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

    // Sleeps on the worker thread; returns early once the worker is told to quit,
    // so closing the window never waits out a long pause.
    static void workerPause(int ms);

signals:
    void response(const QString &s);
    void error(const QString &s);
    void timeout(const QString &s);

protected:
    void run() override;

private:
    // What one wait for answers brought.
    struct Gathered
    {
        qint64 bytes = 0;     // bytes read
        bool garbled = false; // some of them formed no valid frame
        bool answered = false; // the device asked has answered
    };

    bool quitRequested();
    void pause(int ms);
    void pauseWatchingPort(QSerialPort &port, int ms);
    bool openPort(QSerialPort &port, const QString &name);
    void openFailed(QSerialPort &port, bool withLogLine);
    void portLost(QSerialPort &port);
    void giveUpOnQuit(QSerialPort &port);
    void awaitWritten(QSerialPort &port);
    void awaitResponse(QSerialPort &port, quint16 &frameLength);
    Gathered gather(QSerialPort &port);
    bool readWhatCame(QSerialPort &port, Gathered &result);
    void accept(const std::vector<quint8> &frame, Gathered &result);
    void handleNextReceived(QSerialPort &port, quint16 &frameLength);
    void sendFrame(QSerialPort &port, quint16 bodyLength, quint16 &frameLength);

    QString portName;
    int writeTimeout;
    std::mutex mutex;
    bool quit = false;
    bool m_runActive = false; // a run has been started and has not yet ended
    std::condition_variable m_quitSignal;

    // Worker thread only.
    FrameStream m_stream;                         // bytes read, not yet cut into frames
    std::deque<std::vector<quint8>> m_received;   // frames read, not yet handled
    DeviceId m_asked{};                           // the device the last request went to
    std::vector<DeviceId> m_heard;                // new senders heard in this search round
    bool m_lost = false;                          // the port failed under the run
};
