// The serial worker against simulated devices on a real pseudo-terminal: the
// bytes on the wire, searches, inventories, updates, faults on the line and
// port failures.

#include "protocol/frame.h"
#include "registry/exchange.h"
#include "registry/registry.h"
#include "serial/serialthread.h"

#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/logcapture.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

namespace {

using Bytes = std::vector<quint8>;
using Id = std::array<quint8, 8>;
using DevSim::FaultRule;

const Id IdA = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const Id IdB = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
const Id IdC = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7};

std::vector<Bytes> validFrames(DevSim::Simulator &sim)
{
    std::vector<Bytes> out;
    for (const DevSim::HostFrame &f : sim.hostFrames()) {
        if (f.valid)
            out.push_back(f.bytes);
    }
    return out;
}

std::vector<std::pair<int, int>> expectedParts(int parts)
{
    std::vector<std::pair<int, int>> out{{1, 1}};
    for (int p = 2; p < parts; ++p)
        out.emplace_back(2, p);
    out.emplace_back(3, parts);
    return out;
}

} // namespace

class LineTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void emptyLineIsSearchedFourTimesWithTheRealWaits();
    void devicesAreFoundConfirmedAndAskedForTheirVersions();
    void updateSkipsTheUntickedDeviceBetweenTwoTickedOnes_data();
    void updateSkipsTheUntickedDeviceBetweenTwoTickedOnes();
    void silentDeviceIsGivenUpWhileTheNextIsUpdated();
    void wrongPartAcknowledgementsAreRepeated();
    void deviceThatNeverAcknowledgesRightIsGivenUp();
    void errorReportsCountAsFailedAttempts();
    void answersSplitInChunksAreGathered_data();
    void answersSplitInChunksAreGathered();
    void acknowledgementsSentTwiceCostNoRepeat();
    void writeThatOutlivesItsWaitHasNothingSentOnTop();
    void answersInManySmallPiecesAreTakenWhileUpdating();
    void corruptedAnswersAreRejectedAndRepeated();
    void lateVersionAnswerLandsWithItsSender();
    void malformedBlocksOnTheLineAreDropped();
    void emptyPortNameAndUnopenablePort();
    void portIsSwitchedWhileTheWorkerRuns();
    void flashRequestIsDroppedWhenThePortFailsAtItsStart();
    void updateRunsWithTheRealStartPause();
    void closingDuringTheStartPauseDoesNotWaitItOut();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedLineTiming> m_timing;
};

void LineTest::init()
{
    resetSharedStateForTests();
    TransactionPhase = PhaseReady;
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
}

void LineTest::cleanup()
{
    m_timing.reset();
}

void LineTest::emptyLineIsSearchedFourTimesWithTheRealWaits()
{
    m_timing.reset(); // the product's waits
    LineRig rig({});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig.search(20000));
    const qint64 elapsed = clock.elapsed();

    const std::vector<Bytes> expected{
        hex("FF FF FF FF FF FF FF FF 1E 01 68"),
        hex("FF FF FF FF FF FF FF FF 1E 00 36"),
        hex("FF FF FF FF FF FF FF FF 1E 00 36"),
        hex("FF FF FF FF FF FF FF FF 1E 00 36"),
    };
    QCOMPARE(validFrames(rig.sim()), expected);
    QCOMPARE(rig.signalsSeen().names(),
             (QStringList{"UpdateTable",
                          "CheckReadyToUpdate",
                          "UnblockSearchButton",
                          "UpdateTable",
                          "UpdateMainStatus(6)"}));
    QCOMPARE(int(WorkMode), int(ModeIdle));
    // Four rounds of a 500 ms pause and a 1000 ms wait.
    QVERIFY2(elapsed >= 6000 && elapsed < 8000, qPrintable(QString::number(elapsed)));
    const auto frames = rig.sim().hostFrames();
    for (size_t i = 1; i < frames.size(); ++i) {
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(frames[i].at
                                                                               - frames[i - 1].at);
        // The pause and the wait, and nothing more: no write time-out (200 ms)
        // on top. The simulator notes a frame when it gets to read it, a
        // little late now and then on a busy machine, which can shorten the
        // gap after it as much as it lengthens the one before.
        QVERIFY2(gap.count() >= 1450 && gap.count() < 1700,
                 qPrintable(QString::number(gap.count())));
    }
}

