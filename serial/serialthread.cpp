// The worker thread: its life (start, quit), and the loop that advances the
// exchange with the devices one step a pass.

#include "serial/serialthread.h"

#include "protocol/compose.h"
#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "protocol/handle.h"
#include "registry/exchange.h"
#include "registry/registry.h"
#include "serial/line.h"
#include "serial/linewaits.h"
#include "serial/recordingline.h"
#include "serial/scheduler.h"
#include "serial/timing.h"

#include <QElapsedTimer>
#include <QTime>

#include <algorithm>
#include <chrono>
#include <optional>

namespace {
char *bufferChars()
{
    return reinterpret_cast<char *>(FrameBuffer);
}
} // namespace

SerialThread::SerialThread(QObject *parent)
    : QThread(parent)
    , writeTimeout(lineTiming().writeTimeout)
{
    qRegisterMetaType<JobEnd>("JobEnd");
}

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

void SerialThread::setCapture(std::shared_ptr<LineCapture> capture)
{
    std::lock_guard<std::mutex> lock(mutex);
    m_capture = std::move(capture);
}

std::unique_ptr<Line> SerialThread::lineFor(const QString &name)
{
    std::unique_ptr<Line> line = makeLine(name);
    std::lock_guard<std::mutex> lock(mutex);
    if (!m_capture)
        return line;
    return std::make_unique<RecordingLine>(std::move(line), *m_capture);
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
    struct RunEnd
    {
        SerialThread *thread;
        ~RunEnd()
        {
            std::lock_guard<std::mutex> lock(thread->mutex);
            thread->m_runActive = false;
        }
    } runEnd{this};

    QString runPort = currentPortName();
    std::unique_ptr<Line> line = lineFor(runPort);
    if (runPort.isEmpty()) {
        emit error(tr("No port name specified"));
        emit Notifier.UnblockSearchButton();
        emit Notifier.UpdateMainStatus(NoPortSelected);
        announce(JobEnd{JobEnd::NoPortName});
        return;
    }
    if (quitRequested())
        return;
    m_frameLength = 0;
    m_lost = false;
    m_answers.clear();
    if (!openLine(*line, runPort, PortFailure::CannotOpen))
        return;

    for (;;) {
        advanceExchange(*line);
        if (m_lost) {
            endJob(*line, PortFailure::Lost);
            return;
        }
        if (WorkMode == ModeIdle && !idleUntilWork(*line, runPort))
            return;
        if (!followPortName(line, runPort))
            return;
    }
}

// One step of the exchange: choose and send a request, see it leave, take its
// answers, or hand the next answer taken to the answer handling.
void SerialThread::advanceExchange(Line &line)
{
    switch (TransactionPhase.load()) {
    case PhaseReady: {
        if (m_answers.hasFrame()) {
            handleNextReceived(line);
            break;
        }
        // A run that starts before the search is asked for looks once, with
        // the port open, before it closes the port to wait.
        if (!hasWork()) {
            lookForWork();
            break;
        }
        std::optional<JobEnd> ended;
        if (nextRequest(&ended) == 1) {
            const quint16 length = composeFrame(FrameBuffer, Cpd::TypeRequest);
            ResponseExpected = 1;
            m_answers.expect(TargetId);
            sendFrame(line, length);
        } else if (ended) {
            announce(*ended);
        }
        break;
    }
    case PhaseAwaitWritten:
        awaitWritten(line);
        break;
    case PhaseAwaitResponse:
        awaitResponse(line);
        break;
    default:
        break;
    }
}

// With nothing to do the port is closed; it is opened again, under the name
// it had, once a flash request comes or the worker is told to quit.
bool SerialThread::idleUntilWork(Line &line, const QString &runPort)
{
    line.close();
    m_answers.clear();
    while (WorkMode == ModeIdle && !quitRequested())
        lookForWork();
    return openLine(line, runPort, PortFailure::CannotReopen);
}

// The end of a pass: told to quit, the worker gives up the device it is
// writing and ends; handed another port, it switches to it.
bool SerialThread::followPortName(std::unique_ptr<Line> &line, QString &runPort)
{
    std::unique_lock<std::mutex> lock(mutex);
    const bool switching = runPort != portName;
    runPort = portName;
    const bool quitting = quit;
    lock.unlock();
    if (quitting) {
        giveUpOnQuit(*line);
        return false;
    }
    if (!switching)
        return true;
    m_answers.clear();
    line->close();
    line = lineFor(runPort);
    return openLine(*line, runPort, PortFailure::CannotOpen);
}

