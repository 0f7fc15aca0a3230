// The wait for the answers to one request, with its windows and gaps.

#include "serial/gather.h"

#include "registry/registry.h"
#include "serial/line.h"
#include "serial/timing.h"

#include <QElapsedTimer>

#include <vector>

namespace {

// Reads everything the port holds into the answers, then lets them cut it
// into frames. False when the port has failed.
bool readWhatCame(Line &line, Answers &answers)
{
    std::vector<quint8> came;
    char chunk[4096];
    for (;;) {
        const qint64 n = line.read(chunk, sizeof chunk);
        if (n < 0 || (n == 0 && line.gone()))
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

// Why a gathering ended.
enum class End {
    Answered,   // the device asked has answered
    WindowOver, // the answer window (or a search's hard limit) is over
    Quiet,      // the line stayed quiet for the gap after what came
    Quit,       // the worker was told to quit
    Lost,       // the port failed
    Flooded,    // more came than the line can carry
};

} // namespace

Gathered
gatherAnswers(Line &line, Answers &answers, const std::function<bool()> &quitRequested)
{
    const LineTiming &timing = lineTiming();
    const bool search = WorkMode == ModeSearch;
    const bool watchQuit = WorkMode != ModeUpdate;
    answers.beginRound();
    QElapsedTimer window; // restarts with every new device heard in a search
    QElapsedTimer total;
    QElapsedTimer quiet; // since bytes last came
    window.start();
    total.start();
    quiet.start();

    End end = End::WindowOver;
    for (;;) {
        if (line.bytesAvailable() > 0) {
            if (!readWhatCame(line, answers)) {
                end = End::Lost;
                break;
            }
            quiet.restart();
        }
        if (answers.bytesThisRound() > FloodBytes) {
            qDebug("the line floods: more than %lld bytes to one request",
                   static_cast<long long>(FloodBytes));
            end = End::Flooded;
            break;
        }
        if (answers.news()) {
            if (!search) {
                end = End::Answered;
                break;
            }
            window.restart();
            answers.clearNews();
        }
        if (line.gone()) {
            end = End::Lost;
            break;
        }
        if (watchQuit && quitRequested()) {
            end = End::Quit;
            break;
        }
        qint64 left = timing.answerWait - window.elapsed();
        if (search)
            left = qMin<qint64>(left, timing.gatherLimit - total.elapsed());
        if (left <= 0) {
            end = End::WindowOver;
            break;
        }
        // A quiet gap ends the answers to a search, or a garbled answer;
        // never a frame that has begun and is not complete.
        const bool gapEnds = answers.bytesThisRound() > 0 && !answers.frameBegun()
                             && (search || answers.garbledAndQuiet());
        if (gapEnds) {
            const qint64 gapLeft = timing.gatherGap - quiet.elapsed();
            if (gapLeft <= 0) {
                end = End::Quiet;
                break;
            }
            left = qMin(left, gapLeft);
        }
        // Whatever the wait says, the bytes the port holds decide.
        line.waitForReadyRead(int(qMin<qint64>(left, WatchStepMs)));
    }

    Gathered result;
    result.lost = end == End::Lost;
    result.flooded = end == End::Flooded;
    if (end != End::Lost && end != End::Answered && end != End::Flooded)
        answers.settle();
    answers.endRound();
    result.bytes = answers.bytesThisRound();
    result.garbled = answers.garbled();
    return result;
}