void LineTest::devicesAreFoundConfirmedAndAskedForTheirVersions()
{
    LogCapture log;
    LineRig rig({simDevice(IdA, 0, 2, 5), simDevice(IdB, 10, 0x82, 7), simDevice(IdC, 11, 1, 10)});
    QVERIFY(rig.search());

    QCOMPARE(DeviceList.size(), 3);
    const std::vector<DeviceRecord> list = DeviceList.snapshot();
    QVERIFY(list[0].id == IdA);
    QVERIFY(list[1].id == IdB);
    QVERIFY(list[2].id == IdC);
    QCOMPARE(list[0].devType, 10);
    QCOMPARE(list[1].devType, 50);
    QCOMPARE(list[2].devType, 60);
    QCOMPARE(int(list[1].verMajor), 0x82);
    QCOMPARE(int(list[1].verMinor), 7);
    QCOMPARE(int(list[2].verMinor), 10);
    for (size_t i = 0; i < 3; ++i)
        QVERIFY(rig.sim().confirmed(i));
    const QStringList names = rig.signalsSeen().names();
    QCOMPARE(
        names.mid(names.size() - 4),
        (QStringList{
            "CheckReadyToUpdate", "UnblockSearchButton", "UpdateTable", "UpdateMainStatus(4)"}));
    QCOMPARE(names.count("UpdateTable"), 3 + 2); // each new device, end of search, end of inventory
    QCOMPARE(log.count("SerialP: new id: 00:1a:2b:3c:4d:5e"), 1);

    // On the wire: every search answer confirmed to its sender, then one version
    // query per device in list order, each exactly as the devices expect it.
    const std::vector<Bytes> frames = validFrames(rig.sim());
    QCOMPARE(frames.front(), hex("FF FF FF FF FF FF FF FF 1E 01 68"));
    std::vector<Bytes> confirmations;
    std::vector<Bytes> queries;
    for (const Bytes &f : frames) {
        const Cpd::CommandWord w = Cpd::unpackCommand(f.data());
        if (w.type == Cpd::TypeResponse)
            confirmations.push_back(f);
        else if (w.block == Cpd::BlockDevice)
            queries.push_back(f);
    }
    QCOMPARE(int(confirmations.size()), 3);
    QCOMPARE(confirmations[1].size(), size_t(11));
    QCOMPARE(int(confirmations[1][8]), 0x5E);
    QCOMPARE(int(confirmations[1][9]), 10);
    QCOMPARE(int(queries.size()), 3);
    QCOMPARE(queries[0], hex("01 02 03 04 05 06 07 08 14 03 4F"));
    QVERIFY(std::equal(IdB.begin(), IdB.end(), queries[1].begin()));
    QVERIFY(std::equal(IdC.begin(), IdC.end(), queries[2].begin()));
    // Every answer of the first round is read and confirmed in that round; the
    // search goes on until three rounds in a row bring nothing new.
    const auto searches = std::count_if(frames.begin(), frames.end(), [](const Bytes &f) {
        return Cpd::unpackCommand(f.data()).block == Cpd::BlockSearch && f[0] == 0xFF;
    });
    QCOMPARE(int(searches), 1 + 3);
}

void LineTest::updateSkipsTheUntickedDeviceBetweenTwoTickedOnes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1000 bytes") << 1000;
    QTest::newRow("40 KiB") << 40 * 1024 + 77;
}

