// Requests, answers and the firmware transfer, driven the way the worker loop
// drives them, against real firmware files, without a port in between.

#include "protocol/compose.h"
#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "protocol/handle.h"
#include "protocol/image.h"
#include "registry/exchange.h"
#include "registry/registry.h"
#include "serial/jobs.h"
#include "serial/scheduler.h"

#include "support/fixtures.h"
#include "support/logcapture.h"
#include "support/signalrecorder.h"

#include <QFile>
#include <QtTest>

#include <functional>
#include <optional>

namespace {

using Bytes = std::vector<quint8>;

const DeviceId DevA = deviceId(0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08);
const DeviceId DevB = deviceId(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70);
const DeviceId DevC = deviceId(0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7);

Bytes deviceFrame(const DeviceId &from, int type, int block, int number, const Bytes &payload = {})
{
    Bytes f(from.begin(), from.end());
    f.resize(10);
    Cpd::packCommand(f.data(), type, quint8(block), quint8(number));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

quint16 handle(const Bytes &body)
{
    quint8 buffer[Cpd::BufferSize] = {};
    std::copy(body.begin(), body.end(), buffer);
    return handleFrame(buffer, quint16(body.size()));
}

Bytes ack(const DeviceId &from, int stage, int part)
{
    return deviceFrame(
        from, Cpd::TypeResponse, 20, 50, {quint8(stage), quint8(part >> 8), quint8(part)});
}

struct SentFrame
{
    DeviceId to;
    int stage = -1;
    int part = -1;
    QByteArray data;
    int bodyLength = 0;
};

// A device on the other end: given the frame it received, its answer or none.
using Device = std::function<std::optional<Bytes>(const SentFrame &)>;

Device honest()
{
    return [](const SentFrame &f) {
        return ack(f.to, f.stage, f.part);
    };
}

// Runs one update pass the way the worker loop does and returns every
// firmware frame that went out.
std::vector<SentFrame> runUpdatePass(const Device &device, int frameLimit = 2000)
{
    std::vector<SentFrame> sent;
    FlashRequest = 1;
    WorkMode = ModeUpdate;
    while (WorkMode == ModeUpdate && int(sent.size()) < frameLimit) {
        if (nextRequest() != 1)
            continue;
        quint8 buffer[Cpd::BufferSize] = {};
        const quint16 length = composeFrame(buffer, Cpd::TypeRequest);
        SentFrame f;
        std::copy(buffer, buffer + 8, f.to.begin());
        f.bodyLength = length;
        if (length >= Cpd::FirmwareHeaderSize) {
            f.stage = buffer[10];
            f.part = (buffer[11] << 8) | buffer[12];
            f.data = QByteArray(reinterpret_cast<const char *>(buffer) + 13, length - 13);
        }
        sent.push_back(f);
        if (const auto answer = device(f))
            handle(*answer);
    }
    return sent;
}

// The image a pass writes, handed over as the flash button does.
void useImage(const QByteArray &bytes)
{
    LineJobs::requestPass(std::make_shared<const FirmwareImage>(FirmwareImage{bytes}));
}

QList<QPair<int, int>> stagesAndParts(const std::vector<SentFrame> &frames)
{
    QList<QPair<int, int>> out;
    for (const SentFrame &f : frames)
        out.append({f.stage, f.part});
    return out;
}

QByteArray joinedData(const std::vector<SentFrame> &frames, const DeviceId &to)
{
    QByteArray all;
    for (const SentFrame &f : frames) {
        if (f.to == to)
            all += f.data;
    }
    return all;
}

} // namespace

class ExchangeTest : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void requestsOutsideAnUpdateAreBareHeaders();
    void searchAnswersRegisterEachDeviceOnce_data();
    void searchAnswersRegisterEachDeviceOnce();
    void versionAnswerIsStoredWithItsSender();
    void answersFromUnlistedDevicesAreDropped();
    void unknownResponseIsConfirmedOnlyWithPayload();
    void errorReportsAreLoggedWithTheirCode();
    void unknownFrameTypesAreLoggedAndNotConfirmed();
    void truncatedInputIsDroppedWithoutReadingPastIt();

