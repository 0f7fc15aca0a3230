// The device table: one row per device in list order, then the select-all row.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/columns.h"
#include "ui/texts.h"

#include <QTableWidgetItem>

namespace {

QTableWidgetItem *checkItem(Qt::CheckState state)
{
    auto *item = new QTableWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(state);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

} // namespace

void MainWindow::UpdatingTable()
{
    QTableWidget *table = ui->tableWidget;
    table->blockSignals(true);
    table->setRowCount(1);

    // The worker may append while we fill: work on a copy taken at once.
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    for (const DeviceRecord &record : devices) {
        table->setRowCount(table->rowCount() + 1);
        const int row = table->rowCount() - 2;
        table->setItem(row, AddressColumn, new QTableWidgetItem(Texts::addressText(record.id)));
        table->setItem(row, TypeColumn, new QTableWidgetItem(Texts::typeName(record.devType)));
        table->setItem(row,
                       VersionColumn,
                       new QTableWidgetItem(Texts::versionText(record.verMajor, record.verMinor)));
        table->setItem(row, StatusColumn, new QTableWidgetItem(QString()));
        const bool ticked = record.selected == 1;
        table->setItem(row, CheckColumn, checkItem(ticked ? Qt::Checked : Qt::Unchecked));
        if (ticked)
            table->item(row, StatusColumn)->setText(Texts::waiting());
    }

    const int last = table->rowCount() - 1;
    table->setItem(last, CheckColumn, checkItem(Qt::Unchecked));
    table->setSpan(last, AddressColumn, 1, 2);
    auto *found = new QTableWidgetItem(Texts::foundDevices(int(devices.size())));
    found->setTextAlignment(Qt::AlignCenter);
    table->setItem(last, AddressColumn, found);
    UpdateCommonButton();
    table->setSpan(last, VersionColumn, 1, 2);
    auto *selectAll = new QTableWidgetItem(Texts::selectAll());
    selectAll->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(last, VersionColumn, selectAll);

    table->blockSignals(false);
}

// Writes a settled outcome into a device's row: "Обновлено" only for a device
// that acknowledged its last part, "Ошибка" for one that was given up.
void MainWindow::showOutcome(int row, const DeviceRecord &record)
{
    QTableWidget *table = ui->tableWidget;
    QTableWidgetItem *status = table->item(row, StatusColumn);
    if (!status)
        return;
    if (record.outcome == FlashDone) {
        status->setText(Texts::updated());
        if (record.verMajor != 0 || record.verMinor != 0)
            DeviceList.setVersion(row, 0, 0);
        if (QTableWidgetItem *version = table->item(row, VersionColumn))
            version->setText(Texts::versionAfterUpdate());
    } else if (record.outcome == FlashFailed) {
        status->setText(Texts::failed());
    }
}

void MainWindow::UpdatingDevStatus()
{
    QTableWidget *table = ui->tableWidget;
    // Text written here must never reach CheckSelectedDev as a tick-box change;
    // the flash button blocks the table for the update, and this holds even
    // where a late status update arrives after the table was released.
    const QSignalBlocker blocker(table);
    const int deviceRows = table->rowCount() - 1;
    // The worker may be several frames, or a device, further on by now: each
    // row shows its device's record as it stands. A device whose transfer has
    // ended shows how it ended, the one being written its progress.
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    const int rows = qMin(deviceRows, int(devices.size()));
    for (int row = 0; row < rows; ++row) {
        const DeviceRecord &record = devices[size_t(row)];
        if (record.outcome == FlashDone || record.outcome == FlashFailed) {
            showOutcome(row, record);
        } else if (record.outcome == FlashRunning) {
            QTableWidgetItem *status = table->item(row, StatusColumn);
            if (!status)
                continue;
            // The part in hand is the one after the last acknowledged.
            if (record.partsAcked == 0)
                status->setText(Texts::preparing());
            else
                status->setText(Texts::progress(record.partsAcked + 1, record.partsTotal));
            followTurn(row);
        }
    }
    showBatchProgress(devices);
}

// When a device's turn begins its row is brought into view, however far down
// the list it is; between turns the table stays where the operator put it.
void MainWindow::followTurn(int row)
{
    if (row == m_turnRow)
        return;
    m_turnRow = row;
    if (QTableWidgetItem *status = ui->tableWidget->item(row, StatusColumn))
        ui->tableWidget->scrollToItem(status);
}

// The whole batch on the taskbar: the parts the devices of the pass have
// acknowledged, a device whose turn is over counted whole.
void MainWindow::showBatchProgress(const std::vector<DeviceRecord> &devices)
{
    qint64 done = 0;
    qint64 total = 0;
    bool failed = false;
    for (const DeviceRecord &record : devices) {
        if (record.partsTotal == 0)
            continue;
        const bool over = record.outcome == FlashDone || record.outcome == FlashFailed;
        total += record.partsTotal;
        done += over ? record.partsTotal : record.partsAcked;
        failed = failed || record.outcome == FlashFailed;
    }
    m_taskbar.show(done, total, failed);
}