void LineTest::updateSkipsTheUntickedDeviceBetweenTwoTickedOnes()
{
    QFETCH(int, size);
    const QByteArray image = firmwareImage(size, size);
    const QString path = writeFile(m_dir, "image.bin", image);
    LineRig rig({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 1, 0), simDevice(IdC, 10, 1, 0)});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0, 2}));

    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(rig.sim().imageState(0), DevSim::ImageState::Complete);
    QCOMPARE(rig.sim().imageState(1), DevSim::ImageState::None);
    QCOMPARE(rig.sim().firmwareFramesReceived(1), 0);
    QCOMPARE(imageOf(rig.sim(), 2), image);
    QCOMPARE(rig.sim().imageState(2), DevSim::ImageState::Complete);
    const int parts = (size + 196) / 197;
    QCOMPARE(rig.firmwareFramesTo(IdA), expectedParts(parts));
    QCOMPARE(rig.firmwareFramesTo(IdC), expectedParts(parts));
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));
    QCOMPARE(int(DeviceList.at(1)->outcome), int(FlashNone));
    QCOMPARE(int(DeviceList.at(2)->outcome), int(FlashDone));
    const QStringList names = rig.signalsSeen().names();
    QCOMPARE(names.mid(names.size() - 4),
             (QStringList{"UpdateMainStatus(8)",
                          "CheckReadyToUpdate",
                          "UnblockSearchButton",
                          "UnblockTableSignals"}));
    QCOMPARE(int(WorkMode), int(ModeIdle));
}

void LineTest::silentDeviceIsGivenUpWhileTheNextIsUpdated()
{
    const QByteArray image = firmwareImage(1000, 3);
    const QString path = writeFile(m_dir, "image.bin", image);
    FaultRule silentOnFirmware{FaultRule::Silent, -1, 1, 0};
    LineRig rig({simDevice(IdA, 10, 1, 0, {silentOnFirmware}), simDevice(IdB, 10, 1, 0)});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0, 1}));

    const std::vector<std::pair<int, int>> toA{{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {0, 1}};
    QCOMPARE(rig.firmwareFramesTo(IdA), toA);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
    QCOMPARE(rig.sim().imageState(0), DevSim::ImageState::Aborted);
    QCOMPARE(imageOf(rig.sim(), 1), image);
    QCOMPARE(int(DeviceList.at(1)->outcome), int(FlashDone));
}

void LineTest::wrongPartAcknowledgementsAreRepeated()
{
    const QByteArray image = firmwareImage(1000, 4);
    const QString path = writeFile(m_dir, "image.bin", image);
    LineRig rig({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::WrongPart, 2, 3, 0}})});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0}));
    const std::vector<std::pair<int, int>> expected{
        {1, 1}, {2, 2}, {2, 3}, {2, 3}, {2, 3}, {2, 4}, {2, 5}, {3, 6}};
    QCOMPARE(rig.firmwareFramesTo(IdA), expected);
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));
}

void LineTest::deviceThatNeverAcknowledgesRightIsGivenUp()
{
    const QString path = writeFile(m_dir, "image.bin", firmwareImage(1000, 5));
    LineRig rig({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::WrongPart, -1, 6, 0}})});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0}));
    // The frame that gives the device up went out just before the pass
    // ended; the simulator may take it a moment later.
    QVERIFY(rig.sim().waitFor(
        [&rig] { return rig.sim().imageState(0) == DevSim::ImageState::Aborted; }, 5000));
    const auto frames = rig.firmwareFramesTo(IdA);
    QCOMPARE(int(frames.size()), 5 + 6);
    QCOMPARE(frames.back(), std::make_pair(0, 6));
    // Given up on the last part: a failure, never reported as updated.
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
}

void LineTest::errorReportsCountAsFailedAttempts()
{
    LogCapture log;
    const QByteArray image = firmwareImage(1000, 6);
    const QString path = writeFile(m_dir, "image.bin", image);
    LineRig rig({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::ErrorReport, 3, 2, 0}})});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0}));
    const std::vector<std::pair<int, int>> expected{
        {1, 1}, {2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}};
    QCOMPARE(rig.firmwareFramesTo(IdA), expected);
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(log.count("SerialP: CPD_Error code -6, cmd_block 20, cmd_number 50"), 3);
}

void LineTest::answersSplitInChunksAreGathered_data()
{
    QTest::addColumn<int>("pause");
    QTest::newRow("6 ms apart") << 6;
    QTest::newRow("30 ms apart") << 30;
    // Longer than the gap that ends a search's gathering: the frame begun
    // holds it open.
    QTest::newRow("200 ms apart") << 200;
}