    void searchEndsAfterThreeSilentRounds();

    void imageOf1000BytesGoesOutInSixParts();
    void imageOfThreeFullParts();
    void acknowledgementFromAnotherDeviceCountsForNothing();
    void nothingTickedEndsThePassAtOnce();
    void passWithoutAnImageGivesEveryDeviceUp();
    void imageIsWhatTheFileHeldWhenItWasRead();
    void imageTooShortForThreeStagesEndsInsteadOfLooping();

private:
    QTemporaryDir m_dir;
};

void ExchangeTest::init()
{
    resetSharedStateForTests();
}

void ExchangeTest::requestsOutsideAnUpdateAreBareHeaders()
{
    LogCapture log;
    TargetId = deviceId(0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0xB0);
    CmdBlock = 20;
    CmdNumber = 3;
    for (int mode : {ModeIdle, ModeSearch, ModeInventory}) {
        WorkMode = mode;
        quint8 buffer[Cpd::BufferSize];
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        QCOMPARE(int(composeFrame(buffer, Cpd::TypeRequest)), 10);
        const Bytes expected{0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0xB0, 0x14, 0x03};
        QCOMPARE(Bytes(buffer, buffer + 10), expected);
        QCOMPARE(int(buffer[10]), 0xEE);
    }
    QCOMPARE(log.count("ID: A:0:FF:10:1:2:3:B0"), 3);
    QCOMPARE(log.count("cmd_b:20 cmd_n:3"), 3);
}

void ExchangeTest::searchAnswersRegisterEachDeviceOnce_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("type");
    QTest::newRow("probe") << 0 << 10;
    QTest::newRow("tally 8") << 10 << 50;
    QTest::newRow("tally 16") << 11 << 60;
    QTest::newRow("unknown kind 5") << 5 << 0;
    QTest::newRow("unknown kind 255") << 255 << 0;
}

void ExchangeTest::searchAnswersRegisterEachDeviceOnce()
{
    QFETCH(int, kind);
    QFETCH(int, type);
    LogCapture log;
    SignalRecorder signalsSeen;
    SearchRound = 2;
    QCOMPARE(int(handle(deviceFrame(DevB, Cpd::TypeResponse, 30, kind))), 8);
    QCOMPARE(int(SearchRound), 0);
    QCOMPARE(DeviceList.size(), 1);
    const DeviceRecord r = *DeviceList.at(0);
    QVERIFY(r.id == DevB);
    QCOMPARE(r.devType, type);
    QCOMPARE(int(r.verMajor), 0);
    QCOMPARE(int(r.verMinor), 0);
    QCOMPARE(r.selected, 0);
    QCOMPARE(log.count("SerialP: new id: 00:1a:2b:3c:4d:5e"), 1);
    QCOMPARE(signalsSeen.names(), QStringList{"UpdateTable"});
    // The answer is confirmed back to its sender.
    QVERIFY(TargetId == DevB);
    QCOMPARE(int(CmdBlock), 30);
    QCOMPARE(int(CmdNumber), kind);

    // Answering again is confirmed again, but it is no news: it does not keep
    // the search going.
    SearchRound = 3;
    RoundsWithoutNews = 5;
    QCOMPARE(int(handle(deviceFrame(DevB, Cpd::TypeResponse, 30, kind))), 8);
    QCOMPARE(int(SearchRound), 3);
    QCOMPARE(int(RoundsWithoutNews), 5);
    QCOMPARE(DeviceList.size(), 1);
    QCOMPARE(log.count("SerialP: new id: 00:1a:2b:3c:4d:5e"), 1);
    QCOMPARE(signalsSeen.count("UpdateTable"), 1);
}

