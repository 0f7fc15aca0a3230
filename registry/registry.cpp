// Every process-wide piece of the shared state, defined in one place so that
// they are created in this order during static initialisation and destroyed
// in reverse: the notifier goes first, then the list's storage.

#include "registry/registry.h"

#include "registry/exchange.h"

SharedDeviceList DeviceList;
DevTable Notifier;

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
std::atomic<qint32> TransactionPhase{PhaseReady};
std::atomic<qint32> ResponseExpected{0};
quint8 FrameBuffer[Cpd::BufferSize];

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
