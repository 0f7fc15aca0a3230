// The device table and the operator's controls, driven through the real main
// window: fills, tick boxes and select-all, the type check, the flash button's
// readiness and refusals, status texts and per-device progress.

#include "registry/registry.h"
#include "ui/columns.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include "support/controls.h"
#include "support/fixtures.h"
#include "support/modal.h"
#include "support/nonregularfiles.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

const DeviceId Id1 = deviceId(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70);
const DeviceId Id2 = deviceId(0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01, 0x02);
const DeviceId Id3 = deviceId(0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80);

void call(MainWindow &w, const char *slot)
{
    QVERIFY2(QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection), slot);
}

void setStatus(MainWindow &w, int status)
{
    QVERIFY(QMetaObject::invokeMethod(
        &w, "UpdatingMainStatus", Qt::DirectConnection, Q_ARG(Status, Status(status))));
}

} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tableShowsEachDevice();
    void emptyListGivesOnlyTheSelectAllRow();
    void refillIsIdenticalAndKeepsTicks();
    void tickingDevicesDrivesTheSelectAllBox();
    void selectAllTicksAndUnticksEveryDevice();
    void selectAllOnAnEmptyListChangesOnlyItself();
    void mainStatusTexts_data();
    void mainStatusTexts();
    void flashReadiness();
    void typeCheck_data();
    void typeCheck();
    void untransferableFilesAreRefused_data();
    void untransferableFilesAreRefused();
    void pathNamingNoFileIsIgnoredSilently();
    void flashPressDuringAPendingUpdateIsIgnored();
    void fileDialogSetsOrClearsThePath();
    void searchWithNoPortReportsIt();
    void progressTextsOfOneDevice();
    void outcomesShowOnTheirOwnRows();
    void emptyImageProgressDoesNotDivideByZero();

private:
    QTemporaryDir m_dir;
};

void ControlsTest::initTestCase()
{
    Identity::apply(*qApp);
    // The toolkit's own file dialog, which a test can fill in, whatever
    // platform dialog the machine would otherwise offer.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void ControlsTest::init()
{
    resetSharedStateForTests();
    setPortNameSource([] { return QStringList{}; });
}

void ControlsTest::cleanup()
{
    setPortNameSource(nullptr);
    resetSharedStateForTests();
}

void ControlsTest::tableShowsEachDevice()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 0x85, 3),
             deviceRecord(Id2, 50, 0x80, 0),
             deviceRecord(Id3, 60, 0, 7),
             deviceRecord(deviceId(1, 2, 3, 4, 5, 6, 7, 8), 200, 0, 0),
             deviceRecord(deviceId(9, 9, 9, 9, 9, 9, 9, 9), 0, 1, 10),
             deviceRecord(deviceId(8, 8, 8, 8, 8, 8, 8, 8), 1, 5, 3),
             deviceRecord(deviceId(7, 7, 7, 7, 7, 7, 7, 7), -1, 127, 255)});
    QCOMPARE(ui.table->rowCount(), 8);
    const QStringList addresses{"00:1a:2b:3c:4d:5e",
                                "aa:bb:cc:dd:ee:ff",
                                "10:20:30:40:50:60",
                                "01:02:03:04:05:06",
                                "09:09:09:09:09:09",
                                "08:08:08:08:08:08",
                                "07:07:07:07:07:07"};
    const QStringList types{"VT-PROBE",
                            "VT-TALLY-8",
                            "VT-TALLY-16",
                            "VT-RELAY",
                            "Неизвестно",
                            "Неизвестно",
                            "Неизвестно"};
    const QStringList versions{
        "5.3(Загрузчик)", "0.0(Загрузчик)", "0.7", "Неизвестно", "1.10", "5.3", "127.255"};
    for (int row = 0; row < 7; ++row) {
        QCOMPARE(ui.text(row, AddressColumn), addresses[row]);
        QCOMPARE(ui.text(row, TypeColumn), types[row]);
        QCOMPARE(ui.text(row, VersionColumn), versions[row]);
        QCOMPARE(ui.text(row, StatusColumn), QString());
        QCOMPARE(ui.check(row), Qt::Unchecked);
        QVERIFY(ui.table->item(row, CheckColumn)->flags() & Qt::ItemIsUserCheckable);
        QCOMPARE(ui.table->item(row, CheckColumn)->textAlignment(), int(Qt::AlignCenter));
        QCOMPARE(ui.table->columnSpan(row, AddressColumn), 1);
    }
    const int last = ui.selectAllRow();
    QCOMPARE(ui.text(last, AddressColumn), QString("Найдено устройств: 7"));
    QCOMPARE(ui.table->item(last, AddressColumn)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(ui.table->columnSpan(last, AddressColumn), 2);
    QCOMPARE(ui.text(last, VersionColumn), QString("Выбрать все устройства:"));
    QCOMPARE(ui.table->item(last, VersionColumn)->textAlignment(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(ui.table->columnSpan(last, VersionColumn), 2);
    QCOMPARE(ui.check(last), Qt::Unchecked);
    QVERIFY(!ui.table->signalsBlocked());
    // The fill never changes a record.
    QCOMPARE(int(DeviceList.at(0)->verMajor), 0x85);
}

void ControlsTest::emptyListGivesOnlyTheSelectAllRow()
{
    MainWindow w;
    Controls ui(w);
    ui.table->blockSignals(true); // a fill always ends with the signals released
    ui.fill({});
    QCOMPARE(ui.table->rowCount(), 1);
    QCOMPARE(ui.text(0, AddressColumn), QString("Найдено устройств: 0"));
    QCOMPARE(ui.text(0, VersionColumn), QString("Выбрать все устройства:"));
    QCOMPARE(ui.check(0), Qt::Checked);
    QVERIFY(!ui.table->signalsBlocked());
}

void ControlsTest::refillIsIdenticalAndKeepsTicks()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 0x81, 2), deviceRecord(Id2, 10, 3, 4, 1)});
    auto snapshot = [&ui] {
        QStringList cells;
        for (int row = 0; row < ui.table->rowCount(); ++row) {
            for (int column = AddressColumn; column < ColumnCount; ++column)
                cells << ui.text(row, column) + "|" + QString::number(ui.check(row));
        }
        return cells;
    };
    const QStringList first = snapshot();
    call(w, "UpdatingTable");
    QCOMPARE(snapshot(), first);
    QCOMPARE(ui.check(1), Qt::Checked);
    QCOMPARE(ui.text(1, StatusColumn), QString("Ожидание"));
    QCOMPARE(ui.check(2), Qt::PartiallyChecked);
    QCOMPARE(selectedFlags(), (QList<qint32>{0, 1}));
}

