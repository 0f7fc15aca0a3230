// The whole tool: the real main window, the real worker, simulated devices on
// a pseudo-terminal. The operator searches, ticks, picks a file and flashes.

#include "registry/registry.h"
#include "ui/columns.h"
#include "ui/startup.h"

#include "devsim/simulator.h"
#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/operator.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

using Id = std::array<quint8, 8>;
using DevSim::FaultRule;

const Id IdA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x00, 0x01};
const Id IdB = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F, 0x00, 0x02};
const Id IdC = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x60, 0x00, 0x03};

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void searchTickAndFlashTwoDevices();
    void deviceThatNeverAcknowledgesReadsError();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedLineTiming> m_timing;
};

void EndToEndTest::initTestCase()
{
    Identity::apply(*qApp);
}

void EndToEndTest::init()
{
    resetSharedStateForTests();
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
}

void EndToEndTest::cleanup()
{
    m_timing.reset();
}

void EndToEndTest::searchTickAndFlashTwoDevices()
{
    m_timing.reset(); // the product's own waits and pauses, the 10 s start pause included
    // Paced like the real line, 9600 baud: a device's parts take over a
    // second, so the table shows each step even when the window gets to its
    // queued calls late on a busy machine.
    DevSim::Options paced;
    paced.baud = 9600;
    DevSim::Simulator sim(
        {simDevice(IdA, 10, 2, 7), simDevice(IdB, 10, 0x82, 5), simDevice(IdC, 11, 1, 0)}, paced);
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    const QByteArray image = firmwareImage(1000, 21);
    op.path->setText(writeFile(m_dir, "fw.bin", image));

    QTest::mouseClick(op.search, Qt::LeftButton);
    QCOMPARE(op.status->text(), QString("Идет поиск"));
    QVERIFY(!op.search->isEnabled());
    QVERIFY(!op.flash->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Выберите устройство(а)"), 20000);
    QVERIFY(op.search->isEnabled());
    QVERIFY(op.flash->isEnabled());
    QCOMPARE(op.table->rowCount(), 4);
    QCOMPARE(op.text(0, AddressColumn), QString("00:1a:2b:3c:4d:5e"));
    QCOMPARE(op.text(0, TypeColumn), QString("VT-TALLY-8"));
    QCOMPARE(op.text(0, VersionColumn), QString("2.7"));
    QCOMPARE(op.text(1, VersionColumn), QString("2.5(Загрузчик)"));
    QCOMPARE(op.text(2, TypeColumn), QString("VT-TALLY-16"));
    QCOMPARE(op.text(3, AddressColumn), QString("Найдено устройств: 3"));

    op.tick(0);
    op.tick(1);
    QCOMPARE(op.text(0, StatusColumn), QString("Ожидание"));
    QCOMPARE(op.table->item(3, CheckColumn)->checkState(), Qt::PartiallyChecked);
    QTest::mouseClick(op.flash, Qt::LeftButton);
    QCOMPARE(op.status->text(), QString("Идет обновление"));
    QVERIFY(!op.search->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Обновление завершено"), 60000);
    QCOMPARE(op.text(0, StatusColumn), QString("Обновлено"));
    QCOMPARE(op.text(1, StatusColumn), QString("Обновлено"));
    QCOMPARE(op.text(2, StatusColumn), QString());
    QCOMPARE(op.text(0, VersionColumn), QString("Необходимо обновить"));
    QCOMPARE(op.text(2, VersionColumn), QString("1.0"));
    QVERIFY(op.search->isEnabled());
    QVERIFY(op.flash->isEnabled());
    QVERIFY(!op.table->signalsBlocked());
    QCOMPARE(imageOf(sim, 0), image);
    QCOMPARE(imageOf(sim, 1), image);
    QCOMPARE(sim.firmwareFramesReceived(2), 0);

    // Progress was shown on the way, and the texts never went backwards.
    for (int row : {0, 1}) {
        const QStringList texts = op.seen.value(row);
        QVERIFY2(texts.contains("Подготовка"), qPrintable(texts.join(", ")));
        QCOMPARE(texts.last(), QString("Обновлено"));
        QVERIFY2(texts.filter("Обновление:").size() >= 1, qPrintable(texts.join(", ")));
        QVERIFY(!texts.contains("Ошибка"));
    }
}

void EndToEndTest::deviceThatNeverAcknowledgesReadsError()
{
    const FaultRule silentOnFirmware{FaultRule::Silent, -1, 1, 0};
    DevSim::Simulator sim({simDevice(IdA, 10, 2, 7, {silentOnFirmware}), simDevice(IdB, 10, 2, 5)});
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    const QByteArray image = firmwareImage(1200, 22);
    op.path->setText(writeFile(m_dir, "fw.bin", image));

    QTest::mouseClick(op.search, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Выберите устройство(а)"), 20000);
    QCOMPARE(op.table->rowCount(), 3);
    op.table->item(2, CheckColumn)->setCheckState(Qt::Checked); // select all
    QCOMPARE(op.text(0, StatusColumn), QString("Ожидание"));
    QCOMPARE(op.text(1, StatusColumn), QString("Ожидание"));
    QTest::mouseClick(op.flash, Qt::LeftButton);

    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Обновление завершено"), 30000);
    QCOMPARE(op.text(0, StatusColumn), QString("Ошибка"));
    QCOMPARE(op.text(0, VersionColumn), QString("2.7"));
    QCOMPARE(op.text(1, StatusColumn), QString("Обновлено"));
    QCOMPARE(imageOf(sim, 1), image);
    QVERIFY(!op.seen.value(0).contains("Обновлено"));
    QVERIFY(op.search->isEnabled());
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
