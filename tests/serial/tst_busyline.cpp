// The worker on a line as it is in the field: devices that garble their
// answers, crowds, devices that never stop talking, answers that collide, an
// adapter that hands the host its own frames back, a device that speaks out
// of turn during an update, an adapter pulled out.

#include "protocol/frame.h"
#include "registry/exchange.h"
#include "registry/registry.h"
#include "serial/serialline.h"
#include "serial/serialthread.h"

#include "devsim/testline.h"
#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/logcapture.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

namespace {

using DevSim::FaultRule;

const Id Good = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const Id Bad = {0xBA, 0xD0, 0xBA, 0xD0, 0xBA, 0xD0, 0xBA, 0xD0};
const Id Other = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};

bool listed(const Id &id)
{
    return DeviceList.indexOf(id) >= 0;
}

} // namespace

class BusyLineTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void badDeviceBesideAGoodOneHidesNothing_data();
    void badDeviceBesideAGoodOneHidesNothing();
    void crowdIsFoundInOneRoundAndConfirmedOnce_data();
    void crowdIsFoundInOneRoundAndConfirmedOnce();
    void deviceThatNeverStopsAnsweringDoesNotHoldTheSearch();
    void collidingAnswersAreAskedForAgain();
    void ownFramesComingBackAreNeverTakenForAnswers_data();
    void ownFramesComingBackAreNeverTakenForAnswers();
    void strayAnswersDuringAnUpdateAreDropped();
    void pulledAdapterEndsTheJobAndSaysSo_data();
    void pulledAdapterEndsTheJobAndSaysSo();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedLineTiming> m_timing;
};

void BusyLineTest::init()
{
    resetSharedStateForTests();
    TransactionPhase = PhaseReady;
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
}

void BusyLineTest::cleanup()
{
    m_timing.reset();
}

void BusyLineTest::badDeviceBesideAGoodOneHidesNothing_data()
{
    QTest::addColumn<bool>("badFirst");
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("badIsListed");
    QTest::newRow("bad checksum 12 ms before") << true << int(FaultRule::BadChecksum) << false;
    QTest::newRow("bad checksum 12 ms after") << false << int(FaultRule::BadChecksum) << false;
    QTest::newRow("stray bytes ahead of an answer") << true << int(FaultRule::Garbage) << true;
}

void BusyLineTest::badDeviceBesideAGoodOneHidesNothing()
{
    QFETCH(bool, badFirst);
    QFETCH(int, fault);
    QFETCH(bool, badIsListed);
    LogCapture log;
    const auto bad = simDevice(Bad, 10, 1, 0, {FaultRule{FaultRule::Kind(fault), -1, 0, 2}});
    const auto good = simDevice(Good, 10, 2, 5);
    DevSim::Options options;
    options.slotMs = 12;
    LineRig rig(badFirst ? std::vector<DevSim::DeviceConfig>{bad, good}
                         : std::vector<DevSim::DeviceConfig>{good, bad},
                options);
    QVERIFY(rig.search());

    QVERIFY(listed(Good));
    QCOMPARE(listed(Bad), badIsListed);
    QCOMPARE(DeviceList.size(), badIsListed ? 2 : 1);
    QCOMPARE(int(DeviceList.at(DeviceList.indexOf(Good))->verMinor), 5);
    QCOMPARE(rig.signalsSeen().count("UpdateMainStatus(4)"), 1);
    QVERIFY(log.count("crc_error") > 0);
    if (!badIsListed) {
        // The garbled device tries again every round; the search still ends.
        QCOMPARE(log.count("search ended: no new device in 10 rounds, the line stays busy"), 1);
        QCOMPARE(trafficOn(rig.sim()).searches, 1 + 10);
    }
}

void BusyLineTest::crowdIsFoundInOneRoundAndConfirmedOnce_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("echo");
    QTest::newRow("300 devices, unpaced") << 300 << 0 << false;
    QTest::newRow("300 devices at 9600 baud") << 300 << 9600 << false;
    QTest::newRow("16 devices at 9600 baud, the adapter echoing") << 16 << 9600 << true;
}