void ControlsTest::tickingDevicesDrivesTheSelectAllBox()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10), deviceRecord(Id2, 10), deviceRecord(Id3, 10)});
    QCOMPARE(ui.check(3), Qt::Unchecked);

    ui.tick(1, Qt::Checked);
    QCOMPARE(selectedFlags(), (QList<qint32>{0, 1, 0}));
    QCOMPARE(ui.text(1, StatusColumn), QString("Ожидание"));
    QCOMPARE(ui.check(3), Qt::PartiallyChecked);

    ui.tick(0, Qt::Checked);
    ui.tick(2, Qt::Checked);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 1, 1}));
    QCOMPARE(ui.check(3), Qt::Checked);

    ui.tick(1, Qt::Unchecked);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 0, 1}));
    QCOMPARE(ui.text(1, StatusColumn), QString());
    QCOMPARE(ui.check(3), Qt::PartiallyChecked);

    ui.tick(0, Qt::Unchecked);
    ui.tick(2, Qt::Unchecked);
    QCOMPARE(selectedFlags(), (QList<qint32>{0, 0, 0}));
    QCOMPARE(ui.check(3), Qt::Unchecked);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(ui.text(row, StatusColumn), QString());
}

void ControlsTest::selectAllTicksAndUnticksEveryDevice()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10), deviceRecord(Id2, 10), deviceRecord(Id3, 10)});

    // Unchecked -> checked: every device.
    ui.tick(3, Qt::Checked);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 1, 1}));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(ui.check(row), Qt::Checked);
        QCOMPARE(ui.text(row, StatusColumn), QString("Ожидание"));
    }
    QCOMPARE(ui.check(3), Qt::Checked);

    // Checked -> unchecked: none.
    ui.tick(3, Qt::Unchecked);
    QCOMPARE(selectedFlags(), (QList<qint32>{0, 0, 0}));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(ui.check(row), Qt::Unchecked);
        QCOMPARE(ui.text(row, StatusColumn), QString());
    }
    QCOMPARE(ui.check(3), Qt::Unchecked);

    // Partially checked -> checked: every device.
    ui.tick(2, Qt::Checked);
    QCOMPARE(ui.check(3), Qt::PartiallyChecked);
    ui.tick(3, Qt::Checked);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 1, 1}));
    QCOMPARE(ui.check(3), Qt::Checked);
}

