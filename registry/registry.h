#pragma once

// The state that the GUI thread and the serial worker share: the notifier, the
// device list, the mode and request flags, the transfer counters and the
// command being exchanged. Everything here exists once per process.
//
// The two threads take turns (the GUI only writes while its controls are
// enabled, the worker announces through the notifier when it is done), but
// turn-taking alone does not order memory. So every shared variable is an
// atomic of its own width and the device list guards itself.

#include <QByteArray>
#include <QMetaType>
#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The main status line. Values are consecutive from 0 and travel through queued
// connections, so the type is registered as "Status" at start-up. An int
// underneath: the status slot may be handed any value and shows nothing for
// one it does not know.
enum Status : int {
    PortBusy = 0,
    NoPortSelected = 1,
    SearchNeeded = 2,
    Searching = 3,
    SelectDevices = 4,
    WrongSelection = 5,
    NoDevicesFound = 6,
    Updating = 7,
    UpdateFinished = 8,
};
Q_DECLARE_METATYPE(Status)

// The notifier: tells the main window what changed. It carries no data; the
// slots read the shared state as it stands when they run.
class DevTable : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~DevTable() override;

signals:
    void UpdateTable();
    void UpdateDevStatus();
    void UpdateMainStatus(Status status);
    void UnblockSearchButton();
    void UnblockTableSignals();
    void CheckReadyToUpdate();
};

// The single notifier, created before main() runs.
extern DevTable Notifier;

using DeviceId = std::array<quint8, 8>;

// How the last update pass ended for one device. The transfer writes it, the
// table reads it, so a row shows what really happened even when the worker
// has already moved on to the next device.
enum FlashOutcome : quint8 {
    FlashNone = 0,    // not part of the running or last pass
    FlashRunning = 1, // the image is being written
    FlashDone = 2,    // the device acknowledged the last part
    FlashFailed = 3,  // the device was given up
};

// One device found on the line.
struct DeviceRecord
{
    DeviceId id{};       // address bytes exactly as they stand in the device's frames
    qint32 devType = 0;  // 10, 50, 60, 200 or 0 for unknown
    quint8 verMajor = 0; // bit 7 set: the device runs its boot loader
    quint8 verMinor = 0;
    qint32 selected = 0; // 1 = ticked for the update; readers test for 1 exactly
    quint8 outcome = FlashNone;
    // How the last pass went for this device, kept by the transfer as it goes.
    quint16 partsAcked = 0; // parts the device has acknowledged
    quint32 repeats = 0;    // parts sent again for want of an acknowledgement
    qint64 startedMs = 0;   // transferClockMs() when it was started; 0: not started
    qint64 endedMs = 0;     // transferClockMs() when its outcome settled; 0: not yet
};
static_assert(std::is_trivially_copyable_v<DeviceRecord>);

// Device type codes.
enum DeviceType : qint32 {
    TypeUnknown = 0,
    TypeProbe = 10,
    TypeTally8 = 50,
    TypeTally16 = 60,
    TypeRelay = 200,
};

// The devices in the order in which they answered. Records are only appended;
// the whole list is cleared at the start of a search. Positions are 16-bit, so
// the list never holds more than 65535 records. Every access is range-checked
// and takes the list's own lock, so the worker may append while the GUI
// thread copies the list for the table.
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
    void resetOutcomes();
    bool setPartsAcked(int pos, quint16 acked);
    bool countRepeat(int pos);

private:
    template<typename Change>
    bool change(int pos, Change change);

    mutable std::mutex m_mutex;
    std::vector<DeviceRecord> m_records;
};

extern SharedDeviceList DeviceList;

// Milliseconds of a steady clock, the one the transfer figures are stamped with.
qint64 transferClockMs();

// The firmware image of an update pass: the bytes of the chosen file as they
// were when the flash button was pressed, read once. Every device of the
// pass gets exactly these bytes, whatever happens to the file meanwhile.
struct FirmwareImage
{
    QByteArray bytes;
};

// Where the flash button leaves the image for the worker. The worker takes
// its own reference when a pass starts, so the image stays alive for the
// whole pass whatever the GUI does meanwhile.
class FirmwareFileSlot
{
public:
    std::shared_ptr<const FirmwareImage> get() const;
    void set(std::shared_ptr<const FirmwareImage> image);

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const FirmwareImage> m_image;
};

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
extern std::atomic<quint8> SearchRound; // number-0 rounds since something new was heard
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
extern std::atomic<quint16> DeviceCursor;
extern std::atomic<quint16> DeviceCount;

// The command being exchanged. Only the worker thread touches TargetId.
extern DeviceId TargetId;
extern std::atomic<qint32> CmdBlock;
extern std::atomic<quint8> CmdNumber;

// Puts every shared variable and the list back to their start-up values.
// For tests, which run many scenarios in one process; the worker must be stopped.
void resetSharedStateForTests();