// Opening a line behind a device server takes time; told to quit meanwhile,
// the worker ends at once and says nothing.
bool SerialThread::openLine(Line &line, const QString &name, PortFailure failure)
{
    if (line.open(name, [this] { return quitRequested(); }))
        return true;
    if (!quitRequested())
        endJob(line, failure);
    return false;
}

void SerialThread::sendFrame(Line &line, quint16 bodyLength)
{
    const int total = Cpd::appendChecksum(FrameBuffer, bodyLength);
    m_frameLength = quint16(total);
    TransactionPhase = PhaseAwaitWritten;
    // Never a frame on top of one the port has not sent yet: on a half-duplex
    // line it would go out while the device answers the first.
    if (line.bytesToWrite() > 0 && drainWrite(line, writeTimeout) == WriteEnd::Lost) {
        m_lost = true;
        return;
    }
    m_answers.sent(FrameBuffer, size_t(total));
    if (line.write(bufferChars(), total) != total)
        m_lost = true;
}

void SerialThread::awaitWritten(Line &line)
{
    // With nothing pending (the request before went unanswered) there is no
    // write to wait for; the toolkit would otherwise sit out the whole
    // time-out listening for input before saying so.
    if (line.bytesToWrite() == 0) {
        notWritten();
        return;
    }
    switch (drainWrite(line, writeTimeout)) {
    case WriteEnd::Out:
        // Only now, with the frame out, does the wait for its answer begin.
        if (ResponseExpected == 1) {
            TransactionPhase = PhaseAwaitResponse;
        } else {
            TransactionPhase = PhaseReady;
            pause(lineTiming().confirmPause);
        }
        break;
    case WriteEnd::Dropped:
        notWritten();
        break;
    case WriteEnd::Lost:
        m_lost = true;
        break;
    }
}

void SerialThread::notWritten()
{
    qDebug("error write to serial port");
    TransactionPhase = PhaseReady;
    emit timeout(tr("Wait write request timeout %1").arg(QTime::currentTime().toString()));
}

void SerialThread::lookForWork()
{
    pause(lineTiming().idlePoll);
    takeUpFlashRequest();
}

void SerialThread::awaitResponse(Line &line)
{
    const LineTiming &timing = lineTiming();
    const auto quitting = [this] { return quitRequested(); };
    if (WorkMode == ModeSearch && !watchLine(line, timing.searchPause, quitting))
        m_lost = true;
    if (!m_lost && UpdateStage == StageStart && WorkMode == ModeUpdate
        && !watchLine(line, timing.startPause, quitting))
        m_lost = true;
    if (m_lost || quitRequested())
        return;

    const Gathered got = gatherAnswers(line, m_answers, quitting);
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
void SerialThread::handleNextReceived(Line &line)
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
    sendFrame(line, length);
}

// Told to quit while a device is being written (the window closes, the
// terminal tool is interrupted): the device is told that it is given up, with
// the very frame the transfer sends after too many repeats, before the run
// ends. No further device is started.
void SerialThread::giveUpOnQuit(Line &line)
{
    if (WorkMode != ModeUpdate || !FirmwareTransfer::giveUpNow())
        return;
    const auto record = DeviceList.at(cursorPosition());
    if (!record)
        return;
    TargetId = record->id;
    CmdBlock = Cpd::BlockDevice;
    CmdNumber = Cpd::NumberFirmware;
    sendFrame(line, composeFrame(FrameBuffer, Cpd::TypeRequest));
    if (!m_lost)
        drainWrite(line, writeTimeout);
    TransactionPhase = PhaseReady;
    FirmwareTransfer::endPass();
}

void SerialThread::endJob(Line &line, PortFailure failure)
{
    const QString name = currentPortName();
    const LineFault fault = line.fault();
    const int code = fault.number();
    const bool lost = failure == PortFailure::Lost;
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
    JobEnd end{JobEnd::PortFailed};
    end.portLost = lost;
    end.portFault = fault;
    announce(end);
}

void SerialThread::announce(JobEnd end)
{
    const Answers::Foreign seen = m_answers.takeForeign();
    end.foreignFrames = seen.frames;
    end.foreignBytes = seen.bytes;
    if (end.foreignFrames > 0 || end.foreignBytes > 0)
        qDebug("traffic not ours on the line: %llu frames, %llu bytes",
               static_cast<unsigned long long>(end.foreignFrames),
               static_cast<unsigned long long>(end.foreignBytes));
    emit jobEnded(end);
}
