#include "serial/serialthread.h"

#include "protocol/compose.h"
#include "protocol/frame.h"
#include "protocol/handle.h"
#include "registry/registry.h"
#include "serial/scheduler.h"
#include "serial/timing.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTime>

#include <chrono>

std::atomic<qint32> TransactionPhase{PhaseReady};
std::atomic<qint32> ResponseExpected{0};
quint8 FrameBuffer[1000];

static_assert(sizeof(FrameBuffer) == Cpd::BufferSize);

namespace {
thread_local SerialThread *CurrentWorker = nullptr;

char *bufferChars()
{
    return reinterpret_cast<char *>(FrameBuffer);
}
} // namespace

SerialThread::SerialThread(QObject *parent)
    : QThread(parent)
    , writeTimeout(lineTiming().writeTimeout)
{}

SerialThread::~SerialThread()
{
    qDebug("delete SThread");
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    m_quitSignal.notify_all();
    wait();
    // The run released the mutex as its last act; taking it here orders all it
    // did before what comes after (the toolkit's own wait is invisible to
    // race checkers).
    std::lock_guard<std::mutex> lock(mutex);
}

void SerialThread::startWork(const QString &name)
{
    std::lock_guard<std::mutex> lock(mutex);
    portName = name;
    if (m_runActive)
        return;
    // A run that has just ended may still be leaving run(); let it go first,
    // so this start is never swallowed by a thread that is on its way out.
    wait();
    m_runActive = true;
    start();
}

void SerialThread::workerPause(int ms)
{
    if (CurrentWorker)
        CurrentWorker->pause(ms);
    else
        QThread::msleep(ulong(ms));
}

bool SerialThread::quitRequested()
{
    std::lock_guard<std::mutex> lock(mutex);
    return quit;
}

void SerialThread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    m_quitSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return quit; });
}

bool SerialThread::openPort(QSerialPort &port, const QString &name)
{
    port.close();
    port.setPortName(name);
    return port.open(QIODevice::ReadWrite);
}

void SerialThread::openFailed(QSerialPort &port, bool withLogLine)
{
    QString name;
    {
        std::lock_guard<std::mutex> lock(mutex);
        name = portName;
    }
    const int code = int(port.error());
    emit error(tr("Can't open %1, error code %2").arg(name).arg(code));
    if (withLogLine)
        qDebug("Can't open %s, error code %d", name.toLatin1().constData(), code);
    // The port failed as the worker took up a flash request. Drop the request:
    // an update must never start later on its own, after some other search.
    if (WorkMode == ModeUpdate) {
        FlashRequest = 0;
        emit Notifier.UnblockTableSignals();
    }
    emit Notifier.UnblockSearchButton();
    emit Notifier.UpdateMainStatus(PortBusy);
}

void SerialThread::sendFrame(QSerialPort &port, quint16 bodyLength, quint16 &frameLength)
{
    const int total = Cpd::appendChecksum(FrameBuffer, bodyLength);
    port.write(bufferChars(), total);
    frameLength = quint16(total);
    TransactionPhase = PhaseAwaitWritten;
}

void SerialThread::awaitWritten(QSerialPort &port)
{
    // With nothing pending (the request before went unanswered) there is no
    // write to wait for; the toolkit would otherwise sit out the whole
    // time-out listening for input before saying so.
    if (port.bytesToWrite() > 0 && port.waitForBytesWritten(writeTimeout)) {
        if (ResponseExpected == 1) {
            TransactionPhase = PhaseAwaitResponse;
        } else {
            TransactionPhase = PhaseReady;
            pause(lineTiming().confirmPause);
        }
        return;
    }
    qDebug("error write to serial port");
    TransactionPhase = PhaseReady;
    emit timeout(tr("Wait write request timeout %1").arg(QTime::currentTime().toString()));
}

