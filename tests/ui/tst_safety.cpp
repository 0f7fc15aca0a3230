// The operator's safety, through the real window on a simulated line: the
// tick boxes tell the truth, the image written is the one chosen, a signed
// image goes only where its signature allows, closing during an update asks
// and tells the device.

#include "registry/exchange.h"
#include "registry/registry.h"
#include "ui/columns.h"
#include "ui/startup.h"

#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/modal.h"
#include "support/operator.h"
#include "support/signing.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

using Id = std::array<quint8, 8>;

const Id IdA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x00, 0x01};
const Id IdB = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F, 0x00, 0x02};

const QString Done = QStringLiteral("Обновление завершено");

} // namespace

class SafetyTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void tickBoxesCannotChangeDuringAPassAndTellTheTruthAfter();
    void imageReplacedBetweenDevicesReachesNone();
    void signedImageGoesOnlyWhereItsSignatureAllows_data();
    void signedImageGoesOnlyWhereItsSignatureAllows();
    void closingDuringAnUpdateAsksFirst_data();
    void closingDuringAnUpdateAsksFirst();
    void closingAfterAnUpdateLostItsPortAsksNothing_data();
    void closingAfterAnUpdateLostItsPortAsksNothing();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedLineTiming> m_timing;
};

void SafetyTest::initTestCase()
{
    Identity::apply(*qApp);
}

void SafetyTest::init()
{
    resetSharedStateForTests();
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
}

void SafetyTest::cleanup()
{
    m_timing.reset();
}

void SafetyTest::tickBoxesCannotChangeDuringAPassAndTellTheTruthAfter()
{
    DevSim::Simulator sim({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 1, 0)});
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    const QByteArray image = firmwareImage(30 * 197, 31);
    op.path->setText(writeFile(m_dir, "fw.bin", image));
    QVERIFY(op.findDevices());

    // A click on a box ticks and unticks it while nothing runs.
    op.clickTickBox(1);
    QCOMPARE(op.check(1), Qt::Checked);
    op.clickTickBox(1);
    QCOMPARE(op.check(1), Qt::Unchecked);
    op.clickTickBox(0);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 0}));

    QTest::mouseClick(op.flash, Qt::LeftButton);
    QVERIFY(sim.waitFor([&sim] { return sim.firmwareFramesReceived(0) >= 3; }, 10000));
    // During the pass no click changes a box, the select-all box included.
    op.clickTickBox(0);
    op.clickTickBox(1);
    op.clickTickBox(2);
    QCOMPARE(op.check(0), Qt::Checked);
    QCOMPARE(op.check(1), Qt::Unchecked);
    QCOMPARE(op.check(2), Qt::PartiallyChecked);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 0}));

    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), Done, 30000);
    QCOMPARE(op.text(0, StatusColumn), QString("Обновлено"));
    QCOMPARE(imageOf(sim, 0), image);
    QCOMPARE(sim.firmwareFramesReceived(1), 0);
    QCOMPARE(op.check(0), Qt::Checked);
    QCOMPARE(op.check(1), Qt::Unchecked);

    // Free again afterwards; and a second press writes what the boxes show.
    op.clickTickBox(0);
    op.clickTickBox(1);
    QCOMPARE(selectedFlags(), (QList<qint32>{0, 1}));
    const int framesToA = sim.firmwareFramesReceived(0);
    QTest::mouseClick(op.flash, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Идет обновление"), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), Done, 30000);
    QCOMPARE(sim.firmwareFramesReceived(0), framesToA);
    QCOMPARE(imageOf(sim, 1), image);
}

void SafetyTest::imageReplacedBetweenDevicesReachesNone()
{
    DevSim::Simulator sim({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 1, 0)});
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    const QByteArray chosen = firmwareImage(30 * 197 + 11, 41);
    const QString path = writeFile(m_dir, "fw.bin", chosen);
    op.path->setText(path);
    QVERIFY(op.findDevices());
    op.table->item(2, CheckColumn)->setCheckState(Qt::Checked); // select all
    QTest::mouseClick(op.flash, Qt::LeftButton);

    // The first device has its image; the file is replaced before the second.
    QVERIFY(
        sim.waitFor([&sim] { return sim.imageState(0) == DevSim::ImageState::Complete; }, 20000));
    const QString replacement = writeFile(m_dir, "new.bin", firmwareImage(60 * 1024, 42));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(replacement, path));

    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), Done, 30000);
    QCOMPARE(imageOf(sim, 0), chosen);
    QCOMPARE(imageOf(sim, 1), chosen);
    QCOMPARE(op.text(0, StatusColumn), QString("Обновлено"));
    QCOMPARE(op.text(1, StatusColumn), QString("Обновлено"));
}

