// The operator's controls: search, firmware file, flash, tick boxes, status line.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "protocol/firmware.h"
#include "ui/texts.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace {
constexpr int StatusColumn = 3;
constexpr int CheckColumn = 4;
} // namespace

void MainWindow::on_SearchButton_clicked()
{
    ui->SearchButton->setEnabled(false);
    emit Notifier.UpdateMainStatus(Searching);
    m_serial.startWork(ui->SerialBox->currentText());
    ui->tableWidget->setRowCount(0);
    DeviceList.clear();
    SearchRequest = 1;
    WorkMode = ModeSearch;
    emit Notifier.CheckReadyToUpdate();
}

void MainWindow::on_FramewareButton_clicked()
{
    ui->fileNameLine->setText(QFileDialog::getOpenFileName());
    emit Notifier.CheckReadyToUpdate();
}

void MainWindow::refuseFirmware(const QString &text)
{
    QMessageBox::critical(nullptr, Texts::errorTitle(), text);
}

void MainWindow::on_FlashButton_clicked()
{
    // A pass is pending or running: it keeps its file, and no second pass queues up.
    if (FlashRequest == 1 || WorkMode == ModeUpdate)
        return;

    qint32 reference = TypeUnknown;
    for (const DeviceRecord &record : DeviceList.snapshot()) {
        if (record.selected != 1 || record.devType == reference)
            continue;
        if (reference == TypeUnknown) {
            reference = record.devType;
            continue;
        }
        QMessageBox::critical(nullptr, Texts::errorTitle(), Texts::mixedTypes());
        return;
    }

    auto file = std::make_shared<QFile>(ui->fileNameLine->text());
    FirmwareFile.set(file);
    if (!file->exists())
        return;

    // Refuse what the transfer could not carry to its end: a file that cannot
    // be read, an empty one, one too short to have a first, middle and last
    // part, one with more parts than the part number can count.
    if (!file->open(QIODevice::ReadOnly)) {
        refuseFirmware(Texts::fileUnreadable());
        return;
    }
    const qint64 size = file->size();
    file->close();
    switch (FirmwareTransfer::checkImageSize(size)) {
    case FirmwareTransfer::ImageSize::Empty:
        refuseFirmware(Texts::fileEmpty());
        return;
    case FirmwareTransfer::ImageSize::TooSmall:
        refuseFirmware(Texts::fileTooSmall());
        return;
    case FirmwareTransfer::ImageSize::TooLarge:
        refuseFirmware(Texts::fileTooLarge());
        return;
    case FirmwareTransfer::ImageSize::Fits:
        break;
    }

    ui->SearchButton->setEnabled(false);
    ui->tableWidget->blockSignals(true);
    qDebug("frw choised");
    FirmwareSize = qint32(quint32(size & 0xFFFFFFFF));
    FlashRequest = 1;
    emit Notifier.UpdateMainStatus(Updating);
}

void MainWindow::UpdatingMainStatus(Status status)
{
    ui->StatusLabel->setText(Texts::mainStatus(status));
}

void MainWindow::UnblockingSearchButton()
{
    ui->SearchButton->setEnabled(true);
}

void MainWindow::UnblockingTableSignals()
{
    ui->tableWidget->blockSignals(false);
}

void MainWindow::CheckingReadyToUpdate()
{
    const bool ready
        = !ui->fileNameLine->text().isEmpty() && WorkMode == ModeIdle && !DeviceList.isEmpty();
    ui->FlashButton->setEnabled(ready);
}

void MainWindow::CheckSelectedDev(QTableWidgetItem *item)
{
    QTableWidget *table = ui->tableWidget;
    const int row = item->row();
    if (row + 1 == table->rowCount()) {
        if (item->checkState() == Qt::Checked) {
            ChangeAllCheckBox(Qt::Unchecked);
            return;
        }
        if (item->checkState() == Qt::PartiallyChecked)
            return;
        ChangeAllCheckBox(Qt::PartiallyChecked);
        return;
    }

    const bool ticked = item->checkState() == Qt::Checked;
    DeviceList.setSelected(row, ticked ? 1 : 0);
    table->blockSignals(true);
    if (QTableWidgetItem *status = table->item(row, StatusColumn))
        status->setText(ticked ? Texts::waiting() : QString());
    table->blockSignals(false);
    UpdateCommonButton();
}

void MainWindow::UpdateCommonButton()
{
    // Runs once per tick box that select-all changes: count, do not copy.
    const SharedDeviceList::Selection devices = DeviceList.selection();
    Qt::CheckState state = Qt::PartiallyChecked;
    if (devices.total == 0 || devices.selected == devices.total)
        state = Qt::Checked;
    else if (devices.selected == 0)
        state = Qt::Unchecked;
    QTableWidget *table = ui->tableWidget;
    if (QTableWidgetItem *box = table->item(table->rowCount() - 1, CheckColumn))
        box->setCheckState(state);
}

// The argument is the state the select-all box had before the click.
void MainWindow::ChangeAllCheckBox(Qt::CheckState state)
{
    const int count = DeviceList.size();
    for (int i = 0; i < count; ++i) {
        QTableWidgetItem *box = ui->tableWidget->item(i, CheckColumn);
        if (state == Qt::Unchecked) {
            if (box)
                box->setCheckState(Qt::Checked);
            DeviceList.setSelected(i, 1);
        } else {
            if (box)
                box->setCheckState(Qt::Unchecked);
            DeviceList.setSelected(i, 0);
        }
    }
}
