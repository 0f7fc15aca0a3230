#include "support/controls.h"

#include "ui/columns.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QtTest>

Controls::Controls(MainWindow &w)
    : window(w)
    , table(w.findChild<QTableWidget *>("tableWidget"))
    , search(w.findChild<QPushButton *>("SearchButton"))
    , flash(w.findChild<QPushButton *>("FlashButton"))
    , firmware(w.findChild<QPushButton *>("FramewareButton"))
    , path(w.findChild<QLineEdit *>("fileNameLine"))
    , status(w.findChild<QLabel *>("StatusLabel"))
{}

QString Controls::text(int row, int column) const
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

Qt::CheckState Controls::check(int row) const
{
    return table->item(row, CheckColumn)->checkState();
}

int Controls::selectAllRow() const
{
    return table->rowCount() - 1;
}

void Controls::tick(int row, Qt::CheckState state)
{
    table->item(row, CheckColumn)->setCheckState(state);
}

void Controls::clickTickBox(int row)
{
    const QRect cell = table->visualItemRect(table->item(row, CheckColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

void Controls::fill(const std::vector<DeviceRecord> &records)
{
    DeviceList.clear();
    for (const DeviceRecord &r : records)
        DeviceList.append(r);
    QVERIFY(QMetaObject::invokeMethod(&window, "UpdatingTable", Qt::DirectConnection));
}