void BusyLineTest::crowdIsFoundInOneRoundAndConfirmedOnce()
{
    QFETCH(int, count);
    QFETCH(int, baud);
    QFETCH(bool, echo);
    const int Count = count;
    // The crowd's answers take from half a second to three and a half; the
    // simulator, on a loaded machine, pauses among them now and then for
    // longer than any adapter would. Quiet for a whole answer window ends
    // the gathering here, so that such a pause never splits the crowd.
    LineTiming timing = quickTiming();
    timing.gatherGap = timing.answerWait;
    ScopedLineTiming scoped(timing);
    DevSim::Options options;
    options.baud = baud;
    options.echo = echo;
    LineRig rig(crowd(Count), options);
    QVERIFY(rig.search(120000));

    QCOMPARE(DeviceList.size(), Count);
    const std::vector<DeviceRecord> list = DeviceList.snapshot();
    for (int i = 0; i < Count; ++i) {
        QVERIFY(list[size_t(i)].id == crowdId(i)); // in the order they answered
        QCOMPARE(int(list[size_t(i)].verMinor), i & 0xFF);
        QVERIFY(rig.sim().confirmed(size_t(i)));
    }
    const Traffic t = trafficOn(rig.sim());
    QCOMPARE(t.searches, 1 + 3);
    QCOMPARE(t.confirmations, Count);
    QCOMPARE(t.queries, Count);
}

void BusyLineTest::deviceThatNeverStopsAnsweringDoesNotHoldTheSearch()
{
    LogCapture log;
    auto chatty = simDevice(Bad, 11, 1, 1);
    chatty.chatty = true;
    LineRig rig({chatty, simDevice(Good, 10, 2, 5)});
    QVERIFY(rig.search(10000));
    QVERIFY(listed(Bad));
    QVERIFY(listed(Good));
    QCOMPARE(DeviceList.size(), 2);
    QCOMPARE(log.count("search ended: nothing new in 3 rounds"), 1);
    QCOMPARE(trafficOn(rig.sim()).searches, 1 + 3);
}

void BusyLineTest::collidingAnswersAreAskedForAgain()
{
    LogCapture log;
    constexpr int Count = 32;
    DevSim::Options options;
    options.baud = 9600;
    options.collisionSlots = Count;
    options.seed = 7;
    LineRig rig(crowd(Count), options);
    QVERIFY(rig.search(60000));
    QCOMPARE(DeviceList.size(), Count);
    for (int i = 0; i < Count; ++i)
        QVERIFY(listed(crowdId(i)));
    QVERIFY(log.count("crc_error") > 0); // there were collisions to get over
    QVERIFY(trafficOn(rig.sim()).searches > 1 + 3);
}

void BusyLineTest::ownFramesComingBackAreNeverTakenForAnswers_data()
{
    QTest::addColumn<int>("late");
    QTest::newRow("answers 10 ms after the request") << 10;
    QTest::newRow("answers 800 ms after the request") << 800;
}

