#pragma once

// How a job on the line ended, said once by the core as a value; each front
// end puts it into its own words. Each device's progress and outcome are in
// its record (registry/device.h).

#include "serial/line.h"

#include <QMetaType>

struct JobEnd
{
    enum Kind : quint8 {
        SearchFinished, // the search and the version inventory are over
        PassFinished,   // the update pass is over; each device's outcome is in its record
        PortFailed,     // the port could not be opened, or it was lost under the job
        NoPortName,     // no port was named
    };
    Kind kind = SearchFinished;
    int devices = 0;       // SearchFinished: the devices found
    bool portLost = false; // PortFailed: lost under the job; otherwise it could not be opened
    LineFault portFault{}; // PortFailed: why
    // Traffic on the line during the job that was not ours (another master
    // polling it, noise): frames, and bytes that formed no frame.
    quint64 foreignFrames = 0;
    quint64 foreignBytes = 0;
};
Q_DECLARE_METATYPE(JobEnd)
