// The work scheduler: which request comes next in each mode.

#include "serial/scheduler.h"

#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "registry/exchange.h"
#include "registry/registry.h"

namespace {

constexpr DeviceId Broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Search rounds with command number 0 that may pass without anything new
// before the line counts as silent.
constexpr quint8 SilentRounds = 2;

// Rounds in a row without a new device, whatever they bring (garbled
// answers, chatty devices, noise), after which the search ends anyway.
constexpr quint8 MaxRoundsWithoutNews = 10;

int searchRequest()
{
    const bool silent = SearchRound > SilentRounds;
    if (silent || RoundsWithoutNews >= MaxRoundsWithoutNews) {
        if (silent)
            qDebug("search ended: nothing new in %d rounds", SilentRounds + 1);
        else
            qDebug("search ended: no new device in %d rounds, the line stays busy",
                   MaxRoundsWithoutNews);
        emit Notifier.UpdateTable();
        DeviceCursor = 0;
        SearchRound = 0;
        RoundsWithoutNews = 0;
        WorkMode = ModeInventory;
        DeviceCount = quint16(DeviceList.size());
        return 0;
    }
    TargetId = Broadcast;
    CmdBlock = Cpd::BlockSearch;
    if (SearchRequest != 0) {
        CmdNumber = Cpd::NumberSearchFirst;
        SearchRound = 0;
        RoundsWithoutNews = 0;
        SearchRequest = 0;
    } else {
        CmdNumber = Cpd::NumberSearchNext;
        SearchRound = quint8(SearchRound + 1);
    }
    RoundsWithoutNews = quint8(RoundsWithoutNews + 1);
    return 1;
}

int inventoryRequest(std::optional<JobEnd> *ended)
{
    CmdBlock = Cpd::BlockDevice;
    CmdNumber = Cpd::NumberVersion;
    while (DeviceCursor < DeviceCount) {
        DeviceCursor = quint16(DeviceCursor + 1);
        if (const auto record = DeviceList.at(cursorPosition())) {
            TargetId = record->id;
            return 1;
        }
    }
    WorkMode = ModeIdle;
    emit Notifier.CheckReadyToUpdate();
    emit Notifier.UnblockSearchButton();
    emit Notifier.UpdateTable();
    emit Notifier.UpdateMainStatus(DeviceCount != 0 ? SelectDevices : NoDevicesFound);
    if (ended)
        *ended = JobEnd{JobEnd::SearchFinished, int(DeviceCount)};
    return 0;
}

void addressFirmwareFrame(const DeviceRecord &record)
{
    TargetId = record.id;
    CmdBlock = Cpd::BlockDevice;
    CmdNumber = Cpd::NumberFirmware;
}

int updateRequest(std::optional<JobEnd> *ended)
{
    if (FlashRequest == 1) {
        emit Notifier.CheckReadyToUpdate();
        PartNumber = 1;
        FlashRequest = 0;
        UpdateStage = StageStart;
        NextPart = 1;
        DeviceCursor = 0;
        DeviceCount = quint16(DeviceList.size());
        FirmwareTransfer::beginPass(FirmwareFile.get());
    } else if (UpdateStage == StageIdle) {
        UpdateStage = StageStart;
        NextPart = 1;
        PartNumber = 1;
    } else {
        if (const auto record = DeviceList.at(cursorPosition())) {
            addressFirmwareFrame(*record);
            return 1;
        }
        // The device under transfer is gone from the list (cannot happen while
        // the search button stays disabled); give it up rather than guess.
        UpdateStage = StageStart;
        NextPart = 1;
        PartNumber = 1;
    }

    while (DeviceCursor < DeviceCount) {
        DeviceCursor = quint16(DeviceCursor + 1);
        const auto record = DeviceList.at(cursorPosition());
        if (record && record->selected == 1) {
            DeviceList.setOutcome(cursorPosition(), FlashRunning);
            addressFirmwareFrame(*record);
            return 1;
        }
    }

    FirmwareTransfer::endPass();
    UpdateStage = StageIdle;
    WorkMode = ModeIdle;
    emit Notifier.UpdateMainStatus(UpdateFinished);
    emit Notifier.CheckReadyToUpdate();
    emit Notifier.UnblockSearchButton();
    emit Notifier.UnblockTableSignals();
    if (ended)
        *ended = JobEnd{JobEnd::PassFinished};
    return 0;
}

} // namespace

bool hasWork()
{
    const int mode = WorkMode;
    return mode == ModeSearch || mode == ModeInventory || mode == ModeUpdate;
}

int nextRequest(std::optional<JobEnd> *ended)
{
    switch (WorkMode.load()) {
    case ModeSearch:
        return searchRequest();
    case ModeInventory:
        return inventoryRequest(ended);
    case ModeUpdate:
        return updateRequest(ended);
    default:
        return 0;
    }
}

void takeUpFlashRequest()
{
    if (FlashRequest == 1)
        WorkMode = ModeUpdate;
}