// Every answer comes in two halves with a pause between them: searched,
// asked for versions and updated, nothing is lost and nothing repeated.
void LineTest::answersSplitInChunksAreGathered()
{
    QFETCH(int, pause);
    LogCapture log;
    const QByteArray image = firmwareImage(2000, 7);
    const QString path = writeFile(m_dir, "image.bin", image);
    const FaultRule split{FaultRule::Split, -1, 0, pause};
    DevSim::Options options;
    options.slotMs = pause + 15; // two devices' answers never interleave on one line
    LineRig rig({simDevice(IdA, 10, 3, 1, {split}), simDevice(IdB, 10, 3, 2, {split})}, options);
    QVERIFY(rig.search());
    QCOMPARE(DeviceList.size(), 2);
    QCOMPARE(int(DeviceList.at(0)->verMinor), 1);
    QCOMPARE(int(DeviceList.at(1)->verMinor), 2);
    QCOMPARE(trafficOn(rig.sim()).confirmations, 2);
    QVERIFY(rig.flash(path, {0, 1}));
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(imageOf(rig.sim(), 1), image);
    QCOMPARE(int(rig.firmwareFramesTo(IdA).size()), 11); // not one part repeated
    QCOMPARE(int(rig.firmwareFramesTo(IdB).size()), 11);
    QCOMPARE(log.count("crc_error"), 0);
}

// A device (or a repeater on the line) that sends every answer twice, the
// copy 30 ms after: the copy of an acknowledgement comes while the next part
// is awaited and must not be taken for its answer.
void LineTest::acknowledgementsSentTwiceCostNoRepeat()
{
    const QByteArray image = firmwareImage(6 * 197 + 50, 9);
    const QString path = writeFile(m_dir, "image.bin", image);
    const FaultRule twice{FaultRule::Twice, -1, 0, 30};
    DevSim::Options options;
    options.baud = 9600; // the next part is still on the wire when the copy comes
    LineRig rig({simDevice(IdA, 10, 1, 0, {twice}), simDevice(IdB, 10, 1, 0, {twice})}, options);
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0, 1}));
    for (size_t i = 0; i < 2; ++i) {
        QCOMPARE(imageOf(rig.sim(), i), image);
        const auto record = DeviceList.at(i);
        QCOMPARE(int(record->outcome), int(FlashDone));
        QCOMPARE(int(record->repeats), 0);
    }
    QCOMPARE(rig.firmwareFramesTo(IdA), expectedParts(7));
    QCOMPARE(rig.firmwareFramesTo(IdB), expectedParts(7));
}

// A driver that completes a write only when the bytes have left can take
// longer than the write wait. The frame behind it must not go out on top of
// it (on a half-duplex line it would meet the device's answer), and the
// answer is awaited once the frame is out.
void LineTest::writeThatOutlivesItsWaitHasNothingSentOnTop()
{
    LogCapture log;
    const QByteArray image = firmwareImage(6 * 197 + 20, 10);
    const QString path = writeFile(m_dir, "image.bin", image);
    // With its acknowledgement of part 3 the line takes nothing for 600 ms.
    LineRig rig({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::Stall, 1, 3, 600}})});
    QVERIFY(rig.search());
    log.clear(); // the silent search rounds' unanswered requests
    QVERIFY(rig.flash(path, {0}));
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(rig.firmwareFramesTo(IdA), expectedParts(7)); // part 4 once, nothing on top
    QCOMPARE(int(DeviceList.at(0)->repeats), 0);
    for (const DevSim::HostFrame &f : rig.sim().hostFrames())
        QVERIFY(f.valid);
    QCOMPARE(log.count("write still under way after 200 ms, waiting for it"), 1);
    QCOMPARE(log.countStartingWith("write done after "), 1);
    QCOMPARE(log.count("error write to serial port"), 0);
}