void ControlsTest::selectAllOnAnEmptyListChangesOnlyItself()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({});
    ui.tick(0, Qt::Unchecked);
    QCOMPARE(ui.check(0), Qt::Unchecked);
    QCOMPARE(ui.table->rowCount(), 1);
    ui.tick(0, Qt::Checked);
    QCOMPARE(ui.check(0), Qt::Checked);
    QVERIFY(DeviceList.isEmpty());
}

void ControlsTest::mainStatusTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Порт занят";
    QTest::newRow("1") << 1 << "Порт не выбран";
    QTest::newRow("2") << 2 << "Необходим поиск";
    QTest::newRow("3") << 3 << "Идет поиск";
    QTest::newRow("4") << 4 << "Выберите устройство(а)";
    QTest::newRow("5") << 5 << "Устроства выбраны неверно";
    QTest::newRow("6") << 6 << "Устройства не найдены";
    QTest::newRow("7") << 7 << "Идет обновление";
    QTest::newRow("8") << 8 << "Обновление завершено";
    QTest::newRow("9") << 9 << "";
    QTest::newRow("-1") << -1 << "";
}

void ControlsTest::mainStatusTexts()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    MainWindow w;
    Controls ui(w);
    setStatus(w, status);
    QCOMPARE(ui.status->text(), text);
}

void ControlsTest::flashReadiness()
{
    MainWindow w;
    Controls ui(w);
    auto ready = [&] {
        call(w, "CheckingReadyToUpdate");
        return ui.flash->isEnabled();
    };
    QVERIFY(!ready()); // nothing yet
    ui.path->setText("/some/file.bin");
    QVERIFY(!ready()); // no device
    DeviceList.append(deviceRecord(Id1, 10));
    QVERIFY(ready());
    for (int mode : {ModeSearch, ModeInventory, ModeUpdate}) {
        WorkMode = mode;
        QVERIFY(!ready());
    }
    WorkMode = ModeIdle;
    QVERIFY(ready()); // neither ticks nor the file's existence count here
    ui.path->clear();
    QVERIFY(!ready());
}

void ControlsTest::typeCheck_data()
{
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("one type") << QList<int>{50, 50} << QList<int>{1, 1} << true;
    QTest::newRow("unknown before a known type")
        << QList<int>{0, 0, 60, 60} << QList<int>{1, 1, 1, 1} << true;
    QTest::newRow("unknown after a known type") << QList<int>{60, 0} << QList<int>{1, 1} << false;
    QTest::newRow("two known types") << QList<int>{10, 50} << QList<int>{1, 1} << false;
    QTest::newRow("other type unticked") << QList<int>{10, 50, 10} << QList<int>{1, 0, 1} << true;
    QTest::newRow("only unknown") << QList<int>{0, 0} << QList<int>{1, 1} << true;
    QTest::newRow("none ticked") << QList<int>{10, 50} << QList<int>{0, 0} << true;
}

void ControlsTest::typeCheck()
{
    QFETCH(QList<int>, types);
    QFETCH(QList<int>, ticked);
    QFETCH(bool, accepted);
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    std::vector<DeviceRecord> records;
    for (int i = 0; i < types.size(); ++i)
        records.push_back(
            deviceRecord(deviceId(1, 2, 3, 4, 5, quint8(i), 0, 0), types[i], 1, 0, ticked[i]));
    ui.fill(records);
    ui.path->setText(writeFile(m_dir, "image.bin", firmwareImage(1000)));
    call(w, "CheckingReadyToUpdate");
    QVERIFY(ui.flash->isEnabled());

    ModalWatcher watcher;
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    if (accepted) {
        QCOMPARE(watcher.seen(), 0);
        QCOMPARE(int(FlashRequest), 1);
        QCOMPARE(int(FirmwareSize), 1000);
        QCOMPARE(ui.status->text(), QString("Идет обновление"));
        QVERIFY(!ui.search->isEnabled());
        QVERIFY(ui.table->signalsBlocked());
        QVERIFY(ui.flash->isEnabled()); // until the worker takes the request up
    } else {
        QCOMPARE(watcher.seen(), 1);
        QCOMPARE(watcher.lastTitle(), QString("Ошибка"));
        QCOMPARE(watcher.lastText(), QString("Выбраны устройства разного типа"));
        QCOMPARE(int(FlashRequest), 0);
        QCOMPARE(ui.status->text(), QString("Необходим поиск"));
        QVERIFY(ui.search->isEnabled());
        QVERIFY(!ui.table->signalsBlocked());
    }
    QCOMPARE(selectedFlags(), QList<qint32>(ticked.begin(), ticked.end()));
}

