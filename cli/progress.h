#pragma once

// Progress of an update pass, for people, on standard error. On a terminal
// the device being written has a live line (percentage, parts, repeats,
// elapsed, time left for the device and for the batch), fitted to the
// terminal's width as it is at each redraw; elsewhere one plain line per ten
// percent. Every device's outcome gets a line of its own, a failure with its
// reason. Read from the device list's transfer figures, which the worker
// keeps.

#include "cli/console.h"
#include "registry/registry.h"

#include <QObject>
#include <QTimer>

#include <vector>

namespace Cli {

class Progress : public QObject
{
    Q_OBJECT
public:
    Progress(Console &console, int partsTotal, QObject *parent = nullptr);

    void start();
    void refresh();
    // The last look, once the worker has ended.
    void finish();

private:
    // What has been shown of one device.
    struct Shown
    {
        bool started = false;
        bool settled = false;
        int tenths = 0;        // ten-percent steps shown
        qint64 firstAckMs = 0; // when the first acknowledged part was seen
        int firstAcked = 0;    // parts acknowledged then
    };

    // The line of a device being written, as wide as `columns` allows (0: no limit).
    QString line(const DeviceRecord &record, const Shown &shown, qint64 nowMs, int columns) const;
    QString settledLine(const DeviceRecord &record, qint64 nowMs) const;
    QString name(const DeviceRecord &record) const;
    qint64 msPerPart(const DeviceRecord &record, const Shown &shown, qint64 nowMs) const;

    Console &m_console;
    const int m_partsTotal;
    std::vector<Shown> m_shown;
    std::vector<DeviceRecord> m_devices; // as of the last look
    QTimer m_timer;
    int m_waiting = 0; // ticked devices not started yet
};

} // namespace Cli