// Acknowledgements that come three bytes at a time with pauses near the
// step of every wait on the line: each is taken whole, none is missed.
void LineTest::answersInManySmallPiecesAreTakenWhileUpdating()
{
    LineTiming timing = quickTiming();
    timing.answerWait = 1000; // five pieces, four pauses
    ScopedLineTiming scoped(timing);
    const QByteArray image = firmwareImage(3 * 197 + 1, 11);
    const QString path = writeFile(m_dir, "image.bin", image);
    LineRig rig({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::Pieces, -1, 0, WatchStepMs - 5}})});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0}));
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(rig.firmwareFramesTo(IdA), expectedParts(4));
}

void LineTest::corruptedAnswersAreRejectedAndRepeated()
{
    LogCapture log;
    const QByteArray image = firmwareImage(1000, 8);
    const QString path = writeFile(m_dir, "image.bin", image);
    LineRig rig({simDevice(
        IdA,
        10,
        4,
        4,
        {FaultRule{FaultRule::BadChecksum, 1, 2, 0}, FaultRule{FaultRule::Garbage, 1, 4, 2}})});
    QVERIFY(rig.search());
    QVERIFY(rig.flash(path, {0}));
    // The answer with the bad checksum costs a repeat; the stray bytes before
    // the acknowledgement of part 4 are skipped and the acknowledgement counts.
    const std::vector<std::pair<int, int>> expected{
        {1, 1}, {2, 2}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}};
    QCOMPARE(rig.firmwareFramesTo(IdA), expected);
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(log.count("crc_error"), 2);
}

void LineTest::lateVersionAnswerLandsWithItsSender()
{
    // A answers 450 ms late, B 150 ms late, the host waits 400 ms. A's version
    // answer comes in while the host waits for B's; it is A's version, not B's.
    LineTiming timing = quickTiming();
    timing.searchPause = 300;
    timing.answerWait = 400;
    ScopedLineTiming scoped(timing);
    // The search answers come at once (the first rule spoils only them, with
    // no delay), so the list is A, B, C.
    const FaultRule onTime{FaultRule::Late, 1, 0, 0};
    LineRig rig({simDevice(IdA, 10, 7, 7, {onTime, FaultRule{FaultRule::Late, -1, 0, 450}}),
                 simDevice(IdB, 10, 2, 2, {onTime, FaultRule{FaultRule::Late, -1, 0, 150}}),
                 simDevice(IdC, 10, 3, 3)});
    QVERIFY(rig.search());
    QCOMPARE(DeviceList.size(), 3);
    const std::vector<DeviceRecord> list = DeviceList.snapshot();
    for (const DeviceRecord &r : list) {
        if (r.id == IdA) {
            QCOMPARE(int(r.verMajor), 7);
            QCOMPARE(int(r.verMinor), 7);
        } else if (r.id == IdB) {
            QVERIFY2(r.verMajor != 7, "B holds A's version");
        } else {
            QCOMPARE(int(r.verMajor), 3);
        }
    }
}

void LineTest::malformedBlocksOnTheLineAreDropped()
{
    LogCapture log;
    const QByteArray image = firmwareImage(1000, 12);
    const QString path = writeFile(m_dir, "image.bin", image);
    // The device keeps quiet once on parts 2 and 3; something else speaks
    // instead, within an answer window long enough for this test to get its
    // bytes there however busy the machine.
    LineTiming timing = quickTiming();
    timing.answerWait = 2000;
    ScopedLineTiming scoped(timing);
    LineRig rig({simDevice(
        IdA,
        10,
        1,
        0,
        {FaultRule{FaultRule::Silent, 1, 2, 0}, FaultRule{FaultRule::Silent, 1, 3, 0}})});
    QVERIFY(rig.search());
    rig.sim().clearHostFrames();
    rig.signalsSeen().clear();
    rig.requestFlash(path, {0});

    // 300 bytes that open with A's acknowledgement of part 2 and end in the
    // checksum of only their first 299 mod 256 bytes: never an answer.
    QVERIFY(rig.sim().waitFor([&rig] { return rig.sim().firmwareFramesReceived(0) == 2; }, 10000));
    Bytes longBlock(IdA.begin(), IdA.end());
    longBlock.resize(10);
    Cpd::packCommand(longBlock.data(), Cpd::TypeResponse, 20, 50);
    longBlock.insert(longBlock.end(), {2, 0, 2});
    longBlock.resize(299, 0x55);
    longBlock.push_back(Cpd::crc8(longBlock.data(), quint8(299)));
    rig.sim().writeRaw(longBlock);

    // A single zero byte passes a checksum check but is no frame.
    QVERIFY(rig.sim().waitFor([&rig] { return rig.sim().firmwareFramesReceived(0) >= 4; }, 10000));
    rig.sim().writeRaw({0x00});

    QVERIFY(rig.waitForSignal("UpdateMainStatus(8)", 30000));
    const std::vector<std::pair<int, int>> expected{
        {1, 1}, {2, 2}, {2, 2}, {2, 3}, {2, 3}, {2, 4}, {2, 5}, {3, 6}};
    QCOMPARE(rig.firmwareFramesTo(IdA), expected);
    QCOMPARE(imageOf(rig.sim(), 0), image);
    // One skipped stretch each: the long block, the lone byte.
    QCOMPARE(log.count("crc_error"), 2);
}

