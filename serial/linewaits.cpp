// The worker's waits on the line.

#include "serial/linewaits.h"

#include "registry/registry.h"
#include "serial/line.h"
#include "serial/timing.h"

#include <QElapsedTimer>

#include <algorithm>
#include <optional>
#include <vector>

WriteEnd drainWrite(Line &line, int writeTimeout)
{
    const LineTiming &timing = lineTiming();
    QElapsedTimer clock;
    clock.start();
    bool outlived = false;
    while (line.bytesToWrite() > 0) {
        if (line.gone())
            return WriteEnd::Lost;
        const qint64 elapsed = clock.elapsed();
        if (elapsed >= timing.writeLimit) {
            qDebug("write not done after %d ms, the rest of the frame dropped", timing.writeLimit);
            line.discardOutput();
            return WriteEnd::Dropped;
        }
        if (!outlived && elapsed >= writeTimeout) {
            qDebug("write still under way after %d ms, waiting for it", writeTimeout);
            outlived = true;
        }
        const qint64 until = outlived ? timing.writeLimit : writeTimeout;
        line.waitForBytesWritten(int(std::clamp<qint64>(until - elapsed, 1, WatchStepMs)));
    }
    if (line.gone())
        return WriteEnd::Lost;
    if (outlived)
        qDebug("write done after %lld ms", static_cast<long long>(clock.elapsed()));
    return WriteEnd::Out;
}

bool watchLine(Line &line, int ms, const std::function<bool()> &quitRequested)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (line.gone())
            return false;
        const qint64 left = ms - clock.elapsed();
        if (left <= 0 || quitRequested())
            return true;
        // Returns at once when new bytes arrive; they join the line's buffer.
        line.waitForReadyRead(int(qMin<qint64>(left, WatchStepMs)));
    }
}

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

// One gathering: its clocks, and the one question asked after every read,
// whether it ends now, and how long it may wait for more.
class Gathering
{
public:
    Gathering(Line &line, Answers &answers, const std::function<bool()> &quitRequested)
        : m_line(line)
        , m_answers(answers)
        , m_quitRequested(quitRequested)
        , m_search(WorkMode == ModeSearch)
        , m_watchQuit(WorkMode != ModeUpdate)
    {
        m_window.start();
        m_total.start();
        m_quiet.start();
    }

    End run()
    {
        for (;;) {
            if (m_line.bytesAvailable() > 0) {
                if (!readWhatCame(m_line, m_answers))
                    return End::Lost;
                m_quiet.restart();
            }
            if (m_search && m_answers.news()) {
                m_window.restart(); // a new device: the crowd may go on
                m_answers.clearNews();
            }
            qint64 wait = 0;
            if (const std::optional<End> end = endNow(&wait))
                return *end;
            // Whatever the wait says, the bytes the port holds decide.
            m_line.waitForReadyRead(int(qMin<qint64>(wait, WatchStepMs)));
        }
    }

private:
    // The gathering's ends, in the order they are looked at; otherwise how
    // long it may wait for more.
    std::optional<End> endNow(qint64 *wait)
    {
        const LineTiming &timing = lineTiming();
        if (m_answers.bytesThisRound() > FloodBytes) {
            qDebug("the line floods: more than %lld bytes to one request",
                   static_cast<long long>(FloodBytes));
            return End::Flooded;
        }
        if (!m_search && m_answers.news())
            return End::Answered;
        if (m_line.gone())
            return End::Lost;
        if (m_watchQuit && m_quitRequested())
            return End::Quit;
        qint64 left = timing.answerWait - m_window.elapsed();
        if (m_search)
            left = qMin<qint64>(left, timing.gatherLimit - m_total.elapsed());
        if (left <= 0)
            return End::WindowOver;
        // A quiet gap ends the answers to a search, or a garbled answer;
        // never a frame that has begun and is not complete.
        if (m_answers.bytesThisRound() > 0 && !m_answers.frameBegun()
            && (m_search || m_answers.garbledAndQuiet())) {
            const qint64 gapLeft = timing.gatherGap - m_quiet.elapsed();
            if (gapLeft <= 0)
                return End::Quiet;
            left = qMin(left, gapLeft);
        }
        *wait = left;
        return std::nullopt;
    }

    Line &m_line;
    Answers &m_answers;
    const std::function<bool()> &m_quitRequested;
    const bool m_search;
    const bool m_watchQuit; // during an update the window runs out first
    QElapsedTimer m_window; // restarts with every new device heard in a search
    QElapsedTimer m_total;
    QElapsedTimer m_quiet; // since bytes last came
};

} // namespace

Gathered
gatherAnswers(Line &line, Answers &answers, const std::function<bool()> &quitRequested)
{
    answers.beginRound();
    const End end = Gathering(line, answers, quitRequested).run();
    Gathered result;
    if (end == End::Flooded)
        line.fail(LineFault::flooded());
    result.lost = end == End::Lost || end == End::Flooded;
    if (end != End::Lost && end != End::Answered && end != End::Flooded)
        answers.settle();
    answers.endRound();
    result.bytes = answers.bytesThisRound();
    result.garbled = answers.garbled();
    return result;
}
