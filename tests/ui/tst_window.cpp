// The window as a technician meets it beyond its form: the toolkit's own
// dialogs in Russian, the whole window on a small screen, the device table
// from the keyboard. The screen is small on purpose: the offscreen
// platform's 800 x 600 pixels at a scale factor of 1.5 leave 533 x 400.

#include "registry/registry.h"
#include "ui/columns.h"
#include "ui/portlist.h"
#include "ui/startup.h"
#include "ui/texts.h"

#include "support/controls.h"
#include "support/fixtures.h"
#include "support/modal.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QToolTip>
#include <QtTest>

namespace {

DeviceRecord tally8(int n, qint32 type = TypeTally8)
{
    return deviceRecord(deviceId(0x00, 0x1A, 0x2B, 0x3C, 0x4D, quint8(n), 0x00, 0x01), type, 2, 7);
}

QStringList buttonTexts(const QWidget *dialog)
{
    QStringList texts;
    for (const QAbstractButton *button : dialog->findChild<QDialogButtonBox *>()->buttons())
        texts << button->text();
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

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
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
    setPortNameSource([] { return QStringList{QStringLiteral("ttyUSB0")}; });
}

void WindowTest::init()
{
    resetSharedStateForTests();
}

void WindowTest::toolkitDialogsSpeakRussian()
{
    MainWindow w;
    connectNotifier(&w);
    Controls ui(w);
    QStringList dialog;
    {
        ModalWatcher watcher([&dialog](QWidget *modal) {
            dialog = buttonTexts(modal)
                     << modal->findChild<QComboBox *>("fileTypeCombo")->currentText();
        });
        QTest::mouseClick(ui.firmware, Qt::LeftButton);
    }
    QCOMPARE(dialog, (QStringList{"&Открыть", "Отмена", "Все файлы (*)"}));
    const std::unique_ptr<QMenu> menu(ui.path->createStandardContextMenu());
    QCOMPARE(menu->actions().first()->text().section('\t', 0, 0), QString("&Отменить действие"));
    QCOMPARE(menu->actions().last()->text().section('\t', 0, 0), QString("Выделить всё"));

    // A message box of the window's: its standard button as the toolkit's
    // Russian has it (which keeps "OK"), its own texts as they were.
    ui.fill({tally8(1), tally8(2, TypeProbe)});
    ui.table->item(ui.selectAllRow(), CheckColumn)->setCheckState(Qt::Checked);
    ui.path->setText("fw.bin"); // mixed types are refused before the file is looked at
    emit Notifier.CheckReadyToUpdate();
    QStringList box;
    ModalWatcher watcher([&box](QWidget *modal) { box = buttonTexts(modal); });
    QTest::mouseClick(ui.flash, Qt::LeftButton);
    QCOMPARE(box, QStringList{"OK"});
    QCOMPARE(watcher.lastTitle() + ": " + watcher.lastText(),
             QString("Ошибка: Выбраны устройства разного типа"));
    QCOMPARE(ui.search->text(), QString("Поиск устройств"));
}

void WindowTest::wholeWindowOnASmallScreen()
{
    MainWindow w;
    Controls ui(w);
    presentMainWindow(&w, Identity::icon());
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect screen = w.screen()->availableGeometry();
    QVERIFY(screen.contains(w.frameGeometry()));
    for (const QWidget *control : w.centralWidget()->findChildren<QWidget *>()) {
        const QRect place(control->mapToGlobal(QPoint()), control->size());
        QVERIFY2(!control->isVisible() || screen.contains(place),
                 qPrintable(control->objectName()));
    }
    const QHeaderView *header = ui.table->horizontalHeader();
    QVERIFY(header->sectionViewportPosition(CheckColumn) + header->sectionSize(CheckColumn)
            <= ui.table->viewport()->width());

    // At its minimum size every status text and every address is readable,
    // or shortened with the whole of it in a tooltip.
    ui.fill({tally8(0x5A), tally8(0x5B), tally8(0x5C)});
    w.resize(w.minimumSize());
    QTRY_COMPARE(w.size(), w.minimumSize());
    for (int status = PortBusy; status <= UpdateFinished; ++status) {
        const QString text = Texts::mainStatus(status);
        emit Notifier.UpdateMainStatus(Status(status));
        const int width = ui.status->contentsRect().width();
        QCOMPARE(shownOrTold(ui.status, text, width, ui.status->rect().center()), text);
    }
    for (int row = 0; row < ui.selectAllRow(); ++row) {
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
    ui.fill({tally8(1), tally8(2)});
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

    // Space on any cell of the row changes the same.
    ui.table->setFocus(Qt::TabFocusReason);
    for (int column = AddressColumn; column < ColumnCount; ++column) {
        changes.clear();
        ui.table->setCurrentCell(1, column);
        QTest::keyClick(ui.table, Qt::Key_Space);
        QCOMPARE(changes, byClick);
        QCOMPARE(selectedFlags(), (QList<qint32>{0, column % 2 == 0 ? 1 : 0}));
    }
    QCOMPARE(ui.text(1, StatusColumn), QString("Ожидание"));
    // The select-all row from one of its text cells.
    ui.table->setCurrentCell(ui.selectAllRow(), VersionColumn);
    QTest::keyClick(ui.table, Qt::Key_Space);
    QCOMPARE(selectedFlags(), (QList<qint32>{1, 1}));

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
