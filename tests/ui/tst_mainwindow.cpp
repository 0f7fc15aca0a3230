// The main window as the operator first sees it, its start-up wiring and the
// about dialog.

#include "registry/registry.h"
#include "ui/aboutdialog.h"
#include "ui/columns.h"
#include "ui/headerstyle.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"
#include "ui/windowsize.h"

#include "support/modal.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

#include <thread>

namespace {

QStringList layoutOrder(const QLayout *layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            names << item->widget()->objectName();
        else if (item->layout())
            names << item->layout()->objectName();
        else if (item->spacerItem())
            names << QStringLiteral("<spacer>");
    }
    return names;
}

template<typename T>
T *child(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("missing %s", name);
    return found;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formTreeAndTexts();
    void formLayoutsAndSizes();
    void deviceTableColumns();
    void portListDropsNullPortsAndKeepsOrder_data();
    void portListDropsNullPortsAndKeepsOrder();
    void windowListsThePortsItIsGiven();
    void flatHeaderOnlyOnVersionTen_data();
    void flatHeaderOnlyOnVersionTen();
    void iconResourceIsTheRegisteredImage();
    void identityIsSetInOrder();
    void notifierSignalsArriveQueuedFromTheWorkerThread();
    void notifierSignalsOnTheGuiThreadRunAtOnce();
    void aboutDialogShowsNameVersionAndLinks();
    void aboutButtonOpensAFreshModalDialogEachTime();
    void windowCannotBeNarrowerThan460();
    void buttonTextsKeepClearOfTheBorder_data();
    void buttonTextsKeepClearOfTheBorder();
};

void MainWindowTest::initTestCase()
{
    Identity::applyToWindow(*qApp);
}

void MainWindowTest::init()
{
    resetSharedStateForTests();
    setPortNameSource([] { return QStringList{"ttyUSB0", "ttyS0"}; });
}

void MainWindowTest::cleanup()
{
    setPortNameSource(nullptr);
}

void MainWindowTest::formTreeAndTexts()
{
    MainWindow w;
    QCOMPARE(w.objectName(), QString("MainWindow"));
    QCOMPARE(w.windowTitle(), QString("Olvex Updater"));
    QVERIFY(child<QWidget>(&w, "centralWidget"));
    QCOMPARE(w.centralWidget()->objectName(), QString("centralWidget"));
    QCOMPARE(w.statusBar()->objectName(), QString("statusBar"));
    QVERIFY(w.statusBar()->currentMessage().isEmpty());

    QCOMPARE(child<QPushButton>(&w, "SearchButton")->text(), QString("Поиск устройств"));
    QCOMPARE(child<QLabel>(&w, "StatusLabel")->text(), QString("Необходим поиск"));
    QCOMPARE(child<QToolButton>(&w, "AboutButton")->text(), QString("О приложении"));
    QCOMPARE(child<QPushButton>(&w, "FramewareButton")->text(), QString("Выбрать прошивку"));
    auto *flash = child<QPushButton>(&w, "FlashButton");
    QCOMPARE(flash->text(), QString("Прошить выбранные устройства"));
    QVERIFY(!flash->isEnabled());
    QVERIFY(!flash->autoDefault());
    QVERIFY(child<QPushButton>(&w, "SearchButton")->isEnabled());
    QVERIFY(child<QPushButton>(&w, "FramewareButton")->isEnabled());
    auto *path = child<QLineEdit>(&w, "fileNameLine");
    QVERIFY(path->text().isEmpty());
    QVERIFY(!path->isReadOnly());
    QVERIFY(child<QComboBox>(&w, "SerialBox"));
}

