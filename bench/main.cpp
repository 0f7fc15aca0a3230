// olvex-bench: how close the worker comes to what the line allows, and how
// long the GUI thread is ever kept from its events.
//
//   olvex-bench update   64 KiB to one device at 9600 baud, against the floor
//   olvex-bench search   searches of 1, 8, 32 and 256 devices at 9600 baud
//   olvex-bench crowd    a search of 1000 devices at 9600 baud
//   olvex-bench collide  a search of 64 devices whose answers collide
//   olvex-bench table    filling the device table with 1000 devices
//   olvex-bench stall    the GUI thread's longest stall during a search of 32
//                        devices and during an update
//   olvex-bench signature
//                        checking a signed 64 KiB image and one of 65535 parts
//                        (12.9 MB) against the update's floor (seconds)
//   olvex-bench all      everything above (about seven minutes)
//   olvex-bench cli      olvex-cli: 64 KiB to one device at 9600 baud against the
//                        same floor, then two lines at once (about three minutes)
//   olvex-bench network  olvex-cli through ser2net: 64 KiB raw and with RFC 2217
//   olvex-bench capture  olvex-cli's 64 KiB update without and with --capture
//                        against the same floor, then 16 lines side by side
//                        (about five minutes)
//
// Times come from one steady clock: the simulator stamps each host frame as it
// arrives on the pseudo-terminal, the worker's notifications are stamped as
// they are emitted.

#include "bench/clibench.h"
#include "bench/floor.h"
#include "bench/signature.h"
#include "devsim/simulator.h"
#include "protocol/frame.h"
#include "protocol/image.h"
#include "registry/registry.h"
#include "serial/jobs.h"
#include "serial/serialthread.h"
#include "serial/timing.h"
#include "ui/columns.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include "support/linerig.h"
#include "support/signalrecorder.h"
#include "support/traffic.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

using Bench::Baud;
using Bench::Clock;
using Bench::msBetween;
using Bench::wireMs;
using Bench::writeImage;

