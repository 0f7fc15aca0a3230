// olvex-cli as a process on a paced line, against the floor of the window's
// update.

#include "bench/clibench.h"

#include "bench/floor.h"

#include "support/traffic.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace Bench {

namespace {

constexpr int ImageBytes = 64 * 1024;

// One simulated line with one device and an olvex-cli flash of every device on it.
struct Run
{
    std::unique_ptr<DevSim::Simulator> sim;
    std::unique_ptr<QProcess> cli;
    Clock::time_point started;
    Clock::time_point ended;
    bool done = false;
};

std::unique_ptr<Run> startRun(const QString &image, quint8 device)
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
    run->cli = std::make_unique<QProcess>();
    run->started = Clock::now();
    run->cli->start(QStringLiteral(OLVEX_CLI),
                    {QStringLiteral("flash"),
                     QString::fromStdString(run->sim->path()),
                     image,
                     QStringLiteral("--all"),
                     QStringLiteral("--json"),
                     QStringLiteral("--quiet")});
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

} // namespace Bench