void MainWindowTest::formLayoutsAndSizes()
{
    MainWindow w;
    QCOMPARE(w.size(), QSize(460, 417));
    QCOMPARE(w.minimumSize(), QSize(460, 0));
    QCOMPARE(w.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(w.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

    auto *outer = child<QVBoxLayout>(&w, "verticalLayout_3");
    QCOMPARE(outer->parentWidget(), w.centralWidget());
    QCOMPARE(outer->spacing(), 6);
    QCOMPARE(outer->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(layoutOrder(outer),
             (QStringList{"horizontalLayout", "tableWidget", "verticalLayout"}));

    auto *top = child<QHBoxLayout>(&w, "horizontalLayout");
    QCOMPARE(top->spacing(), 6);
    QCOMPARE(layoutOrder(top),
             (QStringList{"SerialBox", "SearchButton", "StatusLabel", "<spacer>", "AboutButton"}));
    QSpacerItem *spacer = top->itemAt(3)->spacerItem();
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    auto *status = child<QLabel>(&w, "StatusLabel");
    QCOMPARE(status->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(status->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);

    auto *bottom = child<QVBoxLayout>(&w, "verticalLayout");
    QCOMPARE(bottom->spacing(), 6);
    QCOMPARE(layoutOrder(bottom), (QStringList{"horizontalLayout_2", "verticalLayout_2"}));
    auto *fileRow = child<QHBoxLayout>(&w, "horizontalLayout_2");
    QCOMPARE(fileRow->spacing(), 6);
    QCOMPARE(layoutOrder(fileRow), (QStringList{"fileNameLine", "FramewareButton"}));
    auto *flashRow = child<QVBoxLayout>(&w, "verticalLayout_2");
    QCOMPARE(flashRow->spacing(), 6);
    QCOMPARE(layoutOrder(flashRow), (QStringList{"FlashButton"}));
}

void MainWindowTest::deviceTableColumns()
{
    MainWindow w;
    auto *table = child<QTableWidget>(&w, "tableWidget");
    QCOMPARE(table->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(table->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(table->sizePolicy().verticalStretch(), 1);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(table->selectionMode(), QAbstractItemView::NoSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!table->isSortingEnabled());
    QVERIFY(!table->verticalHeader()->isVisible());
    QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 20);
    QCOMPARE(table->columnCount(), 5);
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(!table->signalsBlocked());

    const QStringList labels{"MAC-адрес", "Тип устройства", "Версия ПО", "Статус", ""};
    QHeaderView *header = table->horizontalHeader();
    for (int column = AddressColumn; column < ColumnCount; ++column) {
        QCOMPARE(table->horizontalHeaderItem(column)->text(), labels[column]);
        QCOMPARE(header->sectionResizeMode(column),
                 column < CheckColumn ? QHeaderView::Stretch : QHeaderView::Interactive);
    }
    QCOMPARE(header->sectionSize(CheckColumn), 20);
    // The names the code gives the columns are the columns the header shows.
    QCOMPARE(table->horizontalHeaderItem(AddressColumn)->text(), QString("MAC-адрес"));
    QCOMPARE(table->horizontalHeaderItem(TypeColumn)->text(), QString("Тип устройства"));
    QCOMPARE(table->horizontalHeaderItem(VersionColumn)->text(), QString("Версия ПО"));
    QCOMPARE(table->horizontalHeaderItem(StatusColumn)->text(), QString("Статус"));
    QCOMPARE(table->horizontalHeaderItem(CheckColumn)->text(), QString());
    QCOMPARE(int(ColumnCount), 5);

    // Columns 0 to 3 share the width; the tick-box column keeps its 20 pixels.
    w.resize(800, 417);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(header->sectionSize(CheckColumn), 20);
    QVERIFY(qAbs(header->sectionSize(AddressColumn) - header->sectionSize(StatusColumn)) <= 1);
    QVERIFY(header->sectionSize(AddressColumn) > 100);
}

void MainWindowTest::portListDropsNullPortsAndKeepsOrder_data()
{
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("none") << QStringList{} << QStringList{};
    QTest::newRow("order kept, duplicates kept")
        << QStringList{"ttyUSB1", "ttyS0", "ttyUSB0", "ttyUSB1"}
        << QStringList{"ttyUSB1", "ttyS0", "ttyUSB0", "ttyUSB1"};
    QTest::newRow("NULL_ ports dropped")
        << QStringList{"NULL_1", "ttyUSB0", "NULL_", "NULL_COM7"} << QStringList{"ttyUSB0"};
    QTest::newRow("case and length matter")
        << QStringList{"null_1", "Null_2", "NULL", "NUL", "NULL1", "N"}
        << QStringList{"null_1", "Null_2", "NULL", "NUL", "NULL1", "N"};
    QTest::newRow("only NULL_ ports") << QStringList{"NULL_A", "NULL_B"} << QStringList{};
}

void MainWindowTest::portListDropsNullPortsAndKeepsOrder()
{
    QFETCH(QStringList, system);
    QFETCH(QStringList, listed);
    QCOMPARE(listedPortNames(system), listed);
}

void MainWindowTest::windowListsThePortsItIsGiven()
{
    setPortNameSource([] { return QStringList{"ttyUSB3", "NULL_x", "ttyACM0"}; });
    MainWindow w;
    auto *box = child<QComboBox>(&w, "SerialBox");
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), QString("ttyUSB3"));
    QCOMPARE(box->itemText(1), QString("ttyACM0"));
    QCOMPARE(box->currentIndex(), 0);
    QVERIFY(box->itemIcon(0).isNull());
    QVERIFY(!box->itemData(0).isValid());

    setPortNameSource([] { return QStringList{}; });
    MainWindow empty;
    QCOMPARE(child<QComboBox>(&empty, "SerialBox")->count(), 0);
    QCOMPARE(child<QComboBox>(&empty, "SerialBox")->currentText(), QString());
}

void MainWindowTest::flatHeaderOnlyOnVersionTen_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("flat");
    QTest::newRow("10") << "10" << true;
    QTest::newRow("10.0") << "10.0" << false;
    QTest::newRow("100") << "100" << false;
    QTest::newRow(" 10") << " 10" << false;
    QTest::newRow("11") << "11" << false;
    QTest::newRow("12 (Debian)") << "12" << false;
    QTest::newRow("empty") << "" << false;
}

void MainWindowTest::flatHeaderOnlyOnVersionTen()
{
    QFETCH(QString, version);
    QFETCH(bool, flat);
    QCOMPARE(usesFlatHeaderStyle(version), flat);
    // The window here follows the machine's own version.
    MainWindow w;
    QCOMPARE(w.styleSheet().isEmpty(), !usesFlatHeaderStyle(QSysInfo::productVersion()));
    if (usesFlatHeaderStyle(QSysInfo::productVersion()))
        QVERIFY(w.styleSheet().startsWith("QHeaderView::section{border-top:0px solid #D8D8D8;"));
}

void MainWindowTest::iconResourceIsTheRegisteredImage()
{
    const QImage image(Identity::iconPath());
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(35, 32));
    QVERIFY(image.hasAlphaChannel());
    const QIcon icon = Identity::icon();
    QCOMPARE(icon.availableSizes(), (QList<QSize>{QSize(32, 32)}));
}

void MainWindowTest::identityIsSetInOrder()
{
    QCOMPARE(QCoreApplication::applicationName(), QString("Olvex Updater"));
    QCOMPARE(QCoreApplication::organizationName(), QString("Ruvo"));
    QVERIFY(QCoreApplication::organizationDomain().startsWith("https://"));
    QVERIFY(QCoreApplication::organizationDomain().endsWith(".example"));
    QCOMPARE(QCoreApplication::applicationVersion(), QString("v1.0.0"));

    // The desktop file name is the basename of the one menu entry the
    // package installs, and the entry's icon goes by the same name.
    const QDir packaging(QStringLiteral(OLVEX_PACKAGING_DIR));
    const QStringList entries = packaging.entryList({"*.desktop"}, QDir::Files);
    QCOMPARE(entries, QStringList{QGuiApplication::desktopFileName() + ".desktop"});
    QSettings entry(packaging.filePath(entries.first()), QSettings::IniFormat);
    QCOMPARE(entry.value("Desktop Entry/Icon").toString(), QGuiApplication::desktopFileName());
}

void MainWindowTest::notifierSignalsArriveQueuedFromTheWorkerThread()
{
    MainWindow w;
    connectNotifier(&w);
    auto *label = child<QLabel>(&w, "StatusLabel");
    auto *search = child<QPushButton>(&w, "SearchButton");
    auto *flash = child<QPushButton>(&w, "FlashButton");
    auto *table = child<QTableWidget>(&w, "tableWidget");
    auto *path = child<QLineEdit>(&w, "fileNameLine");

    // From another thread each signal is queued: nothing has changed when the
    // emitting code moves on, and the slot runs later on the GUI thread.
    auto emitFromWorker = [](auto emitter) {
        std::thread(emitter).join();
    };

    emitFromWorker([] { emit Notifier.UpdateMainStatus(SelectDevices); });
    QCOMPARE(label->text(), QString("Необходим поиск"));
    QTRY_COMPARE(label->text(), QString("Выберите устройство(а)"));

    DeviceList.append(DeviceRecord{});
    emitFromWorker([] { emit Notifier.UpdateTable(); });
    QCOMPARE(table->rowCount(), 0);
    QTRY_COMPARE(table->rowCount(), 2);

    search->setEnabled(false);
    emitFromWorker([] { emit Notifier.UnblockSearchButton(); });
    QVERIFY(!search->isEnabled());
    QTRY_VERIFY(search->isEnabled());

    path->setText("/tmp/image.bin");
    emitFromWorker([] { emit Notifier.CheckReadyToUpdate(); });
    QVERIFY(!flash->isEnabled());
    QTRY_VERIFY(flash->isEnabled());

    table->blockSignals(true);
    emitFromWorker([] { emit Notifier.UnblockTableSignals(); });
    QVERIFY(table->signalsBlocked());
    QTRY_VERIFY(!table->signalsBlocked());

    DeviceList.setOutcome(0, FlashFailed);
    emitFromWorker([] { emit Notifier.UpdateDevStatus(); });
    QCOMPARE(table->item(0, StatusColumn)->text(), QString());
    QTRY_COMPARE(table->item(0, StatusColumn)->text(), QString("Ошибка"));
}

void MainWindowTest::notifierSignalsOnTheGuiThreadRunAtOnce()
{
    MainWindow w;
    connectNotifier(&w);
    emit Notifier.UpdateMainStatus(Updating);
    QCOMPARE(child<QLabel>(&w, "StatusLabel")->text(), QString("Идет обновление"));
    child<QPushButton>(&w, "SearchButton")->setEnabled(false);
    emit Notifier.UnblockSearchButton();
    QVERIFY(child<QPushButton>(&w, "SearchButton")->isEnabled());
}

void MainWindowTest::aboutDialogShowsNameVersionAndLinks()
{
    AboutDialog dialog;
    QCOMPARE(dialog.objectName(), QString("AboutDialog"));
    QCOMPARE(dialog.windowTitle(), QString("О приложении"));
    QCOMPARE(dialog.size(), QSize(390, 150));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog.layout(), nullptr);

    auto *name = child<QLabel>(&dialog, "label_2");
    QCOMPARE(name->text(), QString("Olvex Updater"));
    QVERIFY(name->font().bold());
    QCOMPARE(name->font().pointSize(), 12);
    QCOMPARE(child<QLabel>(&dialog, "app_version")->text(), QString("Program version:\nv1.0.0"));
    QCOMPARE(child<QLabel>(&dialog, "app_version")->font().pointSize(), 11);

    for (const char *linkLabel : {"label_5", "label_4"}) {
        auto *label = child<QLabel>(&dialog, linkLabel);
        QVERIFY(label->openExternalLinks());
        QVERIFY(label->wordWrap());
        QCOMPARE(label->textInteractionFlags(),
                 Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse
                     | Qt::LinksAccessibleByKeyboard);
    }
    QVERIFY(
        child<QLabel>(&dialog, "label_5")->text().contains("href=\"https://shop.ruvo.example\""));
    QVERIFY(
        child<QLabel>(&dialog, "label_4")->text().contains("href=\"mailto:support@ruvo.example\""));
    QVERIFY(!child<QLabel>(&dialog, "label_6")->text().isEmpty());
    auto *buttons = child<QDialogButtonBox>(&dialog, "buttonBox");
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok);
    QCOMPARE(child<QWidget>(&dialog, "horizontalLayoutWidget")->geometry(), QRect(10, 20, 371, 81));
    QCOMPARE(child<QWidget>(&dialog, "horizontalLayoutWidget_2")->geometry(),
             QRect(10, 110, 371, 31));

    // OK closes it as accepted.
    QTimer::singleShot(0, buttons, [buttons] { buttons->button(QDialogButtonBox::Ok)->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void MainWindowTest::aboutButtonOpensAFreshModalDialogEachTime()
{
    MainWindow w;
    QStringList versions;
    QList<QObject *> parents;
    for (int i = 0; i < 2; ++i) {
        ModalWatcher watcher([&](QWidget *modal) {
            versions << modal->findChild<QLabel *>("app_version")->text();
            parents << modal->parent();
            // Whatever the first opening changed must not show in the second.
            modal->findChild<QLabel *>("app_version")->setText("changed");
        });
        QTest::mouseClick(child<QToolButton>(&w, "AboutButton"), Qt::LeftButton);
        QCOMPARE(watcher.seen(), 1);
        QCOMPARE(watcher.lastTitle(), QString("О приложении"));
    }
    QCOMPARE(versions, (QStringList{"Program version:\nv1.0.0", "Program version:\nv1.0.0"}));
    QCOMPARE(parents, (QList<QObject *>{nullptr, nullptr}));
    QVERIFY(w.findChildren<AboutDialog *>().isEmpty());
}

void MainWindowTest::windowCannotBeNarrowerThan460()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(300, 417);
    QTRY_VERIFY(w.width() >= 460);
}

void MainWindowTest::buttonTextsKeepClearOfTheBorder_data()
{
    QTest::addColumn<QString>("style");
    QTest::newRow("Windows") << "Windows"; // what the Windows look is built on
    QTest::newRow("Fusion") << "Fusion";   // the Linux look, unchanged
}

void MainWindowTest::buttonTextsKeepClearOfTheBorder()
{
    QFETCH(QString, style);
    const QString before = qApp->style()->objectName();
    QApplication::setStyle(style);
    {
        MainWindow w;
        w.resize(openingSize(&w));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *about = child<QToolButton>(&w, "AboutButton");
        const int aboutRoom
            = about->width() - about->fontMetrics().horizontalAdvance(about->text());
        for (const char *name : {"SearchButton", "FramewareButton"}) {
            auto *button = child<QPushButton>(&w, name);
            const int room
                = button->width() - button->fontMetrics().horizontalAdvance(button->text());
            if (style == "Windows") // as much room as the tool button beside it
                QVERIFY2(room >= aboutRoom - 1, qPrintable(QString("%1: %2").arg(name).arg(room)));
            else // the style's own width, as the form has it
                QCOMPARE(button->width(), button->sizeHint().width());
            QCOMPARE(button->minimumWidth() > 0, style == "Windows");
        }
    }
    QApplication::setStyle(before);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