void LineTest::emptyPortNameAndUnopenablePort()
{
    LogCapture log;
    SignalRecorder recorder;
    SerialThread worker;
    QSignalSpy errors(&worker, &SerialThread::error);
    QVERIFY(errors.isValid());
    // How the jobs ended, taken on this thread as the front ends take them.
    std::vector<JobEnd> ends;
    QObject here;
    connect(&worker, &SerialThread::jobEnded, &here, [&ends](const JobEnd &end) {
        ends.push_back(end);
    });

    worker.startWork(QString());
    WorkMode = ModeSearch;
    QTRY_COMPARE(recorder.names(), (QStringList{"UnblockSearchButton", "UpdateMainStatus(1)"}));
    QVERIFY(worker.wait(2000));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QString("No port name specified"));
    QTRY_COMPARE(int(ends.size()), 1);
    QCOMPARE(int(ends[0].kind), int(JobEnd::NoPortName));

    recorder.clear();
    worker.startWork("/dev/olvex-no-such-port");
    QTRY_COMPARE(recorder.names(), (QStringList{"UnblockSearchButton", "UpdateMainStatus(0)"}));
    QVERIFY(worker.wait(2000));
    QCOMPARE(errors.count(), 2);
    QVERIFY(errors.at(1).at(0).toString().startsWith(
        "Can't open /dev/olvex-no-such-port, error code "));
    QCOMPARE(log.countStartingWith("Can't open /dev/olvex-no-such-port, error code "), 1);
    QCOMPARE(int(WorkMode), int(ModeSearch));
    QTRY_COMPARE(int(ends.size()), 2);
    const JobEnd failed = ends[1];
    QCOMPARE(int(failed.kind), int(JobEnd::PortFailed));
    QVERIFY(!failed.portLost);
    QCOMPARE(int(failed.portFault.kind), int(LineFault::Kind::Port));
    QCOMPARE(failed.portFault.code, int(QSerialPort::DeviceNotFoundError));
}

void LineTest::portIsSwitchedWhileTheWorkerRuns()
{
    LineRig first({simDevice(IdA, 10, 1, 0)});
    QVERIFY(first.search());
    QCOMPARE(DeviceList.size(), 1);
    QVERIFY(first.worker().isRunning()); // idle, port closed

    DevSim::Simulator second({simDevice(IdB, 11, 2, 0)});
    QVERIFY(second.openPty());
    second.start();
    first.sim().clearHostFrames();
    first.signalsSeen().clear();
    first.startSearch(QString::fromStdString(second.path()));
    QVERIFY(first.waitForSignal("UpdateMainStatus(4)", 30000));
    QCOMPARE(DeviceList.size(), 1);
    QVERIFY(DeviceList.at(0)->id == IdB);
    QCOMPARE(DeviceList.at(0)->devType, 60);
    // The old line saw at most what went out before the switch at the end of a pass.
    for (const DevSim::HostFrame &f : first.sim().hostFrames())
        QVERIFY(Cpd::unpackCommand(f.bytes.data()).block == Cpd::BlockSearch);
    QVERIFY(second.hostFrames().size() >= 4);
    // The worker goes before the line it uses now.
    first.replaceWorker();
    second.stop();
}

