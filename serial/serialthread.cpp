#include "serial/serialthread.h"

#include "protocol/compose.h"
#include "protocol/frame.h"
#include "protocol/firmware.h"
#include "protocol/handle.h"
#include "registry/registry.h"
#include "serial/scheduler.h"
#include "serial/timing.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTime>

#include <algorithm>
#include <chrono>

namespace {
thread_local SerialThread *CurrentWorker = nullptr;

// How often a wait on the port looks whether the worker has been told to quit
// or the port has gone.
constexpr int WatchStep = 100;

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

namespace {

// Errors after which the port is no use any more: the adapter was pulled, the
// device node is gone, the driver failed. Line noise and time-outs are not.
bool portGone(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::NotOpenError:
    case QSerialPort::UnknownError:
        return true;
    default:
        return false;
    }
}

} // namespace

void SerialThread::sendFrame(QSerialPort &port, quint16 bodyLength, quint16 &frameLength)
{
    const int total = Cpd::appendChecksum(FrameBuffer, bodyLength);
    frameLength = quint16(total);
    TransactionPhase = PhaseAwaitWritten;
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
    if (portGone(port)) {
        m_lost = true;
        return;
    }
    qDebug("error write to serial port");
    TransactionPhase = PhaseReady;
    emit timeout(tr("Wait write request timeout %1").arg(QTime::currentTime().toString()));
}

// Sleeps like pause(), but notices meanwhile when the port goes away, so a
// pulled adapter is reported at once, not after a ten-second pause. What
// arrives during the pause stays in the port's buffer.
void SerialThread::pauseWatchingPort(QSerialPort &port, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0 || quitRequested())
            return;
        // Returns at once when new bytes arrive, and they join the buffer.
        if (!port.waitForReadyRead(int(qMin<qint64>(left, WatchStep))) && portGone(port)) {
            m_lost = true;
            return;
        }
    }
}

// Reads everything the port holds into the stream and cuts out the frames
// that are complete. False when the port has failed.
bool SerialThread::readWhatCame(QSerialPort &port, Gathered &result)
{
    char chunk[4096];
    for (;;) {
        const qint64 n = port.read(chunk, sizeof chunk);
        if (n < 0 || (n == 0 && portGone(port)))
            return false;
        if (n == 0)
            break;
        if (result.bytes == 0)
            qDebug("new data availaable to read");
        result.bytes += n;
        m_stream.append(reinterpret_cast<const quint8 *>(chunk), size_t(n));
    }
    std::vector<quint8> frame;
    while (m_stream.takeFrame(&frame, false))
        accept(frame, result);
    return true;
}

// Decides what becomes of one frame read off the line. A search answer from
// a device not yet heard is news, and news keeps a search round open. During
// an update only the answer of the device being written is handled; anything
// else is dropped, unanswered, so it can never move the transfer or make the
// worker write to another device.
void SerialThread::accept(const std::vector<quint8> &frame, Gathered &result)
{
    const DeviceId sender = senderOf(frame.data());
    const Cpd::CommandWord word = Cpd::unpackCommand(frame.data());
    switch (WorkMode.load()) {
    case ModeSearch:
        if (word.type == Cpd::TypeResponse && word.block == Cpd::BlockSearch
            && std::find(m_heard.begin(), m_heard.end(), sender) == m_heard.end()
            && !isRegistered(sender)) {
            m_heard.push_back(sender);
            result.answered = true;
        }
        break;
    case ModeUpdate:
        if (sender != m_asked
            || !(word.type == Cpd::TypeError
                 || (word.type == Cpd::TypeResponse && word.block == Cpd::BlockDevice
                     && word.number == Cpd::NumberFirmware))) {
            logFrameHeader(frame.data(), ": not the answer awaited, dropped");
            return;
        }
        result.answered = true;
        break;
    default:
        if (sender == m_asked)
            result.answered = true;
        break;
    }
    m_received.push_back(frame);
}

// Waits for the answers to the request just written and reads them.
//
// A search request is answered by every unconfirmed device, one after the
// other: the answers are read until the line has been quiet for the gathering
// gap (the host must not talk while devices still do). The answer window
// opens again with every new device heard, so a crowd is read to its end,
// while a device that repeats itself or a line full of noise is not waited
// for.
//
// Any other request is answered by the device asked: the wait ends with its
// answer, or with the window, or early when what came was garbled and the
// line has gone quiet. Other devices' frames that come meanwhile do not end
// it.
SerialThread::Gathered SerialThread::gather(QSerialPort &port)
{
    const LineTiming &timing = lineTiming();
    const bool search = WorkMode == ModeSearch;
    // Told to quit, the worker leaves a search or an inventory at once, as
    // nothing goes on the line after them. During an update the window runs
    // out first, so the frame that gives the device up never talks over the
    // device's answer.
    const bool watchQuit = WorkMode != ModeUpdate;
    const quint64 skippedBefore = m_stream.skippedBytes();
    m_heard.clear();
    Gathered result;
    QElapsedTimer window; // restarts with every new device heard in a search
    QElapsedTimer total;
    window.start();
    total.start();

    while (!(result.answered && !search)) {
        if (port.bytesAvailable() == 0) {
            qint64 wait = timing.answerWait - window.elapsed();
            const bool garbled = m_stream.skippedBytes() > skippedBefore && m_stream.pending() == 0;
            if (result.bytes > 0 && (search || garbled))
                wait = qMin<qint64>(wait, timing.gatherGap);
            if (search)
                wait = qMin<qint64>(wait, timing.gatherLimit - total.elapsed());
            if (wait <= 0)
                break;
            const qint64 step = watchQuit ? qMin<qint64>(wait, WatchStep) : wait;
            if (!port.waitForReadyRead(int(step))) {
                if (portGone(port))
                    m_lost = true;
                if (m_lost)
                    break;
                if (step < wait) {
                    if (quitRequested())
                        break;
                    continue;
                }
                if (!search || result.bytes > 0 || window.elapsed() >= timing.answerWait)
                    break;
                continue;
            }
        }
        if (!readWhatCame(port, result)) {
            m_lost = true;
            break;
        }
        if (search && result.answered) {
            window.restart();
            result.answered = false;
        }
    }
    if (m_lost)
        return result;

    if (!result.answered) {
        // The line is quiet or the window is over: what is left will not be
        // finished. An answer of untold length takes the rest.
        std::vector<quint8> frame;
        while (m_stream.takeFrame(&frame, true))
            accept(frame, result);
        m_stream.discard();
    }
    result.garbled = m_stream.skippedBytes() > skippedBefore;
    return result;
}

