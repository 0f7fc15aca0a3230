#pragma once

// One device found on the line, as the list keeps it.

#include <QtGlobal>

#include <array>
#include <type_traits>

using DeviceId = std::array<quint8, 8>;

// Device type codes.
enum DeviceType : qint32 {
    TypeUnknown = 0,
    TypeProbe = 10,
    TypeTally8 = 50,
    TypeTally16 = 60,
    TypeRelay = 200,
};

// How the last update pass ended for one device. The transfer writes it, the
// table reads it, so a row shows what really happened even when the worker
// has already moved on to the next device.
enum FlashOutcome : quint8 {
    FlashNone = 0,    // not part of the running or last pass
    FlashRunning = 1, // the image is being written
    FlashDone = 2,    // the device acknowledged the last part
    FlashFailed = 3,  // the device was given up
};

// Why the last pass gave a device up, for the front ends that say so.
enum FlashFailure : quint8 {
    FailureNone = 0,
    FailureNoAnswer = 1,    // the part in hand went unanswered
    FailureErrorAnswer = 2, // the device answered with an error report (errorCode)
    FailureWrongAnswer = 3, // the device acknowledged another stage or part
    FailureInterrupted = 4, // the update was stopped while the device was written
    FailurePortLost = 5,    // the line went away under the transfer
    FailureNoImage = 6,     // the pass had no image, or none for this part
};

struct DeviceRecord
{
    DeviceId id{};       // address bytes exactly as they stand in the device's frames
    qint32 devType = 0;  // a DeviceType; 0 for unknown
    quint8 verMajor = 0; // bit 7 set: the device runs its boot loader
    quint8 verMinor = 0;
    qint32 selected = 0; // 1 = ticked for the update; readers test for 1 exactly
    quint8 outcome = FlashNone;
    // How the last pass went for this device, kept by the transfer as it goes.
    quint16 partsAcked = 0;       // parts the device has acknowledged
    quint16 partsTotal = 0;       // parts the pass writes into it; 0: not in the pass
    quint32 repeats = 0;          // parts sent again for want of an acknowledgement
    qint64 startedMs = 0;         // transferClockMs() when it was started; 0: not started
    qint64 endedMs = 0;           // transferClockMs() when its outcome settled; 0: not yet
    quint8 failure = FailureNone; // set when the device was given up
    qint32 errorCode = 0;         // the error report's code, with FailureErrorAnswer
};
static_assert(std::is_trivially_copyable_v<DeviceRecord>);
