#include "registry/registry.h"

#include <algorithm>
#include <chrono>

// Created in this order during static initialisation and destroyed in reverse:
// the notifier goes first, then the list's storage.
SharedDeviceList DeviceList;
DevTable Notifier;

DevTable::~DevTable() = default;

std::atomic<qint32> WorkMode{ModeIdle};
std::atomic<qint32> SearchRequest{0};
std::atomic<quint8> SearchRound{0};
std::atomic<quint8> RoundsWithoutNews{0};
std::atomic<qint32> FlashRequest{0};
FirmwareFileSlot FirmwareFile;
std::atomic<qint32> FirmwareSize{0};

std::atomic<quint8> UpdateStage{StageIdle};
std::atomic<qint32> NextPart{0};
std::atomic<quint16> PartNumber{0};
std::atomic<quint16> PartsTotal{0};
std::atomic<quint8> PartRepeats{0};
std::atomic<quint16> DeviceCursor{0};
std::atomic<quint16> DeviceCount{0};

DeviceId TargetId{};
std::atomic<qint32> CmdBlock{0};
std::atomic<quint8> CmdNumber{0};

int SharedDeviceList::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_records.size());
}

std::optional<DeviceRecord> SharedDeviceList::at(int pos) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (pos < 0 || pos >= int(m_records.size()))
        return std::nullopt;
    return m_records[size_t(pos)];
}

std::vector<DeviceRecord> SharedDeviceList::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

int SharedDeviceList::indexOf(const DeviceId &id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = std::find_if(
        m_records.cbegin(), m_records.cend(), [&id](const DeviceRecord &r) { return r.id == id; });
    return it == m_records.cend() ? -1 : int(it - m_records.cbegin());
}

SharedDeviceList::Selection SharedDeviceList::selection() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Selection s;
    s.total = int(m_records.size());
    s.selected = int(std::count_if(m_records.cbegin(), m_records.cend(), [](const DeviceRecord &r) {
        return r.selected == 1;
    }));
    return s;
}

bool SharedDeviceList::append(const DeviceRecord &record)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_records.size() >= size_t(MaxRecords))
        return false;
    m_records.push_back(record);
    return true;
}

void SharedDeviceList::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
}

template<typename Change>
bool SharedDeviceList::change(int pos, Change change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (pos < 0 || pos >= int(m_records.size()))
        return false;
    change(m_records[size_t(pos)]);
    return true;
}

bool SharedDeviceList::setSelected(int pos, qint32 selected)
{
    return change(pos, [selected](DeviceRecord &r) { r.selected = selected; });
}

bool SharedDeviceList::setVersion(int pos, quint8 major, quint8 minor)
{
    return change(pos, [major, minor](DeviceRecord &r) {
        r.verMajor = major;
        r.verMinor = minor;
    });
}

namespace {
void clearFigures(DeviceRecord &r)
{
    r.partsAcked = 0;
    r.repeats = 0;
    r.startedMs = 0;
    r.endedMs = 0;
}
} // namespace

qint64 transferClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SharedDeviceList::setOutcome(int pos, FlashOutcome outcome)
{
    const qint64 now = transferClockMs();
    return change(pos, [outcome, now](DeviceRecord &r) {
        r.outcome = outcome;
        if (outcome == FlashRunning || outcome == FlashNone)
            clearFigures(r);
        if (outcome == FlashRunning)
            r.startedMs = now;
        else if (outcome == FlashDone || outcome == FlashFailed)
            r.endedMs = now;
    });
}

void SharedDeviceList::resetOutcomes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (DeviceRecord &r : m_records) {
        r.outcome = FlashNone;
        clearFigures(r);
    }
}

bool SharedDeviceList::setPartsAcked(int pos, quint16 acked)
{
    return change(pos, [acked](DeviceRecord &r) { r.partsAcked = acked; });
}

bool SharedDeviceList::countRepeat(int pos)
{
    return change(pos, [](DeviceRecord &r) { ++r.repeats; });
}

std::shared_ptr<const FirmwareImage> FirmwareFileSlot::get() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_image;
}

void FirmwareFileSlot::set(std::shared_ptr<const FirmwareImage> image)
{
    std::shared_ptr<const FirmwareImage> previous;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        previous = std::exchange(m_image, std::move(image));
    }
    // The previous object, if nobody else holds it, goes here, outside the lock.
}

void resetSharedStateForTests()
{
    DeviceList.clear();
    WorkMode = ModeIdle;
    SearchRequest = 0;
    SearchRound = 0;
    RoundsWithoutNews = 0;
    FlashRequest = 0;
    FirmwareFile.set(nullptr);
    FirmwareSize = 0;
    UpdateStage = StageIdle;
    NextPart = 0;
    PartNumber = 0;
    PartsTotal = 0;
    PartRepeats = 0;
    DeviceCursor = 0;
    DeviceCount = 0;
    TargetId = DeviceId{};
    CmdBlock = 0;
    CmdNumber = 0;
}