// A two-wire adapter whose receiver stays on hands every frame the host
// writes back to it. The confirmation has the very bytes of the device's
// answer, the echo of a version query comes before the answer: neither is
// an answer. With the product's waits.
void BusyLineTest::ownFramesComingBackAreNeverTakenForAnswers()
{
    QFETCH(int, late);
    LogCapture log;
    m_timing.reset();
    DevSim::Options options;
    options.echo = true;
    // Late for the search answer and the version answer, on time after.
    const FaultRule lateAnswers{FaultRule::Late, 2, 0, late};
    LineRig rig({simDevice(Good, 10, 2, 5, {lateAnswers}), simDevice(Other, 11, 3, 7, {lateAnswers})},
                options);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig.search(30000));
    const qint64 searched = clock.elapsed();

    QCOMPARE(DeviceList.size(), 2);
    const auto good = DeviceList.at(size_t(DeviceList.indexOf(Good)));
    const auto other = DeviceList.at(size_t(DeviceList.indexOf(Other)));
    QVERIFY(good && other);
    QCOMPARE(std::make_pair(int(good->verMajor), int(good->verMinor)), std::make_pair(2, 5));
    QCOMPARE(std::make_pair(int(other->verMajor), int(other->verMinor)), std::make_pair(3, 7));
    const Traffic t = trafficOn(rig.sim());
    QCOMPARE(t.searches, 1 + 3);
    QCOMPARE(t.confirmations, 2);
    QCOMPARE(t.queries, 2);
    // The round that found them ends once the line is quiet; the three
    // silent ones each take the pause and the whole window, none cut short.
    const LineTiming product;
    QVERIFY2(searched >= product.searchPause + 3 * (product.searchPause + product.answerWait),
             qPrintable(QString::number(searched)));
    QCOMPARE(log.lines().filter("our own frame coming back, dropped").size(), 4 + 2 + 2);
    if (late > 10)
        return;

    // An update through the same adapter: exact, not one part repeated.
    rig.replaceWorker();
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
    rig.worker().startWork(rig.port()); // idle on the line, as after a search
    const QByteArray image = firmwareImage(4 * 197 + 5, 13);
    const QString path = writeFile(m_dir, "image.bin", image);
    QVERIFY(rig.flash(path, {0, 1}));
    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(imageOf(rig.sim(), 1), image);
    QCOMPARE(int(rig.firmwareFramesTo(Good).size()), 5);
    QCOMPARE(int(rig.firmwareFramesTo(Other).size()), 5);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));
    QCOMPARE(int(DeviceList.at(1)->outcome), int(FlashDone));
}

void BusyLineTest::strayAnswersDuringAnUpdateAreDropped()
{
    LogCapture log;
    const QByteArray image = firmwareImage(20 * 197, 11);
    const QString path = writeFile(m_dir, "image.bin", image);
    // At 9600 baud a part takes a quarter of a second on the wire: the last
    // stray still finds the update running two seconds before its end. An
    // unpaced line would end it within milliseconds, and a stray that comes
    // after the end is no stray during an update.
    DevSim::Options options;
    options.baud = 9600;
    LineRig rig({simDevice(Good, 10, 1, 0), simDevice(Other, 10, 1, 0)}, options);
    QVERIFY(rig.search());
    rig.sim().clearHostFrames();
    rig.signalsSeen().clear();
    log.clear();
    rig.requestFlash(path, {0});

    // The other device speaks three times out of turn while parts go to the
    // first: a search answer, a version answer, an acknowledgement.
    const std::vector<Bytes> strays{
        frame(Other, Cpd::TypeResponse, Cpd::BlockSearch, 10),
        frame(Other, Cpd::TypeResponse, Cpd::BlockDevice, Cpd::NumberVersion, {1, 0}),
        frame(Other, Cpd::TypeResponse, Cpd::BlockDevice, Cpd::NumberFirmware, {2, 0, 5}),
    };
    for (size_t i = 0; i < strays.size(); ++i) {
        const int after = 3 + 4 * int(i);
        QVERIFY(
            rig.sim().waitFor([&] { return rig.sim().firmwareFramesReceived(0) >= after; }, 10000));
        rig.sim().writeRaw(strays[i]);
    }
    QVERIFY(rig.waitForSignal("UpdateMainStatus(8)", 30000));

    QCOMPARE(imageOf(rig.sim(), 0), image);
    QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashDone));
    QCOMPARE(int(rig.firmwareFramesTo(Good).size()), 20); // not one part repeated
    QCOMPARE(rig.sim().firmwareFramesReceived(1), 0);
    QCOMPARE(trafficOn(rig.sim()).confirmations, 0);
    const QStringList dropped = log.lines().filter("not the answer awaited, dropped");
    QCOMPARE(dropped.size(), 3);
    QCOMPARE(dropped.filter("SerialP: CPDevice [00:1A:2B:3C:4D:5E:6F:70]").size(), 3);
    QCOMPARE(log.count("SerialP: new id: 00:1a:2b:3c:4d:5e"), 0);
}

