#pragma once

// The serial worker: the only code that opens, writes and reads the port.
// One loop, one frame outstanding at a time, fixed waits (serial/timing.h).

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QSerialPort;

enum TransactionPhases : qint32 {
    PhaseReady = 0,         // nothing outstanding; the scheduler may choose the next request
    PhaseAwaitWritten = 1,  // a frame has been handed to the port
    PhaseAwaitResponse = 2, // a request has left; its answer is awaited
};

// Worker state that outlives a run: a new run starts where the last one left off.
extern std::atomic<qint32> TransactionPhase;
extern std::atomic<qint32> ResponseExpected;
extern quint8 FrameBuffer[1000]; // both directions; worker thread only

class SerialThread : public QThread
{
    Q_OBJECT
public:
    explicit SerialThread(QObject *parent = nullptr);
    ~SerialThread() override;

    // Hands over the port to use and starts the worker if it is not running.
    // A running worker switches ports at the end of its current pass.
    void startWork(const QString &portName);

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
    bool quitRequested();
    void pause(int ms);
    bool openPort(QSerialPort &port, const QString &name);
    void openFailed(QSerialPort &port, bool withLogLine);
    void awaitWritten(QSerialPort &port);
    void awaitResponse(QSerialPort &port, quint16 &frameLength);
    int readAnswer(QSerialPort &port, int windowMs);
    void sendFrame(QSerialPort &port, quint16 bodyLength, quint16 &frameLength);

    QString portName;
    int writeTimeout;
    std::mutex mutex;
    bool quit = false;
    bool m_runActive = false; // a run has been started and has not yet ended
    std::condition_variable m_quitSignal;
};
