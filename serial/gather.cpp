// The wait for the answers to one request, with its windows and gaps.

#include "serial/gather.h"

#include "registry/registry.h"
#include "serial/port.h"
#include "serial/timing.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <vector>

namespace {

// Reads everything the port holds into the answers, then lets them cut it
// into frames. False when the port has failed.
bool readWhatCame(QSerialPort &port, Answers &answers)
{
    std::vector<quint8> came;
    char chunk[4096];
    for (;;) {
        const qint64 n = port.read(chunk, sizeof chunk);
        if (n < 0 || (n == 0 && LinePort::gone(port)))
            return false;
        if (n == 0)
            break;
        if (answers.bytesThisRound() == 0 && came.empty())
            qDebug("new data availaable to read");
        came.insert(came.end(), chunk, chunk + n);
    }
    answers.take(came.data(), came.size());
    return true;
}

} // namespace

Gathered
gatherAnswers(QSerialPort &port, Answers &answers, const std::function<bool()> &quitRequested)
{
    const LineTiming &timing = lineTiming();
    const bool search = WorkMode == ModeSearch;
    const bool watchQuit = WorkMode != ModeUpdate;
    answers.beginRound();
    Gathered result;
    QElapsedTimer window; // restarts with every new device heard in a search
    QElapsedTimer total;
    window.start();
    total.start();

    while (!(answers.news() && !search)) {
        if (port.bytesAvailable() == 0) {
            qint64 wait = timing.answerWait - window.elapsed();
            // A quiet gap ends the answers to a search, or a garbled answer;
            // never a frame that has begun and is not complete: its rest may
            // come after any pause within the window.
            const bool gapEnds = answers.bytesThisRound() > 0 && !answers.frameBegun()
                                 && (search || answers.garbledAndQuiet());
            if (gapEnds)
                wait = qMin<qint64>(wait, timing.gatherGap);
            if (search)
                wait = qMin<qint64>(wait, timing.gatherLimit - total.elapsed());
            if (wait <= 0)
                break;
            const qint64 step = watchQuit ? qMin<qint64>(wait, LinePort::WatchStepMs) : wait;
            if (!port.waitForReadyRead(int(step))) {
                if (LinePort::gone(port)) {
                    result.lost = true;
                    break;
                }
                if (step < wait) {
                    if (quitRequested())
                        break;
                    continue;
                }
                if (gapEnds || window.elapsed() >= timing.answerWait)
                    break;
                continue;
            }
        }
        if (!readWhatCame(port, answers)) {
            result.lost = true;
            break;
        }
        if (search && answers.news()) {
            window.restart();
            answers.clearNews();
        }
    }
    if (!result.lost && !answers.news())
        answers.settle();
    answers.endRound();
    result.bytes = answers.bytesThisRound();
    result.garbled = answers.garbled();
    return result;
}
