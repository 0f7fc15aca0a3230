// What a 9600-baud line allows an update to take.

#include "bench/floor.h"

#include "protocol/frame.h"
#include "serial/timing.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace Bench {

QString writeImage(const QTemporaryDir &dir, int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + 7) & 0xFF);
    const QString path = dir.filePath(QStringLiteral("image-%1.bin").arg(size));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(data);
    return path;
}

UpdateFloor updateFloor(const std::vector<DevSim::HostFrame> &firmware)
{
    UpdateFloor result;
    if (firmware.empty())
        return result;
    const size_t ackBytes = Cpd::MinFrameSize + Cpd::AckPayload;
    const double startPauseMs = LineTiming{}.startPause; // the product's
    double wire = 0;
    for (const DevSim::HostFrame &f : firmware)
        wire += wireMs(f.bytes.size()) + wireMs(ackBytes);
    const double firstExchange = wireMs(firmware.front().bytes.size()) + wireMs(ackBytes);
    result.floorMs = startPauseMs + wire;
    result.tightFloorMs = std::max(startPauseMs, firstExchange) + wire - firstExchange;
    return result;
}

void printFloors(double measuredMs, const UpdateFloor &floors)
{
    std::printf("measured %.0f ms; floor (10 s + wire time of every frame and answer) %.0f ms; "
                "ratio %.4f\n",
                measuredMs,
                floors.floorMs,
                measuredMs / floors.floorMs);
    std::printf("tighter floor (first answer inside the 10 s pause) %.0f ms; ratio %.4f\n",
                floors.tightFloorMs,
                measuredMs / floors.tightFloorMs);
}

} // namespace Bench