void SerialThread::awaitResponse(QSerialPort &port, quint16 &frameLength)
{
    const LineTiming &timing = lineTiming();
    if (WorkMode == ModeSearch)
        pauseWatchingPort(port, timing.searchPause);
    if (UpdateStage == StageStart && WorkMode == ModeUpdate)
        pauseWatchingPort(port, timing.startPause);
    if (m_lost || quitRequested())
        return;

    const Gathered got = gather(port);
    if (m_lost || (WorkMode != ModeUpdate && quitRequested()))
        return;
    if (got.bytes == 0) {
        qDebug("don't found new data to read");
        emit timeout(tr("Wait read response timeout %1").arg(QTime::currentTime().toString()));
        TransactionPhase = frameLength != 0 ? PhaseAwaitWritten : PhaseReady;
        return;
    }
    // Garbled answers mean devices that tried to answer and will try again:
    // such a round is not a silent one.
    if (got.garbled && WorkMode == ModeSearch)
        SearchRound = 0;
    TransactionPhase = PhaseReady;
    frameLength = 0;
}

// Hands the next frame read to the answer handling and confirms it when the
// handling asks for it; the devices that answered a search are confirmed one
// after the other, each with the pause after its confirmation.
void SerialThread::handleNextReceived(QSerialPort &port, quint16 &frameLength)
{
    const std::vector<quint8> frame = std::move(m_received.front());
    m_received.pop_front();
    std::copy(frame.begin(), frame.end(), FrameBuffer);
    const quint16 body = quint16(frame.size() - 1);
    frameLength = body;
    if (handleFrame(FrameBuffer, body) == 0) {
        TransactionPhase = PhaseReady;
        frameLength = 0;
        return;
    }
    const quint16 length = composeFrame(FrameBuffer, Cpd::TypeResponse);
    ResponseExpected = 0;
    sendFrame(port, length, frameLength);
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
    quint16 frameLength = 0;
    sendFrame(port, composeFrame(FrameBuffer, Cpd::TypeRequest), frameLength);
    if (!m_lost)
        port.waitForBytesWritten(writeTimeout);
    TransactionPhase = PhaseReady;
    FirmwareTransfer::endPass();
}

// The port failed while the run was using it (the adapter was pulled). The
// job ends at once and says so: a search or an inventory ends without a
// result, an update gives up the device being written, and the search button
// comes back. The next search opens the port again.
void SerialThread::portLost(QSerialPort &port)
{
    QString name;
    {
        std::lock_guard<std::mutex> lock(mutex);
        name = portName;
    }
    const int code = int(port.error());
    emit error(tr("Lost %1, error code %2").arg(name).arg(code));
    qDebug("Lost %s, error code %d", name.toLatin1().constData(), code);
    m_received.clear();
    m_stream.clear();
    TransactionPhase = PhaseReady;
    if (WorkMode == ModeUpdate) {
        FlashRequest = 0;
        FirmwareTransfer::abandonPass();
        emit Notifier.UpdateDevStatus();
        emit Notifier.UnblockTableSignals();
    }
    emit Notifier.UnblockSearchButton();
    emit Notifier.UpdateMainStatus(PortBusy);
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
    m_lost = false;
    m_received.clear();
    m_stream.clear();
    if (!openPort(port, runPort)) {
        openFailed(port, true);
        return;
    }

    for (;;) {
        switch (TransactionPhase.load()) {
        case PhaseReady:
            if (!m_received.empty()) {
                handleNextReceived(port, frameLength);
            } else if (nextRequest() == 1) {
                const quint16 length = composeFrame(FrameBuffer, Cpd::TypeRequest);
                ResponseExpected = 1;
                m_asked = TargetId;
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
        if (m_lost) {
            portLost(port);
            return;
        }

        if (WorkMode == ModeIdle) {
            port.close();
            m_stream.clear();
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
            if (!quit)
                continue;
            lock.unlock();
            giveUpOnQuit(port);
            return;
        }
        runPort = portName;
        const bool quitting = quit;
        lock.unlock();
        if (quitting) {
            giveUpOnQuit(port);
            return;
        }
        m_received.clear();
        m_stream.clear();
        if (!openPort(port, runPort)) {
            openFailed(port, true);
            return;
        }
    }
}