void ExchangeTest::versionAnswerIsStoredWithItsSender()
{
    DeviceList.append(deviceRecord(DevA, TypeProbe));
    DeviceList.append(deviceRecord(DevB, TypeProbe));
    WorkMode = ModeInventory;
    DeviceCursor = 2; // the inventory has moved on to B; A answers late
    QCOMPARE(int(handle(deviceFrame(DevA, Cpd::TypeResponse, 20, 3, {0x82, 0x07}))), 0);
    QCOMPARE(int(DeviceList.at(0)->verMajor), 0x82);
    QCOMPARE(int(DeviceList.at(0)->verMinor), 7);
    QCOMPARE(int(DeviceList.at(1)->verMajor), 0);
    QCOMPARE(int(DeviceList.at(1)->verMinor), 0);
}

void ExchangeTest::answersFromUnlistedDevicesAreDropped()
{
    LogCapture log;
    DeviceList.append(deviceRecord(DevA, TypeProbe));
    DeviceCursor = 1;
    QCOMPARE(int(handle(deviceFrame(DevC, Cpd::TypeResponse, 20, 3, {1, 2}))), 0);
    QCOMPARE(int(handle(deviceFrame(DevC, Cpd::TypeResponse, 25, 1, {1, 2}))), 0);
    QCOMPARE(int(DeviceList.at(0)->verMajor), 0);
    QCOMPARE(log.countStartingWith("SerialP: unknown CPD_Response"), 0);
}

void ExchangeTest::unknownResponseIsConfirmedOnlyWithPayload()
{
    LogCapture log;
    DeviceList.append(deviceRecord(DevA, TypeProbe));
    QCOMPARE(int(handle(deviceFrame(DevA, Cpd::TypeResponse, 25, 4, {9, 9}))), 2);
    QCOMPARE(int(handle(deviceFrame(DevA, Cpd::TypeResponse, 25, 4))), 0);
    QCOMPARE(log.count("SerialP: unknown CPD_Response cmd_block 25, cmd_number 4"), 2);
    // Block 20 with a number nobody asked for: silently nothing.
    QCOMPARE(int(handle(deviceFrame(DevA, Cpd::TypeResponse, 20, 7, {1, 2, 3}))), 0);
}

void ExchangeTest::errorReportsAreLoggedWithTheirCode()
{
    LogCapture log;
    QCOMPARE(int(handle(deviceFrame(DevA, Cpd::TypeError, 20, 50, {0x05, 0, 0, 0}))), 0);
    QCOMPARE(int(handle(deviceFrame(DevA, Cpd::TypeError, 20, 3, {0xFE, 0xFF, 0xFF, 0xFF}))), 0);
    QVERIFY(log.contains("SerialP: CPD_Error code 5, cmd_block 20, cmd_number 50"));
    QVERIFY(log.contains("SerialP: CPD_Error code -2, cmd_block 20, cmd_number 3"));
    QVERIFY(
        log.contains("SerialP: CPDevice [01:02:03:04:05:06:07:08], cmd_t 0x6, cmd_b 20, cmd_n 50"));
}

void ExchangeTest::unknownFrameTypesAreLoggedAndNotConfirmed()
{
    LogCapture log;
    DeviceList.append(deviceRecord(DevA, TypeProbe));
    QCOMPARE(int(handle(deviceFrame(DevA, 0, 30, 0))), 0);
    QCOMPARE(int(handle(deviceFrame(DevA, 7, 30, 0))), 0);
    QVERIFY(log.contains("SerialP: unknown CPD_Command type 0x0"));
    QVERIFY(log.contains("SerialP: unknown CPD_Command type 0x7"));
    QCOMPARE(DeviceList.size(), 1);
}