void LineTest::flashRequestIsDroppedWhenThePortFailsAtItsStart()
{
    LogCapture log;
    LineRig rig({simDevice(IdA, 10, 1, 0)});
    // The worker knows the line by a name that can vanish for good; a freed
    // pseudo-terminal number may soon belong to somebody else.
    const QString link = m_dir.filePath("vanishing-line");
    QVERIFY(QFile::link(rig.port(), link));
    rig.startSearch(link);
    QVERIFY(rig.waitForSignal("UpdateMainStatus(4)", 20000));

    // The line goes away while the worker idles; then the operator flashes.
    QVERIFY(QFile::remove(link));
    rig.sim().stop();
    rig.signalsSeen().clear();
    rig.requestFlash(writeFile(m_dir, "image.bin", firmwareImage(1000)), {0});
    QVERIFY(rig.waitForSignal("UpdateMainStatus(0)", 5000));
    QCOMPARE(rig.signalsSeen().names(),
             (QStringList{"UnblockTableSignals", "UnblockSearchButton", "UpdateMainStatus(0)"}));
    QCOMPARE(int(FlashRequest), 0);
    QVERIFY(rig.worker().wait(2000));

    // The next search on a working line is a search only.
    LineRig next({simDevice(IdA, 10, 1, 0)});
    QVERIFY(next.search());
    QTest::qWait(3 * quickTiming().idlePoll);
    QCOMPARE(int(WorkMode), int(ModeIdle));
    QVERIFY(next.firmwareFramesTo(IdA).empty());
}

void LineTest::updateRunsWithTheRealStartPause()
{
    const QByteArray image = firmwareImage(1000, 9);
    const QString path = writeFile(m_dir, "image.bin", image);
    m_timing.reset(); // the product's waits and pauses throughout
    LineRig rig({simDevice(IdA, 10, 1, 0)});
    QVERIFY(rig.search(20000));
    QVERIFY(rig.flash(path, {0}, 30000));
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));

    const std::vector<DevSim::HostFrame> firmware = firmwareFrames(rig.sim());
    QCOMPARE(int(firmware.size()), 6);
    // As noted by the simulator, which may read the first part a little late.
    const auto pause
        = std::chrono::duration_cast<std::chrono::milliseconds>(firmware[1].at - firmware[0].at);
    QVERIFY2(pause.count() >= 9950 && pause.count() < 10500,
             qPrintable(QString::number(pause.count())));
    // After an accepted acknowledgement the next part follows at once: four
    // parts in less than one answer window.
    const auto rest
        = std::chrono::duration_cast<std::chrono::milliseconds>(firmware[5].at - firmware[1].at);
    QVERIFY2(rest.count() < lineTiming().answerWait, qPrintable(QString::number(rest.count())));
}

void LineTest::closingDuringTheStartPauseDoesNotWaitItOut()
{
    m_timing.reset(); // the real ten seconds
    const QString path = writeFile(m_dir, "image.bin", firmwareImage(1000, 10));
    LineRig rig({simDevice(IdA, 10, 1, 0)});
    QVERIFY(rig.search(20000));
    rig.requestFlash(path, {0});
    QVERIFY(rig.sim().waitFor([&rig] { return rig.sim().firmwareFramesReceived(0) == 1; }, 10000));
    QTest::qWait(200); // well inside the pause now

    QElapsedTimer clock;
    clock.start();
    rig.replaceWorker(); // destroys the worker, as closing the window does
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    // The device is told before the worker ends (and takes it a moment later).
    QVERIFY(rig.sim().waitFor(
        [&rig] { return rig.sim().imageState(0) == DevSim::ImageState::Aborted; }, 5000));
    const std::vector<std::pair<int, int>> toA{{1, 1}, {0, 1}};
    QCOMPARE(rig.firmwareFramesTo(IdA), toA);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
}

QTEST_GUILESS_MAIN(LineTest)
#include "tst_line.moc"