void ControlsTest::untransferableFilesAreRefused_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << qint64(0) << "Файл прошивки пуст";
    QTest::newRow("one part") << qint64(197) << "Файл прошивки слишком мал";
    QTest::newRow("two parts") << qint64(394) << "Файл прошивки слишком мал";
    QTest::newRow("three parts") << qint64(395) << "";
    QTest::newRow("65535 parts") << qint64(65535) * 197 << "";
    QTest::newRow("65536 parts") << qint64(65535) * 197 + 1 << "Файл прошивки слишком велик";
    QTest::newRow("a directory") << qint64(-1) << "Не удалось открыть файл прошивки";
#ifdef Q_OS_UNIX // Windows' pipes and devices name no file for the toolkit: ignored silently
    QTest::newRow("a FIFO") << qint64(-2) << "Не удалось открыть файл прошивки";
#endif
}

void ControlsTest::untransferableFilesAreRefused()
{
    QFETCH(qint64, size);
    QFETCH(QString, text);
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 1, 0, 1)});
    const SilentPipe pipe(m_dir);
    QVERIFY(pipe.ok());
    QString path = m_dir.filePath("subdir");
    if (size >= 0) {
        path = m_dir.filePath(QStringLiteral("image-%1.bin").arg(size));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size)); // sparse: no need to write megabytes
    } else if (size == -1) {
        QVERIFY(QDir(m_dir.path()).mkpath("subdir"));
    } else {
        // Opening a FIFO for reading waits for a writer, which never comes.
        path = pipe.path();
    }
    ui.path->setText(path);
    call(w, "CheckingReadyToUpdate");

    ModalWatcher watcher;
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    if (text.isEmpty()) {
        QCOMPARE(watcher.seen(), 0);
        QCOMPARE(int(FlashRequest), 1);
        QCOMPARE(qint64(quint32(FirmwareSize)), size);
        return;
    }
    QCOMPARE(watcher.seen(), 1);
    QCOMPARE(watcher.lastTitle(), QString("Ошибка"));
    QCOMPARE(watcher.lastText(), text);
    QCOMPARE(int(FlashRequest), 0);
    QCOMPARE(ui.status->text(), QString("Необходим поиск"));
    QVERIFY(ui.search->isEnabled());
    QVERIFY(!ui.table->signalsBlocked());
}

void ControlsTest::pathNamingNoFileIsIgnoredSilently()
{
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 1, 0, 1)});
    ui.path->setText(m_dir.filePath("no-such-file.bin"));
    call(w, "CheckingReadyToUpdate");
    ModalWatcher watcher(nullptr, 300);
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QTest::qWait(350);
    QCOMPARE(watcher.seen(), 0);
    QCOMPARE(int(FlashRequest), 0);
    QVERIFY(ui.search->isEnabled());
    QCOMPARE(ui.status->text(), QString("Необходим поиск"));
    QVERIFY(!FirmwareFile.get());
}

void ControlsTest::flashPressDuringAPendingUpdateIsIgnored()
{
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 1, 0, 1)});
    ui.path->setText(writeFile(m_dir, "first.bin", firmwareImage(1000)));
    call(w, "CheckingReadyToUpdate");
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QCOMPARE(int(FlashRequest), 1);
    const auto pending = FirmwareFile.get();

    // The worker has not taken the request up yet; the button is still enabled.
    ui.path->setText(writeFile(m_dir, "second.bin", firmwareImage(2000)));
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QCOMPARE(FirmwareFile.get(), pending);
    QCOMPARE(int(FirmwareSize), 1000);

    // Nor once the pass runs.
    FlashRequest = 0;
    WorkMode = ModeUpdate;
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QCOMPARE(FirmwareFile.get(), pending);
    QCOMPARE(int(FlashRequest), 0);
}

