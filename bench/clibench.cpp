// olvex-cli as a process on a paced line, against the floor of the window's
// update.

#include "bench/clibench.h"

#include "bench/floor.h"

#include "support/fixtures.h"
#include "support/ser2net.h"
#include "support/traffic.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace Bench {

namespace {

constexpr int ImageBytes = 64 * 1024;

// One simulated line with one device and an olvex-cli flash of every device on it.
struct Run
{
    std::unique_ptr<DevSim::Simulator> sim;
    std::unique_ptr<Ser2net> server; // when the line is reached over the network
    std::unique_ptr<QProcess> cli;
    Clock::time_point started;
    Clock::time_point ended;
    bool done = false;
    double cpuMs = 0;   // the process's CPU time, last seen
    qint64 peakKb = 0;  // its resident memory, at most
};

// What the kernel says of a running process: CPU time and resident memory.
void sample(Run &run)
{
    const qint64 pid = run.cli->processId();
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            run.cpuMs = (fields[11].toDouble() + fields[12].toDouble()) * 1000.0
                        / double(::sysconf(_SC_CLK_TCK));
    }
    run.peakKb = qMax(run.peakKb, residentKb(pid));
}

std::unique_ptr<Run> startRun(const QString &image,
                              quint8 device,
                              int network = -1,
                              bool charDelay = true,
                              const QStringList &more = {})
{
    DevSim::DeviceConfig config;
    config.id = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, device, 0x00, 0x01};
    config.kind = 10;
    DevSim::Options options;
    options.baud = Baud;
    auto run = std::make_unique<Run>();
    run->sim
        = std::make_unique<DevSim::Simulator>(std::vector<DevSim::DeviceConfig>{config}, options);
    run->sim->openPty();
    run->sim->start();
    QString line = QString::fromStdString(run->sim->path());
    if (network >= 0) {
        run->server = std::make_unique<Ser2net>(run->sim->path(), Ser2net::Mode(network));
        run->server->setCharDelay(charDelay);
        QString why;
        if (!run->server->start(&why))
            std::printf("ser2net: %s\n", qPrintable(why));
        line = run->server->url();
    }
    run->cli = std::make_unique<QProcess>();
    run->started = Clock::now();
    run->cli->start(QStringLiteral(OLVEX_CLI),
                    QStringList{QStringLiteral("flash"),
                                line,
                                image,
                                QStringLiteral("--all"),
                                QStringLiteral("--json"),
                                QStringLiteral("--quiet")}
                        + more);
    return run;
}

// Waits for all of them, stamping each end as it comes.
void finish(const std::vector<Run *> &runs)
{
    for (;;) {
        bool running = false;
        for (Run *run : runs) {
            if (run->done)
                continue;
            sample(*run);
            if (run->cli->waitForFinished(5)) {
                run->ended = Clock::now();
                run->done = true;
            } else {
                running = true;
            }
        }
        if (!running)
            return;
    }
}

// The process's own account of the device.
bool report(Run &run, const char *name)
{
    const QJsonObject device = QJsonDocument::fromJson(run.cli->readAllStandardOutput())
                                   .object()[QStringLiteral("devices")]
                                   .toArray()
                                   .first()
                                   .toObject();
    const bool updated
        = run.cli->exitCode() == 0 && device[QStringLiteral("outcome")].toString() == "updated";
    std::printf("%s: exit %d, %s, %d/%d parts, %d repeats, %.1f s for the device; "
                "%.0f ms from start to exit\n",
                name,
                run.cli->exitCode(),
                qPrintable(device[QStringLiteral("outcome")].toString()),
                device[QStringLiteral("partsAcknowledged")].toInt(),
                device[QStringLiteral("partsTotal")].toInt(),
                device[QStringLiteral("repeats")].toInt(),
                device[QStringLiteral("seconds")].toDouble(),
                msBetween(run.started, run.ended));
    if (run.server)
        run.server->stop();
    run.sim->stop();
    return updated;
}

} // namespace

int benchCli()
{
    std::printf("== cli: olvex-cli flash of 64 KiB to one device, line paced at %d baud\n", Baud);
    QTemporaryDir dir;
    const QString image = writeImage(dir, ImageBytes);

    std::unique_ptr<Run> alone = startRun(image, 1);
    finish({alone.get()});
    const std::vector<DevSim::HostFrame> firmware = firmwareFrames(*alone->sim);
    if (firmware.empty() || !report(*alone, "alone")) {
        std::printf("the update failed\n");
        return 1;
    }
    const UpdateFloor floors = updateFloor(firmware);
    // From the first firmware frame, as the window's update is measured, to the
    // end of the process, report printed.
    const double measured = msBetween(firmware.front().at, alone->ended);
    printFloors(measured, floors);

    std::printf("== cli: two olvex-cli flash processes on two lines at once\n");
    std::unique_ptr<Run> first = startRun(image, 2);
    std::unique_ptr<Run> second = startRun(image, 3);
    finish({first.get(), second.get()});
    const bool ok = report(*first, "line 1") && report(*second, "line 2");
    const double aloneMs = msBetween(alone->started, alone->ended);
    const double bothMs = msBetween(first->started, std::max(first->ended, second->ended));
    std::printf("both done %.0f ms after the first started; one alone took %.0f ms; ratio %.4f\n",
                bothMs,
                aloneMs,
                bothMs / aloneMs);
    return ok ? 0 : 1;
}

