#pragma once

// What olvex-cli prints as its result: the device table of a scan, the report
// of an update, and both as JSON.

#include "registry/registry.h"

#include <QJsonObject>
#include <QString>

#include <vector>

namespace Cli {

// Why flash leaves alone a device it would otherwise write.
enum class LeftAlone : quint8 {
    No,
    OtherType, // --all, and the device is of another type than the image is for
    Current,   // --skip-current, and the device shows the image's signed version
};

// A device's address as olvex-cli shows it and takes it: the six bytes the
// window shows, or all eight where another device on the line shares those six.
QString deviceName(const DeviceRecord &record, const std::vector<DeviceRecord> &all);

// "updated", "failed" or "not started".
QString outcomeName(const DeviceRecord &record);
// Why a failed device was given up: "no answer", "error answer (code -6)",
// "wrong acknowledgement", "interrupted", "port lost", "no image"; empty for
// any other device.
QString failureReason(const DeviceRecord &record);
// Seconds the device's transfer took, so far if it still runs.
double transferSeconds(const DeviceRecord &record, qint64 nowMs);
// "0:07", "12:40", "1:02:03".
QString duration(qint64 ms);

// One line per device, aligned, with a header: address, type, version, boot
// loader. Fitted to a terminal `columns` wide (0: as it is).
QString scanTable(const std::vector<DeviceRecord> &devices, int columns = 0);
// "1 device", "3 devices".
QString deviceCount(int count);

// The selected devices with their outcome, parts acknowledged of total,
// repeats, seconds and, where one failed, why; then the counts of each
// outcome. The devices marked in `leftAlone` are listed as not selected,
// with the reason: "other type", "already at 2.8".
QString flashTable(const std::vector<DeviceRecord> &devices,
                   int partsTotal,
                   int columns = 0,
                   const std::vector<LeftAlone> &leftAlone = {});

// address, id, type, typeCode, version, bootLoader; with outcome fields
// (selected, outcome, partsAcknowledged, partsTotal, repeats, seconds, and
// for a failed device reason and, for an error answer, errorCode) when
// partsTotal > 0. A device left alone is not selected, with outcome "not
// selected" and reason "other type" or "already at version".
QJsonObject
deviceJson(const DeviceRecord &record, int partsTotal = 0, LeftAlone leftAlone = LeftAlone::No);

} // namespace Cli
