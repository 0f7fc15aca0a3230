// The window as a technician meets it beyond its form: the toolkit's own
// dialogs in Russian, the whole window on a small screen, the device table
// from the keyboard. The screen is small on purpose: the offscreen
// platform's 800 x 600 pixels at a scale factor of 1.5 leave 533 x 400.

#include "registry/registry.h"
#include "ui/columns.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"
#include "ui/texts.h"

#include "support/controls.h"
#include "support/fixtures.h"
#include "support/modal.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

namespace {

DeviceId idOf(int n)
{
    return deviceId(0x00, 0x1A, 0x2B, 0x3C, 0x4D, quint8(n), 0x00, 0x01);
}

void fill(MainWindow &w, const std::vector<DeviceRecord> &records)
{
    DeviceList.clear();
    for (const DeviceRecord &r : records)
        DeviceList.append(r);
    QVERIFY(QMetaObject::invokeMethod(&w, "UpdatingTable", Qt::DirectConnection));
}

QStringList buttonTexts(const QWidget *dialog)
{
    QStringList texts;
    for (const QDialogButtonBox *box : dialog->findChildren<QDialogButtonBox *>()) {
        for (const QAbstractButton *button : box->buttons())
            texts << button->text();
    }
    return texts;
}

// What the widget shows of a text: the whole text when it fits `width`,
// otherwise what its tooltip at `spot` says.
QString shownOrTold(QWidget *widget, const QString &text, int width, QPoint spot)
{
    if (widget->fontMetrics().horizontalAdvance(text) <= width)
        return text;
    QHelpEvent help(QEvent::ToolTip, spot, widget->mapToGlobal(spot));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QStringLiteral("<cut off, no tooltip>");
}

bool onScreen(const QWidget *widget, const QRect &screen)
{
    return screen.contains(QRect(widget->mapToGlobal(QPoint()), widget->size()));
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void toolkitDialogsSpeakRussian();
    void wholeWindowOnASmallScreen();
    void keyboardTicksAnyCellAndLeavesTheTable();
};

void WindowTest::initTestCase()
{
    Identity::applyToWindow(*qApp);
    QVERIFY(installToolkitTranslation(*qApp));
    // The toolkit's own file dialog, as the offscreen platform has no other.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void WindowTest::init()
{
    resetSharedStateForTests();
    setPortNameSource([] { return QStringList{QStringLiteral("ttyUSB0")}; });
}

void WindowTest::cleanup()
{
    setPortNameSource(nullptr);
    resetSharedStateForTests();
}

void WindowTest::toolkitDialogsSpeakRussian()
{
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    QStringList dialogButtons;
    QString filter;
    {
        ModalWatcher watcher([&](QWidget *dialog) {
            dialogButtons = buttonTexts(dialog);
            filter = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentText();
        });
        QTest::mouseClick(ui.firmware, Qt::LeftButton);
        QCOMPARE(watcher.seen(), 1);
    }
    QCOMPARE(dialogButtons, (QStringList{"&Открыть", "Отмена"}));
    QCOMPARE(filter, QString("Все файлы (*)"));

    // The path field's menu.
    QStringList menu;
    const std::unique_ptr<QMenu> standard(ui.path->createStandardContextMenu());
    for (const QAction *action : standard->actions())
        menu << action->text().section('\t', 0, 0);
    menu.removeAll(QString());
    QCOMPARE(menu,
             (QStringList{"&Отменить действие",
                          "&Повторить действие",
                          "&Вырезать",
                          "&Копировать",
                          "В&ставить",
                          "Удалить",
                          "Выделить всё"}));

    // A message box: its standard button as the toolkit's Russian has it (it
    // keeps "OK"); the window's own texts as they were.
    fill(w,
         {deviceRecord(idOf(1), TypeTally8, 2, 7, 1), deviceRecord(idOf(2), TypeProbe, 1, 0, 1)});
    ui.path->setText(
        QStringLiteral("fw.bin")); // the types are refused before the file is looked at
    emit Notifier.CheckReadyToUpdate();
    QStringList boxButtons;
    ModalWatcher watcher([&](QWidget *box) { boxButtons = buttonTexts(box); });
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QCOMPARE(watcher.seen(), 1);
    QCOMPARE(boxButtons, QStringList{"OK"});
    QCOMPARE(watcher.lastTitle(), QString("Ошибка"));
    QCOMPARE(watcher.lastText(), QString("Выбраны устройства разного типа"));
    QCOMPARE(ui.search->text(), QString("Поиск устройств"));
    QCOMPARE(w.findChild<QToolButton *>("AboutButton")->text(), QString("О приложении"));
    QCOMPARE(ui.status->text(), QString("Необходим поиск"));
}

void WindowTest::wholeWindowOnASmallScreen()
{
    MainWindow w;
    Controls ui(w);
    presentMainWindow(&w, Identity::icon());
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect screen = w.screen()->availableGeometry();
    QVERIFY2(screen.contains(w.frameGeometry()),
             qPrintable(QString("%1 x %2 at %3,%4 on a screen of %5 x %6")
                            .arg(w.width())
                            .arg(w.height())
                            .arg(w.x())
                            .arg(w.y())
                            .arg(screen.width())
                            .arg(screen.height())));
    for (const QWidget *control : w.centralWidget()->findChildren<QWidget *>()) {
        if (control->isVisible())
            QVERIFY2(onScreen(control, screen), qPrintable(control->objectName()));
    }
    const QHeaderView *header = ui.table->horizontalHeader();
    QVERIFY(header->sectionViewportPosition(CheckColumn) + header->sectionSize(CheckColumn)
            <= ui.table->viewport()->width());

    // At its minimum size every status text and every address is readable,
    // or shortened with the whole of it in a tooltip.
    std::vector<DeviceRecord> devices;
    for (int n = 0; n < 4; ++n)
        devices.push_back(deviceRecord(idOf(0x5A + n), TypeTally8, 2, n));
    fill(w, devices);
    w.resize(w.minimumSize());
    QTRY_COMPARE(w.size(), w.minimumSize());
    for (int status = PortBusy; status <= UpdateFinished; ++status) {
        const QString text = Texts::mainStatus(status);
        emit Notifier.UpdateMainStatus(Status(status));
        QCOMPARE(
            shownOrTold(
                ui.status, text, ui.status->contentsRect().width(), ui.status->rect().center()),
            text);
    }
    for (int row = 0; row < int(devices.size()); ++row) {
        const QString address = ui.text(row, AddressColumn);
        const QRect cell = ui.table->visualItemRect(ui.table->item(row, AddressColumn));
        QCOMPARE(shownOrTold(ui.table->viewport(), address, cell.width(), cell.center()), address);
    }
}

void WindowTest::keyboardTicksAnyCellAndLeavesTheTable()
{
    MainWindow w;
    Controls ui(w);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    fill(w, {deviceRecord(idOf(1), TypeTally8), deviceRecord(idOf(2), TypeTally8)});
    QList<QTableWidgetItem *> changes;
    connect(ui.table, &QTableWidget::itemChanged, &w, [&changes](QTableWidgetItem *item) {
        changes << item;
    });
    // What a click on row 1's box changes (the box, and the select-all box
    // through the tick rules), as the table announces it.
    ui.clickTickBox(1);
    ui.clickTickBox(1);
    const QList<QTableWidgetItem *> byClick = changes.mid(changes.size() / 2);
    QCOMPARE(byClick.size(), 2);
    QCOMPARE(selectedFlags(), (QList<qint32>{0, 0}));

    // Space on any cell of the row changes the same, and the row shows it.
    ui.table->setFocus(Qt::TabFocusReason);
    for (int column = AddressColumn; column < ColumnCount; ++column) {
        changes.clear();
        ui.table->setCurrentCell(1, column);
        QTest::keyClick(ui.table, Qt::Key_Space);
        QCOMPARE(changes, byClick);
        const bool ticked = column % 2 == 0;
        QCOMPARE(ui.check(1), ticked ? Qt::Checked : Qt::Unchecked);
        QCOMPARE(selectedFlags(), (QList<qint32>{0, ticked ? 1 : 0}));
        QCOMPARE(ui.text(1, StatusColumn), ticked ? QString("Ожидание") : QString());
    }
    // The select-all row from one of its text cells.
    ui.table->setCurrentCell(ui.selectAllRow(), VersionColumn);
    QTest::keyClick(ui.table, Qt::Key_Space);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 1}));
    QCOMPARE(ui.check(ui.selectAllRow()), Qt::Checked);

    // Tab and Shift+Tab leave the table for the controls around it.
    QTest::keyClick(ui.table, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui.path);
    ui.table->setFocus(Qt::TabFocusReason);
    QTest::keyClick(ui.table, Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget()->objectName(), QString("AboutButton"));
}

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