// Reads one answer into FrameBuffer; -1 when nothing came within the window.
// Adapters hand an answer over in chunks, so an incomplete block is gathered
// until it passes its checksum, the line stays quiet for a short gap, or the
// window ends. A complete block is returned at once.
int SerialThread::readAnswer(QSerialPort &port, int windowMs)
{
    QElapsedTimer window;
    window.start();
    if (port.bytesAvailable() == 0 && !port.waitForReadyRead(windowMs))
        return -1;
    qDebug("new data availaable to read");
    qint64 n = port.read(bufferChars(), Cpd::BufferSize);
    if (n <= 0)
        return 0;
    const int gap = lineTiming().gatherGap;
    while (n < Cpd::BufferSize
           && (n < Cpd::MinFrameSize || !Cpd::checksumMatches(FrameBuffer, int(n)))) {
        const qint64 left = windowMs - window.elapsed();
        if (left <= 0)
            break;
        if (port.bytesAvailable() == 0 && !port.waitForReadyRead(int(qMin<qint64>(gap, left))))
            break;
        const qint64 more = port.read(bufferChars() + n, Cpd::BufferSize - n);
        if (more <= 0)
            break;
        n += more;
    }
    return int(n);
}

void SerialThread::awaitResponse(QSerialPort &port, quint16 &frameLength)
{
    const LineTiming &timing = lineTiming();
    if (WorkMode == ModeSearch)
        pause(timing.searchPause);
    if (UpdateStage == StageStart && WorkMode == ModeUpdate)
        pause(timing.startPause);
    if (quitRequested())
        return;

    const int n = readAnswer(port, timing.answerWait);
    if (n < 0) {
        qDebug("don't found new data to read");
        emit timeout(tr("Wait read response timeout %1").arg(QTime::currentTime().toString()));
        TransactionPhase = frameLength != 0 ? PhaseAwaitWritten : PhaseReady;
        return;
    }
    if (n == 0) {
        qDebug("empty read from serial port");
        TransactionPhase = PhaseReady;
        return;
    }
    frameLength = quint16(n - 1);
    if (!Cpd::checksumMatches(FrameBuffer, n)) {
        TransactionPhase = PhaseReady;
        qDebug("crc_error");
        return;
    }
    if (handleFrame(FrameBuffer, quint16(n - 1)) == 0) {
        TransactionPhase = PhaseReady;
        frameLength = 0;
        return;
    }
    const quint16 length = composeFrame(FrameBuffer, Cpd::TypeResponse);
    ResponseExpected = 0;
    sendFrame(port, length, frameLength);
}

void SerialThread::run()
{
    CurrentWorker = this;
    struct RunEnd
    {
        SerialThread *thread;
        ~RunEnd()
        {
            std::lock_guard<std::mutex> lock(thread->mutex);
            thread->m_runActive = false;
            CurrentWorker = nullptr;
        }
    } runEnd{this};

    QString runPort;
    {
        std::lock_guard<std::mutex> lock(mutex);
        runPort = portName;
    }
    QSerialPort port;
    if (runPort.isEmpty()) {
        emit error(tr("No port name specified"));
        emit Notifier.UnblockSearchButton();
        emit Notifier.UpdateMainStatus(NoPortSelected);
        return;
    }
    if (quitRequested())
        return;
    quint16 frameLength = 0;
    if (!openPort(port, runPort)) {
        openFailed(port, true);
        return;
    }

    for (;;) {
        switch (TransactionPhase.load()) {
        case PhaseReady:
            if (nextRequest() == 1) {
                const quint16 length = composeFrame(FrameBuffer, Cpd::TypeRequest);
                ResponseExpected = 1;
                sendFrame(port, length, frameLength);
            }
            break;
        case PhaseAwaitWritten:
            awaitWritten(port);
            break;
        case PhaseAwaitResponse:
            awaitResponse(port, frameLength);
            break;
        default:
            break;
        }

        if (WorkMode == ModeIdle) {
            port.close();
            while (WorkMode == ModeIdle) {
                if (quitRequested())
                    break;
                pause(lineTiming().idlePoll);
                if (FlashRequest == 1) {
                    WorkMode = ModeUpdate;
                    break;
                }
            }
            if (!openPort(port, runPort)) {
                openFailed(port, false);
                return;
            }
        }

        std::unique_lock<std::mutex> lock(mutex);
        if (runPort == portName) {
            if (quit)
                return;
            continue;
        }
        runPort = portName;
        const bool quitting = quit;
        lock.unlock();
        if (quitting)
            return;
        if (!openPort(port, runPort)) {
            openFailed(port, true);
            return;
        }
    }
}