void ExchangeTest::truncatedInputIsDroppedWithoutReadingPastIt()
{
    LogCapture log;
    DeviceList.append(deviceRecord(DevA, TypeProbe));
    DeviceCursor = 1;
    TargetId = DevC;

    // Each body sits at the very end of a heap block, so a read past it is an
    // error under the address sanitizer, not a silent stray byte.
    auto handleExact = [](const Bytes &body) {
        std::vector<quint8> exact(body);
        return handleFrame(exact.data(), quint16(exact.size()));
    };
    QCOMPARE(int(handleExact(Bytes{0x00})), 0);
    QCOMPARE(int(handleExact(Bytes(DevA.begin(), DevA.end()))), 0);
    QVERIFY(TargetId == DevC); // nothing was parsed
    QCOMPARE(int(handleExact(deviceFrame(DevA, Cpd::TypeResponse, 20, 3, {0x05}))), 0);
    QCOMPARE(int(DeviceList.at(0)->verMajor), 0);

    UpdateStage = StageStart;
    PartNumber = 1;
    QCOMPARE(int(handleExact(deviceFrame(DevA, Cpd::TypeResponse, 20, 50, {1, 0}))), 0);
    QCOMPARE(int(UpdateStage), int(StageStart));
    QCOMPARE(int(handleExact(deviceFrame(DevA, Cpd::TypeError, 20, 50, {5, 0, 0}))), 0);
    QCOMPARE(log.countStartingWith("SerialP: CPD_Error"), 0);
    QCOMPARE(log.countStartingWith("SerialP: frame too short"), 2);
    QCOMPARE(log.countStartingWith("SerialP: payload too short"), 3);
}

void ExchangeTest::searchEndsAfterThreeSilentRounds()
{
    SignalRecorder signalsSeen;
    WorkMode = ModeSearch;
    SearchRequest = 1;
    QList<int> numbers;
    while (nextRequest() == 1) {
        QVERIFY(TargetId == deviceId(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));
        QCOMPARE(int(CmdBlock), 30);
        numbers.append(CmdNumber);
        QVERIFY(numbers.size() < 10);
    }
    QCOMPARE(numbers, (QList<int>{1, 0, 0, 0}));
    QCOMPARE(int(WorkMode), int(ModeInventory));
    QCOMPARE(int(SearchRound), 0);
    QCOMPARE(int(SearchRequest), 0);
    QCOMPARE(signalsSeen.names(), QStringList{"UpdateTable"});

    // No device: the inventory ends at once.
    signalsSeen.clear();
    QCOMPARE(nextRequest(), 0);
    QCOMPARE(int(WorkMode), int(ModeIdle));
    QCOMPARE(
        signalsSeen.names(),
        (QStringList{
            "CheckReadyToUpdate", "UnblockSearchButton", "UpdateTable", "UpdateMainStatus(6)"}));
}

void ExchangeTest::imageOf1000BytesGoesOutInSixParts()
{
    LogCapture log;
    SignalRecorder signalsSeen;
    const QByteArray image = firmwareImage(1000);
    useImage(image);
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 1));

    const auto sent = runUpdatePass(honest());
    QCOMPARE(stagesAndParts(sent),
             (QList<QPair<int, int>>{{1, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}}));
    QCOMPARE(sent.back().bodyLength, 28);
    QCOMPARE(joinedData(sent, DevA), image);
    QCOMPARE(int(PartsTotal), 6);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));
    QCOMPARE(log.count("CPD_Wrlss: FmwUpdate [START 1000 bytes] ->"), 1);
    QCOMPARE(log.count("CPD_Wrlss: FmwUpdate [stage:2; 3/6 parts] ->"), 1);
    QCOMPARE(log.count("CPD_Wrlss: ->Response OK [3:6]\n"), 1);
    // One status update per frame and one when the device took the last part;
    // then the end of the pass, in its order.
    QCOMPARE(signalsSeen.count("UpdateDevStatus"), 7);
    const QStringList names = signalsSeen.names();
    QCOMPARE(names.first(), QString("CheckReadyToUpdate"));
    QCOMPARE(names.mid(names.size() - 4),
             (QStringList{"UpdateMainStatus(8)",
                          "CheckReadyToUpdate",
                          "UnblockSearchButton",
                          "UnblockTableSignals"}));
    QCOMPARE(int(WorkMode), int(ModeIdle));
    QCOMPARE(int(FlashRequest), 0);
}

void ExchangeTest::imageOfThreeFullParts()
{
    const QByteArray image = firmwareImage(591, 3);
    useImage(image);
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 1));
    const auto sent = runUpdatePass(honest());
    QCOMPARE(stagesAndParts(sent), (QList<QPair<int, int>>{{1, 1}, {2, 2}, {3, 3}}));
    QCOMPARE(sent.back().data.size(), 197);
    QCOMPARE(joinedData(sent, DevA), image);
}