void SafetyTest::signedImageGoesOnlyWhereItsSignatureAllows_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text"); // of the refusal; empty: written. %1: the key id
    QTest::newRow("signed for the ticked type") << "good"
                                                << "";
    QTest::newRow("signed for another type")
        << "tally16"
        << "Прошивка подписана для VT-TALLY-16, а выбраны устройства VT-TALLY-8";
    QTest::newRow("one byte changed after signing")
        << "changed"
        << "Подпись прошивки неверна: файл прошивки изменен после подписи";
    QTest::newRow("signed by an unknown key")
        << "stranger"
        << "Прошивка подписана неизвестным ключом %1.\nДоверенные ключи кладут в папку %2.\n"
           "Прошивка без подписи записывается без проверки.";
}

void SafetyTest::signedImageGoesOnlyWhereItsSignatureAllows()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QTemporaryDir dir;
    Signer maker(dir, kind == "stranger" ? "stranger" : "maker");
    QVERIFY2(maker.error().isEmpty(), qPrintable(maker.error()));
    const QString keys = dir.filePath("keys");
    const ScopedKeyFolder folder(
        keys, kind == "stranger" ? QStringList{} : QStringList{maker.publicKeyFile()});
    QVERIFY(folder.ok());
    const QByteArray image = firmwareImage(20 * 197, 71);
    const QString path = writeFile(dir, "fw.bin", image);
    QVERIFY(
        maker.sign(path, kind == "tally16" ? "type=VT-TALLY-16" : "type=VT-TALLY-8 version=2.8"));
    if (kind == "changed")
        QVERIFY(changeByte(path, 100));

    DevSim::Simulator sim({simDevice(IdA, 10, 1, 0)});
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    op.path->setText(path);
    QVERIFY(op.findDevices());
    op.tick(0);
    sim.clearHostFrames();
    ModalWatcher watcher;
    QTest::mouseClick(op.flash, Qt::LeftButton);
    if (text.isEmpty()) {
        QCOMPARE(watcher.seen(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), Done, 30000);
        QCOMPARE(imageOf(sim, 0), image);
        return;
    }
    QCOMPARE(watcher.seen(), 1);
    QCOMPARE(watcher.lastTitle(), QString("Ошибка"));
    if (kind == "stranger")
        text = text.arg(maker.keyId(), QDir::toNativeSeparators(keys));
    QCOMPARE(watcher.lastText(), text);
    // Nothing goes on the line, then or later, and the window is as it was.
    QTest::qWait(4 * quickTiming().idlePoll);
    QVERIFY(sim.hostFrames().empty());
    QCOMPARE(int(FlashRequest), 0);
    QCOMPARE(op.status->text(), QString("Выберите устройство(а)"));
    QVERIFY(op.search->isEnabled());
    QVERIFY(!op.table->signalsBlocked());
}

void SafetyTest::closingDuringAnUpdateAsksFirst_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("yes: the update stops") << true;
    QTest::newRow("no: the update goes on") << false;
}

