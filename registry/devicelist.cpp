// The device list's guarded operations; the one list is created with the rest
// of the shared state (registry.cpp).

#include "registry/devicelist.h"

#include <algorithm>
#include <chrono>

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
    r.failure = FailureNone;
    r.errorCode = 0;
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

void SharedDeviceList::beginPass(quint16 partsTotal)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (DeviceRecord &r : m_records) {
        r.outcome = FlashNone;
        clearFigures(r);
        r.partsTotal = r.selected == 1 ? partsTotal : 0;
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

bool SharedDeviceList::setFailed(int pos, FlashFailure failure, qint32 errorCode)
{
    const qint64 now = transferClockMs();
    return change(pos, [failure, errorCode, now](DeviceRecord &r) {
        r.outcome = FlashFailed;
        r.endedMs = now;
        r.failure = failure;
        r.errorCode = errorCode;
    });
}