void ExchangeTest::acknowledgementFromAnotherDeviceCountsForNothing()
{
    const QByteArray image = firmwareImage(1000, 11);
    useImage(image);
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 1));
    DeviceList.append(deviceRecord(DevB, TypeProbe, 1, 0, 0));
    // B echoes every frame meant for A; A itself stays silent.
    const auto sent = runUpdatePass([](const SentFrame &f) { return ack(DevB, f.stage, f.part); });
    QCOMPARE(int(sent.size()), 6);
    QCOMPARE(sent.back().stage, 0);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
}

void ExchangeTest::nothingTickedEndsThePassAtOnce()
{
    SignalRecorder signalsSeen;
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 0));
    DeviceList.append(deviceRecord(DevB, TypeProbe, 1, 0, 2)); // only 1 counts as ticked
    FirmwareSize = 1000;
    const auto sent = runUpdatePass(honest());
    QVERIFY(sent.empty());
    QCOMPARE(signalsSeen.names(),
             (QStringList{"CheckReadyToUpdate",
                          "UpdateMainStatus(8)",
                          "CheckReadyToUpdate",
                          "UnblockSearchButton",
                          "UnblockTableSignals"}));
    QCOMPARE(int(WorkMode), int(ModeIdle));
}

void ExchangeTest::passWithoutAnImageGivesEveryDeviceUp()
{
    LogCapture log;
    FirmwareSize = 1000;
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 1));
    DeviceList.append(deviceRecord(DevB, TypeProbe, 1, 0, 1));
    const auto sent = runUpdatePass(honest());
    QCOMPARE(int(sent.size()), 2);
    for (const SentFrame &f : sent) {
        QCOMPARE(f.stage, 0);
        QCOMPARE(f.bodyLength, 13);
    }
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
    QCOMPARE(int(DeviceList.at(1)->outcome), int(FlashFailed));
    QCOMPARE(log.countStartingWith("CPD_Wrlss: firmware file error"), 2);
}

void ExchangeTest::imageIsWhatTheFileHeldWhenItWasRead()
{
    const QByteArray image = firmwareImage(1000, 13);
    const QString path = writeFile(m_dir, "changing.bin", image);
    const ImageFile::Loaded loaded = ImageFile::load(path);
    QVERIFY(loaded.image);
    LineJobs::requestPass(loaded.image);
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 1));
    bool rewritten = false;
    const Device rewriting = [&path, &rewritten](const SentFrame &f) -> std::optional<Bytes> {
        if (f.part == 2) { // the file is cut short, then rewritten, under the transfer
            QFile file(path);
            rewritten = file.open(QIODevice::ReadWrite) && file.resize(300)
                        && file.write(QByteArray(300, 'x')) == 300;
        }
        return ack(f.to, f.stage, f.part);
    };
    const auto sent = runUpdatePass(rewriting);
    // The file really did change while the parts went out.
    QVERIFY(rewritten);
    QFile changed(path);
    QVERIFY(changed.open(QIODevice::ReadOnly));
    QCOMPARE(changed.readAll(), QByteArray(300, 'x'));
    QCOMPARE(stagesAndParts(sent),
             (QList<QPair<int, int>>{{1, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}}));
    QCOMPARE(joinedData(sent, DevA), image);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));
}

void ExchangeTest::imageTooShortForThreeStagesEndsInsteadOfLooping()
{
    const QByteArray image = firmwareImage(300, 17);
    useImage(image);
    DeviceList.append(deviceRecord(DevA, TypeProbe, 1, 0, 1));
    const auto sent = runUpdatePass(honest(), 50);
    QCOMPARE(int(WorkMode), int(ModeIdle));
    QCOMPARE(stagesAndParts(sent), (QList<QPair<int, int>>{{1, 1}, {2, 2}, {0, 3}}));
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
}

QTEST_GUILESS_MAIN(ExchangeTest)
#include "tst_exchange.moc"