// Waits for the main status while keeping the calling thread's events flowing.
bool waitFor(const SignalRecorder &statuses, Status s, int timeoutMs)
{
    const QString name = QStringLiteral("UpdateMainStatus(%1)").arg(int(s));
    QElapsedTimer t;
    t.start();
    while (statuses.count(name) == 0) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Clock::time_point at(const SignalRecorder &statuses, Status s)
{
    return *statuses.lastAt(QStringLiteral("UpdateMainStatus(%1)").arg(int(s)));
}

std::vector<int> firstPositions(int count)
{
    std::vector<int> positions;
    for (int i = 0; i < count; ++i)
        positions.push_back(i);
    return positions;
}

int benchUpdate()
{
    std::printf("== update: 64 KiB to one device, line paced at %d baud\n", Baud);
    QTemporaryDir dir;
    const QString path = writeImage(dir, 64 * 1024);
    DevSim::Options options;
    options.baud = Baud;
    DevSim::Simulator sim(crowd(1), options);
    sim.openPty();
    sim.start();
    SignalRecorder statuses;
    {
        SerialThread worker;
        LineJobs::startSearch(worker, QString::fromStdString(sim.path()));
        if (!waitFor(statuses, SelectDevices, 30000)) {
            std::printf("search failed\n");
            return 1;
        }
        sim.clearHostFrames();
        requestFlash(path, firstPositions(1));
        if (!waitFor(statuses, UpdateFinished, 300000)) {
            std::printf("update did not finish\n");
            return 1;
        }
    }
    const std::vector<DevSim::HostFrame> firmware = firmwareFrames(sim);
    const Bench::UpdateFloor floors = Bench::updateFloor(firmware);
    // The first frame is stamped when its last byte arrived; it left the host
    // one wire time earlier on a real line, which the pseudo-terminal skips.
    const double measured = msBetween(firmware.front().at, at(statuses, UpdateFinished));
    std::printf("image complete: %s, %zu firmware frames\n",
                DevSim::imageStateName(sim.imageState(0)),
                firmware.size());
    Bench::printFloors(measured, floors);
    sim.stop();
    return 0;
}

// What any host following these rules must sit through in a search of
// `count` devices with this traffic: a 500 ms pause after each search request
// (the request and the first answers are on the wire meanwhile), the wire time
// of the answers that are still coming after it, a full 1000 ms wait in each
// silent round, each confirmation and the 50 ms after it, and for each
// version query the query and its answer back to back on the wire. Every
// device answers at least once.
double searchFloorMs(int count, const Traffic &traffic)
{
    const LineTiming waits;                           // the product's
    const double frameMs = wireMs(Cpd::MinFrameSize); // a request, search answer or confirmation
    const double versionAnswerMs = wireMs(Cpd::MinFrameSize + Cpd::VersionPayload);
    const double answersBeyondPause = std::max(0.0, count * frameMs - waits.searchPause);
    return traffic.searches * (frameMs + waits.searchPause) + answersBeyondPause
           + traffic.silentSearches * waits.answerWait
           + traffic.confirmations * (frameMs + waits.confirmPause)
           + traffic.queries * (frameMs + versionAnswerMs);
}

// Every host frame with its moment, when OLVEX_BENCH_FRAMES is set.
void printFrames(const std::vector<DevSim::HostFrame> &frames, Clock::time_point end)
{
    if (!qEnvironmentVariableIsSet("OLVEX_BENCH_FRAMES"))
        return;
    for (const DevSim::HostFrame &frame : frames) {
        const Cpd::CommandWord w = Cpd::unpackCommand(frame.bytes.data());
        std::printf("  +%8.1f ms  type %d block %d number %d\n",
                    msBetween(frames.front().at, frame.at),
                    w.type,
                    w.block,
                    w.number);
    }
    std::printf("  +%8.1f ms  end\n", msBetween(frames.front().at, end));
}

int benchSearch(int count, int collisionSlots = 0)
{
    DevSim::Options options;
    options.baud = Baud;
    options.collisionSlots = collisionSlots;
    DevSim::Simulator sim(crowd(count), options);
    sim.openPty();
    sim.start();
    SignalRecorder statuses;
    {
        SerialThread worker;
        WorkMode = ModeIdle;
        LineJobs::startSearch(worker, QString::fromStdString(sim.path()));
        if (!waitFor(statuses, SelectDevices, 600000)) {
            std::printf("search of %d failed\n", count);
            return 1;
        }
    }
    const auto frames = sim.hostFrames();
    const Traffic traffic = trafficOn(sim);
    const double floor = searchFloorMs(count, traffic);
    // A pseudo-terminal takes the host's own frames at once; of a
    // confirmation only the pause after it is spent here.
    const double simFloor = floor - traffic.confirmations * wireMs(Cpd::MinFrameSize);
    const Clock::time_point end = at(statuses, SelectDevices);
    // The first request left one wire time before it arrived.
    const double measured = msBetween(frames.front().at, end) + wireMs(Cpd::MinFrameSize);
    printFrames(frames, end);
    std::printf("search of %4d devices%s: %d found, %d search requests (%d silent), "
                "%d confirmations, %d version queries; measured %.0f ms; floor %.0f ms "
                "(ratio %.4f); without the confirmations' wire time %.0f ms (ratio %.4f)\n",
                count,
                collisionSlots ? qPrintable(QString(" in %1 collision slots").arg(collisionSlots))
                               : "",
                DeviceList.size(),
                traffic.searches,
                traffic.silentSearches,
                traffic.confirmations,
                traffic.queries,
                measured,
                floor,
                measured / floor,
                simFloor,
                measured / simFloor);
    sim.stop();
    return DeviceList.size() == count ? 0 : 1;
}

int benchTable(QApplication &)
{
    std::printf("== table: filling the device table\n");
    setPortNameSource([] { return QStringList{}; });
    MainWindow window;
    window.show();
    for (int count : {32, 1000}) {
        DeviceList.clear();
        for (const auto &d : crowd(count)) {
            DeviceRecord r;
            r.id = d.id;
            r.devType = 50;
            r.verMajor = 2;
            r.verMinor = 3;
            DeviceList.append(r);
        }
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            QMetaObject::invokeMethod(&window, "UpdatingTable", Qt::DirectConnection);
            QCoreApplication::processEvents(); // layout and paint count too
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        std::printf("fill of %4d devices: median %.1f ms, worst %.1f ms (5 runs)\n",
                    count,
                    times[2],
                    times.back());
    }
    DeviceList.clear();
    return 0;
}

// The longest time the GUI thread's event loop went without running a 2 ms timer.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last)
                m_worst = std::max(m_worst, now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    double worstGapMs() const { return m_worst / 1e6; }
    void reset()
    {
        m_worst = 0;
        m_last = 0;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

// Runs one window on a simulated line and reports the worst gap while `work` runs.
double stallDuring(const DevSim::Simulator &sim, const std::function<bool(MainWindow &)> &work)
{
    const QString line = QString::fromStdString(sim.path());
    setPortNameSource([line] { return QStringList{line}; });
    MainWindow window;
    window.show();
    connectNotifier(&window);
    QCoreApplication::processEvents();
    StallMeter meter;
    const bool done = work(window);
    QCoreApplication::processEvents();
    setPortNameSource(nullptr);
    return done ? meter.worstGapMs() : -1.0;
}

int benchStall()
{
    std::printf("== stall: the GUI thread's longest gap between 2 ms timer ticks\n");
    SignalRecorder statuses;
    auto search = [&statuses](MainWindow &window) {
        statuses.clear();
        QMetaObject::invokeMethod(&window, "on_SearchButton_clicked", Qt::DirectConnection);
        return waitFor(statuses, SelectDevices, 120000);
    };

    DevSim::Options slow;
    slow.baud = Baud;
    DevSim::Simulator line32(crowd(32), slow);
    line32.openPty();
    line32.start();
    const double searchGap = stallDuring(line32, search);
    line32.stop();
    std::printf("search of 32 devices at %d baud: worst gap %.1f ms\n", Baud, searchGap);

    // An update on a fast line, so that progress notifications come thick.
    QTemporaryDir dir;
    const QString path = writeImage(dir, 64 * 1024);
    DevSim::Options fast;
    fast.baud = 115200;
    DevSim::Simulator line2(crowd(2), fast);
    line2.openPty();
    line2.start();
    double updateGap = -1;
    stallDuring(line2, [&](MainWindow &window) {
        if (!search(window))
            return false;
        auto *table = window.findChild<QTableWidget *>("tableWidget");
        table->item(2, CheckColumn)->setCheckState(Qt::Checked); // select all
        window.findChild<QLineEdit *>("fileNameLine")->setText(path);
        StallMeter meter;
        statuses.clear();
        QMetaObject::invokeMethod(&window, "on_FlashButton_clicked", Qt::DirectConnection);
        const bool done = waitFor(statuses, UpdateFinished, 300000);
        QCoreApplication::processEvents();
        updateGap = meter.worstGapMs();
        return done;
    });
    line2.stop();
    std::printf("update of 64 KiB to 2 devices at 115200 baud: worst gap %.1f ms\n", updateGap);
    return searchGap >= 0 && updateGap >= 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Identity::apply(app);
    qRegisterMetaType<Status>("Status");
    // The product's debug log stays on, as in use: send stderr to a file.
    const QString what = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("all");
    int failures = 0;
    if (what == "update" || what == "all")
        failures += benchUpdate();
    if (what == "search" || what == "all") {
        std::printf("== search, line paced at %d baud\n", Baud);
        for (int n : {1, 8, 32, 256})
            failures += benchSearch(n);
    }
    if (what == "crowd" || what == "all") {
        std::printf("== search of a crowd, line paced at %d baud\n", Baud);
        failures += benchSearch(1000);
    }
    if (what == "collide" || what == "all") {
        std::printf("== search with collisions, line paced at %d baud\n", Baud);
        failures += benchSearch(64, 64);
    }
    if (what == "cli")
        failures += Bench::benchCli();
    if (what == "network")
        failures += Bench::benchNetwork();
    if (what == "capture")
        failures += Bench::benchCapture();
    if (what == "signature" || what == "all")
        failures += Bench::benchSignature();
    if (what == "table" || what == "all")
        failures += benchTable(app);
    if (what == "stall" || what == "all")
        failures += benchStall();
    return failures == 0 ? 0 : 1;
}
