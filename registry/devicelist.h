#pragma once

// The devices in the order in which they answered. Records are only appended;
// the whole list is cleared at the start of a search. Positions are 16-bit, so
// the list never holds more than 65535 records. Every access is range-checked
// and takes the list's own lock, so the worker may append while the GUI
// thread copies the list for the table.

#include "registry/device.h"

#include <mutex>
#include <optional>
#include <vector>

class SharedDeviceList
{
public:
    static constexpr int MaxRecords = 65535;

    int size() const;
    bool isEmpty() const { return size() == 0; }
    std::optional<DeviceRecord> at(int pos) const;
    std::vector<DeviceRecord> snapshot() const;
    int indexOf(const DeviceId &id) const; // -1 when absent

    struct Selection
    {
        int total = 0;
        int selected = 0; // records whose selected is 1
    };
    Selection selection() const;

    // Appends unless the list is full; false when nothing was appended.
    bool append(const DeviceRecord &record);
    void clear();

    bool setSelected(int pos, qint32 selected);
    bool setVersion(int pos, quint8 major, quint8 minor);
    // Starting a device (FlashRunning) clears its figures and stamps the
    // start, settling it (FlashDone, FlashFailed) stamps the end, FlashNone
    // clears them.
    bool setOutcome(int pos, FlashOutcome outcome);
    // A pass begins: every outcome and figure is cleared, and each ticked
    // device is to take `partsTotal` parts.
    void beginPass(quint16 partsTotal);
    bool setPartsAcked(int pos, quint16 acked);
    bool countRepeat(int pos);
    // Gives the device up (FlashFailed) and says why.
    bool setFailed(int pos, FlashFailure failure, qint32 errorCode = 0);

private:
    template<typename Change>
    bool change(int pos, Change change);

    mutable std::mutex m_mutex;
    std::vector<DeviceRecord> m_records;
};

// The one list, created before main() runs.
extern SharedDeviceList DeviceList;

// Milliseconds of a steady clock, the one the transfer figures are stamped with.
qint64 transferClockMs();