void SafetyTest::closingDuringAnUpdateAsksFirst()
{
    QFETCH(bool, stop);
    DevSim::Options paced;
    paced.baud = 57600;
    DevSim::Simulator sim({simDevice(IdA, 10, 1, 0)}, paced);
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    // 150 parts at 57600 baud: the update still runs some five seconds after
    // the tenth part, when the window is closed.
    const QByteArray image = firmwareImage(150 * 197, 51);
    op.path->setText(writeFile(m_dir, "fw.bin", image));
    QVERIFY(op.findDevices());
    op.tick(0);
    QTest::mouseClick(op.flash, Qt::LeftButton);
    QVERIFY(sim.waitFor([&sim] { return sim.firmwareFramesReceived(0) >= 10; }, 10000));

    const QString answer = stop ? QStringLiteral("Да") : QStringLiteral("Нет");
    // A box without the button would be rejected by the watcher, which reads
    // as "no": the answer counts only if its button was there and was clicked.
    bool answered = false;
    ModalWatcher watcher([&answer, &answered](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == answer) {
                button->click();
                answered = true;
            }
        }
    });
    op.window->close();
    QCOMPARE(watcher.seen(), 1);
    QVERIFY(answered);
    QCOMPARE(watcher.lastTitle(), QString("Идет обновление"));
    QCOMPARE(watcher.lastText(), QString("Прервать обновление и закрыть программу?"));

    if (!stop) {
        QVERIFY(op.window->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), Done, 30000);
        QCOMPARE(imageOf(sim, 0), image);
        QCOMPARE(op.text(0, StatusColumn), QString("Обновлено"));
        return;
    }
    QVERIFY(!op.window->isVisible());
    QElapsedTimer clock;
    clock.start();
    op.window.reset(); // what the application does once its window has closed
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    // Written before the worker ended; the simulator takes it a moment later.
    QVERIFY(sim.waitFor([&sim] { return sim.imageState(0) == DevSim::ImageState::Aborted; }, 5000));
    // The last frame on the wire is the one that gives the device up: stage 0,
    // with a full part in it.
    const auto frames = firmwareFramesTo(sim, IdA);
    QVERIFY(frames.size() >= 11);
    QCOMPARE(frames.back().first, 0);
    const auto bodies = firmwareFrameBytesTo(sim, IdA);
    QCOMPARE(bodies.size(), frames.size());
    QCOMPARE(int(bodies.back().size()), 13 + 197 + 1);
}

void SafetyTest::closingAfterAnUpdateLostItsPortAsksNothing_data()
{
    QTest::addColumn<QString>("pulled");
    QTest::newRow("adapter pulled in the start pause") << "start pause";
    QTest::newRow("adapter pulled during the parts") << "parts";
    QTest::newRow("port gone before the update could start") << "before";
}

void SafetyTest::closingAfterAnUpdateLostItsPortAsksNothing()
{
    QFETCH(QString, pulled);
    LineTiming timing = quickTiming();
    timing.startPause = 3000;
    m_timing.reset();
    ScopedLineTiming scoped(timing);
    DevSim::Options paced;
    paced.baud = 9600;
    DevSim::Simulator sim({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 1, 0)}, paced);
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    op.path->setText(writeFile(m_dir, "fw.bin", firmwareImage(40 * 197, 61)));
    QVERIFY(op.findDevices());
    op.tick(0);
    op.tick(1);
    if (pulled == "before")
        sim.stop(); // the idle worker finds the port gone when it takes the request up
    QTest::mouseClick(op.flash, Qt::LeftButton);
    QCOMPARE(op.status->text(), QString("Идет обновление"));
    if (pulled == "start pause") {
        QVERIFY(sim.waitFor([&sim] { return sim.firmwareFramesReceived(0) >= 1; }, 10000));
        QVERIFY(QTest::qWaitFor(
            [] { return TransactionPhase == PhaseAwaitResponse && UpdateStage == StageStart; },
            timing.startPause));
        sim.stop();
    } else if (pulled == "parts") {
        QVERIFY(sim.waitFor([&sim] { return sim.firmwareFramesReceived(0) >= 6; }, 10000));
        sim.stop();
    }
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Порт занят"), 5000);
    QTRY_VERIFY(op.search->isEnabled());
    QTRY_VERIFY(!op.table->signalsBlocked());
    QCOMPARE(op.text(0, StatusColumn),
             pulled == "before" ? QString("Ожидание") : QString("Ошибка"));
    QCOMPARE(op.text(1, StatusColumn), QString("Ожидание")); // never started

    ModalWatcher watcher(nullptr, 1000);
    op.window->close();
    QCOMPARE(watcher.seen(), 0);
    QVERIFY(!op.window->isVisible());
    QElapsedTimer clock;
    clock.start();
    op.window.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(SafetyTest)
#include "tst_safety.moc"
