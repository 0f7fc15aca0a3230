// The worker thread: its life (start, quit), and the loop that advances the
// exchange with the devices one step a pass.

#include "serial/serialthread.h"

#include "protocol/compose.h"
#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "protocol/handle.h"
#include "registry/exchange.h"
#include "registry/registry.h"
#include "serial/gather.h"
#include "serial/port.h"
#include "serial/scheduler.h"
#include "serial/timing.h"

#include <QSerialPort>
#include <QTime>

#include <algorithm>
#include <chrono>

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
    stop();
}

void SerialThread::stop()
{
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

QString SerialThread::currentPortName()
{
    std::lock_guard<std::mutex> lock(mutex);
    return portName;
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

    QString runPort = currentPortName();
    QSerialPort port;
    if (runPort.isEmpty()) {
        emit error(tr("No port name specified"));
        emit Notifier.UnblockSearchButton();
        emit Notifier.UpdateMainStatus(NoPortSelected);
        return;
    }
    if (quitRequested())
        return;
    m_frameLength = 0;
    m_lost = false;
    m_answers.clear();
    if (!LinePort::open(port, runPort)) {
        endJob(port, PortFailure::CannotOpen);
        return;
    }

    for (;;) {
        advanceExchange(port);
        if (m_lost) {
            endJob(port, PortFailure::Lost);
            return;
        }
        if (WorkMode == ModeIdle && !idleUntilWork(port, runPort))
            return;
        if (!followPortName(port, runPort))
            return;
    }
}

// One step of the exchange: choose and send a request, see it leave, take its
// answers, or hand the next answer taken to the answer handling.
void SerialThread::advanceExchange(QSerialPort &port)
{
    switch (TransactionPhase.load()) {
    case PhaseReady:
        if (m_answers.hasFrame()) {
            handleNextReceived(port);
        } else if (nextRequest() == 1) {
            const quint16 length = composeFrame(FrameBuffer, Cpd::TypeRequest);
            ResponseExpected = 1;
            m_answers.expect(TargetId);
            sendFrame(port, length);
        }
        break;
    case PhaseAwaitWritten:
        awaitWritten(port);
        break;
    case PhaseAwaitResponse:
        awaitResponse(port);
        break;
    default:
        break;
    }
}

// With nothing to do the port is closed; it is opened again, under the name
// it had, once a flash request comes or the worker is told to quit.
bool SerialThread::idleUntilWork(QSerialPort &port, const QString &runPort)
{
    port.close();
    m_answers.clear();
    while (WorkMode == ModeIdle && !quitRequested())
        idlePoll();
    if (!LinePort::open(port, runPort)) {
        endJob(port, PortFailure::CannotReopen);
        return false;
    }
    return true;
}

// The end of a pass: told to quit, the worker gives up the device it is
// writing and ends; handed another port, it switches to it.
bool SerialThread::followPortName(QSerialPort &port, QString &runPort)
{
    std::unique_lock<std::mutex> lock(mutex);
    const bool switching = runPort != portName;
    runPort = portName;
    const bool quitting = quit;
    lock.unlock();
    if (quitting) {
        giveUpOnQuit(port);
        return false;
    }
    if (!switching)
        return true;
    m_answers.clear();
    if (!LinePort::open(port, runPort)) {
        endJob(port, PortFailure::CannotOpen);
        return false;
    }
    return true;
}

void SerialThread::sendFrame(QSerialPort &port, quint16 bodyLength)
{
    const int total = Cpd::appendChecksum(FrameBuffer, bodyLength);
    m_frameLength = quint16(total);
    TransactionPhase = PhaseAwaitWritten;
    m_answers.sent(FrameBuffer, size_t(total));
    if (port.write(bufferChars(), total) != total)
        m_lost = true;
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
    if (LinePort::gone(port)) {
        m_lost = true;
        return;
    }
    qDebug("error write to serial port");
    TransactionPhase = PhaseReady;
    emit timeout(tr("Wait write request timeout %1").arg(QTime::currentTime().toString()));
}

void SerialThread::awaitResponse(QSerialPort &port)
{
    const LineTiming &timing = lineTiming();
    const auto quitting = [this] {
        return quitRequested();
    };
    if (WorkMode == ModeSearch && !LinePort::pause(port, timing.searchPause, quitting))
        m_lost = true;
    if (!m_lost && UpdateStage == StageStart && WorkMode == ModeUpdate
        && !LinePort::pause(port, timing.startPause, quitting))
        m_lost = true;
    if (m_lost || quitRequested())
        return;

    const Gathered got = gatherAnswers(port, m_answers, quitting);
    m_lost = got.lost;
    if (m_lost || (WorkMode != ModeUpdate && quitRequested()))
        return;
    if (got.bytes == 0) {
        qDebug("don't found new data to read");
        emit timeout(tr("Wait read response timeout %1").arg(QTime::currentTime().toString()));
        TransactionPhase = m_frameLength != 0 ? PhaseAwaitWritten : PhaseReady;
        return;
    }
    // Garbled answers mean devices that tried to answer and will try again:
    // such a round is not a silent one.
    if (got.garbled && WorkMode == ModeSearch)
        SearchRound = 0;
    TransactionPhase = PhaseReady;
    m_frameLength = 0;
}

// Hands the next frame read to the answer handling and confirms it when the
// handling asks for it; the devices that answered a search are confirmed one
// after the other, each with the pause after its confirmation.
void SerialThread::handleNextReceived(QSerialPort &port)
{
    const std::vector<quint8> frame = m_answers.nextFrame();
    std::copy(frame.begin(), frame.end(), FrameBuffer);
    const quint16 body = quint16(frame.size() - 1);
    m_frameLength = body;
    if (handleFrame(FrameBuffer, body) == 0) {
        TransactionPhase = PhaseReady;
        m_frameLength = 0;
        return;
    }
    const quint16 length = composeFrame(FrameBuffer, Cpd::TypeResponse);
    ResponseExpected = 0;
    sendFrame(port, length);
}

// Told to quit while a device is being written (the window closes, the
// terminal tool is interrupted): the device is told that it is given up, with
// the very frame the transfer sends after too many repeats, before the run
// ends. No further device is started.
void SerialThread::giveUpOnQuit(QSerialPort &port)
{
    if (WorkMode != ModeUpdate || !FirmwareTransfer::giveUpNow())
        return;
    const auto record = DeviceList.at(cursorPosition());
    if (!record)
        return;
    TargetId = record->id;
    CmdBlock = Cpd::BlockDevice;
    CmdNumber = Cpd::NumberFirmware;
    sendFrame(port, composeFrame(FrameBuffer, Cpd::TypeRequest));
    if (!m_lost)
        port.waitForBytesWritten(writeTimeout);
    TransactionPhase = PhaseReady;
    FirmwareTransfer::endPass();
}

SerialThread::PortFault SerialThread::lastPortFault() const
{
    return PortFault{m_faultLost.load(), m_faultError.load()};
}

void SerialThread::endJob(QSerialPort &port, PortFailure failure)
{
    const QString name = currentPortName();
    const int code = int(port.error());
    const bool lost = failure == PortFailure::Lost;
    m_faultLost = lost;
    m_faultError = code;
    emit error((lost ? tr("Lost %1, error code %2") : tr("Can't open %1, error code %2"))
                   .arg(name)
                   .arg(code));
    if (failure != PortFailure::CannotReopen)
        qDebug(lost ? "Lost %s, error code %d" : "Can't open %s, error code %d",
               name.toLatin1().constData(),
               code);
    if (lost) {
        m_answers.clear();
        TransactionPhase = PhaseReady;
    }
    // An update that lost its port gives up the device it was writing. One
    // whose port failed as the worker took the request up is dropped: it must
    // never start later on its own, after some other search.
    if (WorkMode == ModeUpdate) {
        FlashRequest = 0;
        if (lost) {
            FirmwareTransfer::abandonPass();
            emit Notifier.UpdateDevStatus();
        }
        emit Notifier.UnblockTableSignals();
    }
    emit Notifier.UnblockSearchButton();
    emit Notifier.UpdateMainStatus(PortBusy);
}