void BusyLineTest::pulledAdapterEndsTheJobAndSaysSo_data()
{
    QTest::addColumn<QString>("during");
    QTest::newRow("search") << "search";
    QTest::newRow("inventory") << "inventory";
    QTest::newRow("start pause") << "start pause";
    QTest::newRow("parts") << "parts";
    // The part is held in the port (the line takes nothing) when it goes.
    QTest::newRow("write wait") << "write wait";
    // The driver reported the port gone, and every wait since ran out: the
    // time-outs must not hide it (no adapter is pulled here).
    QTest::newRow("gone, then time-outs") << "gone, then time-outs";
}

void BusyLineTest::pulledAdapterEndsTheJobAndSaysSo()
{
    QFETCH(QString, during);
    LineTiming timing = quickTiming();
    timing.startPause = 3000;
    const bool updating = during != "search" && during != "inventory";
    DevSim::Options options;
    options.baud = 9600;
    // Two version answers at 9600 baud are over within some 30 ms: in the
    // inventory the devices answer late (their search answers on time), so
    // that the adapter goes while the inventory still runs.
    std::vector<FaultRule> faults;
    if (during == "inventory") {
        timing.answerWait = 1500;
        faults = {FaultRule{FaultRule::Late, 1, 0, 0}, FaultRule{FaultRule::Late, -1, 0, 1000}};
    }
    if (during == "write wait")
        faults = {FaultRule{FaultRule::Stall, 1, 5, 10000}};
    ScopedLineTiming scoped(timing);
    LineRig rig({simDevice(Good, 10, 1, 0, faults), simDevice(Other, 10, 1, 0, faults)}, options);
    if (updating) {
        QVERIFY(rig.search());
        rig.signalsSeen().clear();
        rig.requestFlash(writeFile(m_dir, "image.bin", firmwareImage(20 * 197, 5)), {0, 1});
    } else {
        rig.startSearch(rig.port());
    }

    const auto reached = [&rig, &during] {
        const Traffic t = trafficOn(rig.sim());
        if (during == "search")
            return t.confirmations >= 1;
        if (during == "inventory")
            return t.queries >= 1;
        if (during == "start pause" || during == "gone, then time-outs")
            return t.firmware >= 1;
        if (during == "write wait")
            return t.firmware >= 5; // the sixth stays in the port
        return t.firmware >= 6;
    };
    QVERIFY(rig.sim().waitFor(reached, 20000));
    if (during == "start pause" || during == "gone, then time-outs") {
        // The start frame is out; the adapter goes once the worker has seen it
        // leave and sits in the pause that follows it.
        QVERIFY(QTest::qWaitFor(
            [] {
                return TransactionPhase == PhaseAwaitResponse && UpdateStage == StageStart
                       && WorkMode == ModeUpdate;
            },
            timing.startPause));
    }
    if (during == "write wait") {
        // Part 6 is in the port and cannot leave it.
        QVERIFY(QTest::qWaitFor([] { return TransactionPhase == PhaseAwaitWritten; }, 5000));
        QTest::qWait(quickTiming().writeTimeout + 100);
        QCOMPARE(int(TransactionPhase), int(PhaseAwaitWritten));
    }
    QElapsedTimer clock;
    clock.start();
    if (during == "gone, then time-outs")
        TestSeam::injectLineFault(QSerialPort::ResourceError);
    else
        rig.sim().stop(); // the adapter is gone

    QVERIFY(rig.waitForSignal("UpdateMainStatus(0)", 5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig.worker().wait(2000));
    const QStringList names = rig.signalsSeen().names();
    QCOMPARE(names.mid(names.size() - 2),
             (QStringList{"UnblockSearchButton", "UpdateMainStatus(0)"}));
    // Never a result that was not reached.
    for (const char *result : {"UpdateMainStatus(4)", "UpdateMainStatus(6)", "UpdateMainStatus(8)"})
        QCOMPARE(names.count(result), 0);
    if (updating) {
        QVERIFY(names.contains("UnblockTableSignals"));
        QCOMPARE(int(DeviceList.at(0)->outcome), int(FlashFailed));
        QCOMPARE(int(DeviceList.at(1)->outcome), int(FlashNone)); // not started, left as it was
    }
}

QTEST_GUILESS_MAIN(BusyLineTest)
#include "tst_busyline.moc"
