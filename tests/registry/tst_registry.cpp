// The shared state on its own: the device list's rules (order, limits, range
// checks, the transfer figures) and its use from two threads, and the slot
// that hands the image to the worker.

#include "registry/registry.h"

#include "support/fixtures.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {

DeviceId numbered(int n)
{
    return deviceId(0x4F, 0x4C, 0x56, 0, 0, quint8(n >> 8), quint8(n), 1);
}

} // namespace

class RegistryTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { resetSharedStateForTests(); }
    void cleanupTestCase() { resetSharedStateForTests(); }

    void listKeepsAnswerOrderAndStopsAtItsSixteenBitLimit();
    void everyAccessOutsideTheListIsRefused();
    void onlySelectedOneCountsAsTicked();
    void outcomesStampTheTransferFigures();
    void copiesTakenWhileTheWorkerAppendsAreWhole();
    void imageOutlivesTheSlotForTheRunningPass();
};

void RegistryTest::listKeepsAnswerOrderAndStopsAtItsSixteenBitLimit()
{
    for (int n = 0; n < SharedDeviceList::MaxRecords; ++n)
        QVERIFY(DeviceList.append(deviceRecord(numbered(n), TypeTally8)));
    const DeviceId oneTooMany = deviceId(0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE);
    QVERIFY(!DeviceList.append(deviceRecord(oneTooMany, TypeTally8)));
    QCOMPARE(DeviceList.size(), 65535);
    QCOMPARE(DeviceList.indexOf(numbered(0)), 0);
    QCOMPARE(DeviceList.indexOf(numbered(65534)), 65534);
    QCOMPARE(DeviceList.indexOf(oneTooMany), -1);
    QVERIFY(DeviceList.at(65534)->id == numbered(65534));

    DeviceList.clear();
    QVERIFY(DeviceList.isEmpty());
    QVERIFY(DeviceList.append(deviceRecord(numbered(1), TypeProbe)));
    QCOMPARE(DeviceList.indexOf(numbered(1)), 0);
}

void RegistryTest::everyAccessOutsideTheListIsRefused()
{
    DeviceList.append(deviceRecord(numbered(0), TypeTally8, 2, 7, 1));
    for (int pos : {-1, 1, 65535}) {
        QVERIFY(!DeviceList.at(pos));
        QVERIFY(!DeviceList.setSelected(pos, 1));
        QVERIFY(!DeviceList.setVersion(pos, 1, 1));
        QVERIFY(!DeviceList.setOutcome(pos, FlashDone));
        QVERIFY(!DeviceList.setPartsAcked(pos, 3));
        QVERIFY(!DeviceList.countRepeat(pos));
    }
    // Before the first device the cursor names no position.
    DeviceCursor = 0;
    QVERIFY(!DeviceList.at(cursorPosition()));
    DeviceCursor = 1;
    QVERIFY(DeviceList.at(cursorPosition())->id == numbered(0));

    const DeviceRecord untouched = *DeviceList.at(0);
    QCOMPARE(untouched.selected, 1);
    QCOMPARE(int(untouched.verMajor), 2);
    QCOMPARE(int(untouched.outcome), int(FlashNone));
}

void RegistryTest::onlySelectedOneCountsAsTicked()
{
    for (qint32 selected : {1, 0, 2, -1, 1})
        DeviceList.append(deviceRecord(numbered(DeviceList.size()), TypeTally8, 0, 0, selected));
    const SharedDeviceList::Selection selection = DeviceList.selection();
    QCOMPARE(selection.total, 5);
    QCOMPARE(selection.selected, 2);
}

void RegistryTest::outcomesStampTheTransferFigures()
{
    DeviceList.append(deviceRecord(numbered(0), TypeTally8));
    DeviceList.append(deviceRecord(numbered(1), TypeTally8));

    const qint64 before = transferClockMs();
    QVERIFY(DeviceList.setOutcome(0, FlashRunning));
    DeviceList.setPartsAcked(0, 4);
    DeviceList.countRepeat(0);
    DeviceList.countRepeat(0);
    QTest::qWait(5);
    QVERIFY(DeviceList.setOutcome(0, FlashFailed));
    DeviceRecord r = *DeviceList.at(0);
    QCOMPARE(int(r.outcome), int(FlashFailed));
    QCOMPARE(int(r.partsAcked), 4);
    QCOMPARE(int(r.repeats), 2);
    QVERIFY(r.startedMs >= before);
    QVERIFY(r.endedMs > r.startedMs);

    // Starting the device again begins its figures afresh.
    QVERIFY(DeviceList.setOutcome(0, FlashRunning));
    r = *DeviceList.at(0);
    QCOMPARE(int(r.partsAcked), 0);
    QCOMPARE(int(r.repeats), 0);
    QCOMPARE(r.endedMs, qint64(0));
    QVERIFY(r.startedMs != 0);

    DeviceList.setOutcome(1, FlashDone);
    DeviceList.beginPass(6);
    for (const DeviceRecord &d : DeviceList.snapshot()) {
        QCOMPARE(int(d.outcome), int(FlashNone));
        QCOMPARE(d.startedMs, qint64(0));
        QCOMPARE(d.endedMs, qint64(0));
    }
}

// The worker appends during a search while the GUI thread copies the list for
// the table: every copy is a whole prefix of the final list.
void RegistryTest::copiesTakenWhileTheWorkerAppendsAreWhole()
{
    constexpr int Count = 5000;
    std::atomic<bool> done{false};
    std::thread worker([&done] {
        for (int n = 0; n < Count; ++n) {
            DeviceList.append(deviceRecord(numbered(n), TypeTally16, 1, quint8(n)));
            DeviceList.setVersion(n, 2, quint8(n));
        }
        done = true;
    });
    size_t last = 0;
    int copies = 0;
    bool whole = true;
    while (!done || copies == 0) {
        const std::vector<DeviceRecord> copy = DeviceList.snapshot();
        whole = whole && copy.size() >= last;
        last = copy.size();
        for (size_t n = 0; n < copy.size() && whole; ++n)
            whole = copy[n].id == numbered(int(n)) && copy[n].verMinor == quint8(n);
        ++copies;
    }
    worker.join();
    QVERIFY(whole);
    QCOMPARE(DeviceList.size(), Count);
}

void RegistryTest::imageOutlivesTheSlotForTheRunningPass()
{
    auto image = std::make_shared<const FirmwareImage>(FirmwareImage{firmwareImage(1000)});
    std::weak_ptr<const FirmwareImage> watch = image;
    FirmwareFile.set(std::move(image));
    std::shared_ptr<const FirmwareImage> pass = FirmwareFile.get(); // the worker's own
    FirmwareFile.set(nullptr);                                      // the GUI moves on
    QVERIFY(!FirmwareFile.get());
    QVERIFY(!watch.expired());
    QCOMPARE(pass->bytes, firmwareImage(1000));
    pass.reset();
    QVERIFY(watch.expired());
}

QTEST_GUILESS_MAIN(RegistryTest)
#include "tst_registry.moc"
