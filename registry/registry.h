#pragma once

// The state that the GUI thread and the serial worker share: the mode and
// request flags through which the controls steer the worker, and the counters
// of the firmware transfer. The notifier, the device list, the image slot and
// the exchange under way have files of their own; everything here and there
// exists once per process.
//
// The two threads take turns (the GUI only writes while its controls are
// enabled, the worker announces through the notifier when it is done), but
// turn-taking alone does not order memory. So every shared variable is an
// atomic of its own width and the device list guards itself.

#include "registry/devicelist.h"
#include "registry/imageslot.h"
#include "registry/notifier.h"

#include <atomic>

enum WorkModes : qint32 {
    ModeIdle = 0,
    ModeSearch = 1,
    ModeInventory = 2,
    ModeUpdate = 3,
};

enum UpdateStages : quint8 {
    StageIdle = 0,
    StageStart = 1,
    StageBody = 2,
    StageLast = 3,
};

// Mode and request flags (the GUI starts work through them).
extern std::atomic<qint32> WorkMode;
extern std::atomic<qint32> SearchRequest;
extern std::atomic<quint8> SearchRound;       // number-0 rounds since something new was heard
extern std::atomic<quint8> RoundsWithoutNews; // search rounds since the last new device
extern std::atomic<qint32> FlashRequest;
extern FirmwareFileSlot FirmwareFile;
extern std::atomic<qint32> FirmwareSize; // used as unsigned

// Transfer counters.
extern std::atomic<quint8> UpdateStage;
extern std::atomic<qint32> NextPart;
extern std::atomic<quint16> PartNumber;
extern std::atomic<quint16> PartsTotal;
extern std::atomic<quint8> PartRepeats;
extern std::atomic<quint16> DeviceCursor; // 1-based; 0: before the first device
extern std::atomic<quint16> DeviceCount;

// The list position of the device the inventory or the update addresses
// (DeviceCursor counts from 1); -1 before the first.
inline int cursorPosition()
{
    return int(DeviceCursor) - 1;
}

// Puts every shared variable and the list back to their start-up values.
// For tests, which run many scenarios in one process; the worker must be stopped.
void resetSharedStateForTests();