void ControlsTest::fileDialogSetsOrClearsThePath()
{
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10)});
    const QString image = writeFile(m_dir, "chosen.bin", firmwareImage(600));
    {
        ModalWatcher watcher([&image](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            // Typed into the name field, as an operator would; selectFile()
            // leaves the field alone once it has the focus.
            auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
            QVERIFY(name);
            name->setText(image);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        QTest::mouseClick(ui.firmware, Qt::LeftButton);
        QCOMPARE(watcher.seen(), 1);
    }
    QCOMPARE(ui.path->text(), image);
    QVERIFY(ui.flash->isEnabled());
    {
        ModalWatcher watcher; // cancelled
        QTest::mouseClick(ui.firmware, Qt::LeftButton);
        QCOMPARE(watcher.seen(), 1);
    }
    QCOMPARE(ui.path->text(), QString());
    QVERIFY(!ui.flash->isEnabled());
}

void ControlsTest::searchWithNoPortReportsIt()
{
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10)});
    ui.path->setText("/some/file.bin");
    QTest::mouseClick(ui.search, Qt::LeftButton);
    QVERIFY(!ui.search->isEnabled());
    QCOMPARE(ui.table->rowCount(), 0);
    QVERIFY(DeviceList.isEmpty());
    QCOMPARE(int(WorkMode), int(ModeSearch));
    QVERIFY(!ui.flash->isEnabled());
    QTRY_COMPARE(ui.status->text(), QString("Порт не выбран"));
    QTRY_VERIFY(ui.search->isEnabled());
    QCOMPARE(int(WorkMode), int(ModeSearch));
    QVERIFY(!ui.flash->isEnabled());
}

void ControlsTest::progressTextsOfOneDevice()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 2, 1, 1)});
    ui.table->blockSignals(true); // as the flash button leaves it
    DeviceList.beginPass(6);
    DeviceList.setOutcome(0, FlashRunning);
    const QStringList expected{"Подготовка",
                               "Обновление:33%",
                               "Обновление:50%",
                               "Обновление:66%",
                               "Обновление:83%",
                               "Обновление:100%"};
    for (int part = 1; part <= 6; ++part) {
        DeviceList.setPartsAcked(0, quint16(part - 1)); // the part in hand is the next
        call(w, "UpdatingDevStatus");
        QCOMPARE(ui.text(0, StatusColumn), expected[part - 1]);
        QCOMPARE(ui.text(0, VersionColumn), QString("2.1")); // not taken before the device says so
    }
    DeviceList.setOutcome(0, FlashDone);
    call(w, "UpdatingDevStatus");
    QCOMPARE(ui.text(0, StatusColumn), QString("Обновлено"));
    QCOMPARE(ui.text(0, VersionColumn), QString("Необходимо обновить"));
    QCOMPARE(int(DeviceList.at(0)->verMajor), 0);
    QCOMPARE(int(DeviceList.at(0)->verMinor), 0);
    QCOMPARE(selectedFlags(), (QList<qint32>{1}));
    // A later fill shows the version as unknown.
    call(w, "UpdatingTable");
    QCOMPARE(ui.text(0, VersionColumn), QString("Неизвестно"));
}

void ControlsTest::outcomesShowOnTheirOwnRows()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 1, 0, 1),
             deviceRecord(Id2, 10, 1, 0, 1),
             deviceRecord(Id3, 10, 1, 0, 1)});
    ui.table->blockSignals(true);
    DeviceList.beginPass(6);

    // Device 1 was given up on its first part; device 2 on its last; the worker
    // is already at device 3 when the table gets to draw.
    DeviceList.setOutcome(0, FlashFailed);
    DeviceList.setOutcome(1, FlashFailed);
    DeviceList.setOutcome(2, FlashRunning);
    call(w, "UpdatingDevStatus");
    QCOMPARE(ui.text(0, StatusColumn), QString("Ошибка"));
    QCOMPARE(ui.text(1, StatusColumn), QString("Ошибка"));
    QCOMPARE(ui.text(2, StatusColumn), QString("Подготовка"));
    QCOMPARE(ui.text(1, VersionColumn), QString("1.0"));

    DeviceList.setPartsAcked(2, 6);
    DeviceList.setOutcome(2, FlashDone);
    call(w, "UpdatingDevStatus");
    QCOMPARE(ui.text(2, StatusColumn), QString("Обновлено"));
    QCOMPARE(ui.text(0, StatusColumn), QString("Ошибка"));
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 1, 1}));
}

void ControlsTest::emptyImageProgressDoesNotDivideByZero()
{
    MainWindow w;
    Controls ui(w);
    ui.fill({deviceRecord(Id1, 10, 1, 0, 1)});
    ui.table->blockSignals(true);
    DeviceList.beginPass(0);
    DeviceList.setOutcome(0, FlashRunning);
    DeviceList.setPartsAcked(0, 1);
    call(w, "UpdatingDevStatus");
    QCOMPARE(ui.text(0, StatusColumn), QString("Обновление:0%"));
}

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