int benchNetwork()
{
    QTemporaryDir dir;
    const QString image = writeImage(dir, ImageBytes);
    double aloneMs = 0;
    // ser2net as it comes (holding bytes for a few character times), then set
    // for the least delay, as a device server should be.
    for (const bool charDelay : {true, false})
    for (const Ser2net::Mode mode : {Ser2net::Mode::Raw, Ser2net::Mode::Rfc2217}) {
        const bool raw = mode == Ser2net::Mode::Raw;
        std::printf("== network: olvex-cli flash of 64 KiB through ser2net (%s, chardelay %s), "
                    "line paced at %d baud\n",
                    raw ? "raw TCP" : "RFC 2217",
                    charDelay ? "on" : "off",
                    Baud);
        std::unique_ptr<Run> run = startRun(image, 1, int(mode), charDelay);
        finish({run.get()});
        const std::vector<DevSim::HostFrame> firmware = firmwareFrames(*run->sim);
        if (firmware.empty() || !report(*run, raw ? "raw TCP" : "RFC 2217")) {
            std::printf("the update failed\n");
            return 1;
        }
        printFloors(msBetween(firmware.front().at, run->ended), updateFloor(firmware));
        if (raw && !charDelay)
            aloneMs = msBetween(run->started, run->ended);
    }

    constexpr int Lines = 16;
    std::printf("== network: %d lines side by side, each behind its own ser2net (raw TCP, "
                "chardelay off) and written by its own olvex-cli\n",
                Lines);
    std::vector<std::unique_ptr<Run>> runs;
    std::vector<Run *> waiting;
    for (int i = 0; i < Lines; ++i) {
        runs.push_back(startRun(image, quint8(10 + i), int(Ser2net::Mode::Raw), false));
        waiting.push_back(runs.back().get());
    }
    finish(waiting);
    bool ok = true;
    Clock::time_point first = runs.front()->started;
    Clock::time_point last = runs.front()->ended;
    double cpuMs = 0;
    qint64 peakKb = 0;
    for (int i = 0; i < Lines; ++i) {
        Run &run = *runs[size_t(i)];
        first = std::min(first, run.started);
        last = std::max(last, run.ended);
        cpuMs = std::max(cpuMs, run.cpuMs);
        peakKb = std::max(peakKb, run.peakKb);
        ok = report(run, qPrintable(QStringLiteral("line %1").arg(i + 1))) && ok;
    }
    const double allMs = msBetween(first, last);
    std::printf("all %d done %.0f ms after the first started; one alone took %.0f ms; ratio "
                "%.4f; per olvex-cli at most %.0f ms of CPU and %lld KiB resident\n",
                Lines,
                allMs,
                aloneMs,
                allMs / aloneMs,
                cpuMs,
                static_cast<long long>(peakKb));
    return ok ? 0 : 1;
}

int benchCapture()
{
    QTemporaryDir dir;
    const QString image = writeImage(dir, ImageBytes);
    const QString capture = dir.filePath(QStringLiteral("update.pcapng"));
    double ratio[2] = {};
    for (const bool captured : {false, true}) {
        std::printf("== capture: olvex-cli flash of 64 KiB to one device, %s, line paced at %d "
                    "baud\n",
                    captured ? "with --capture" : "without a capture",
                    Baud);
        std::unique_ptr<Run> run
            = startRun(image, 1, -1, true, captured ? QStringList{"--capture", capture} : QStringList{});
        finish({run.get()});
        const std::vector<DevSim::HostFrame> firmware = firmwareFrames(*run->sim);
        if (firmware.empty() || !report(*run, captured ? "captured" : "not captured")) {
            std::printf("the update failed\n");
            return 1;
        }
        const UpdateFloor floor = updateFloor(firmware);
        const double measured = msBetween(firmware.front().at, run->ended);
        printFloors(measured, floor);
        ratio[captured] = measured / floor.floorMs;
    }
    const qint64 bytes = QFileInfo(capture).size();
    std::printf("with the capture %.4f of the floor, without %.4f: %.4f times; the capture %lld "
                "bytes, %.0f bytes per KiB of image\n",
                ratio[1],
                ratio[0],
                ratio[1] / ratio[0],
                static_cast<long long>(bytes),
                double(bytes) / (ImageBytes / 1024));
    return 0;
}

} // namespace Bench
