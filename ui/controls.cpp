// The operator's controls: search, firmware file, flash, tick boxes, status line.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "protocol/image.h"
#include "protocol/typerule.h"
#include "serial/jobs.h"
#include "ui/columns.h"
#include "ui/texts.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::on_SearchButton_clicked()
{
    ui->SearchButton->setEnabled(false);
    emit Notifier.UpdateMainStatus(Searching);
    ui->tableWidget->setRowCount(0);
    LineJobs::startSearch(m_serial, ui->SerialBox->currentText());
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

    if (TypeRule::findConflict(DeviceList.snapshot())) {
        QMessageBox::critical(nullptr, Texts::errorTitle(), Texts::mixedTypes());
        return;
    }

    // The image is read here, once: every device of the pass gets the bytes
    // that were in the file at this press. Refused is what the transfer could
    // not carry to its end: anything but a regular file that can be read, an
    // empty file, one too short to have a first, middle and last part, one
    // with more parts than the part number can count; and an image whose
    // signature beside it refuses it or names another device type.
    const ImageFile::Loaded loaded = ImageFile::load(ui->fileNameLine->text());
    switch (loaded.problem) {
    case ImageFile::Problem::Missing:
        return; // a path that names no file is ignored
    case ImageFile::Problem::Unreadable:
        refuseFirmware(Texts::fileUnreadable());
        return;
    case ImageFile::Problem::Empty:
        refuseFirmware(Texts::fileEmpty());
        return;
    case ImageFile::Problem::TooSmall:
        refuseFirmware(Texts::fileTooSmall());
        return;
    case ImageFile::Problem::TooLarge:
        refuseFirmware(Texts::fileTooLarge());
        return;
    case ImageFile::Problem::Signature:
        refuseFirmware(Texts::signatureRefused(loaded.signature, loaded.keyProblems));
        return;
    case ImageFile::Problem::None:
        break;
    }
    // A signed image goes only into devices of the type it is signed for.
    const qint32 signedType = loaded.signature.facts.type;
    if (loaded.signature.state == ImageSignature::State::Signed && signedType != TypeUnknown) {
        for (const DeviceRecord &record : DeviceList.snapshot()) {
            if (record.selected == 1 && record.devType != signedType) {
                refuseFirmware(Texts::signedForAnotherType(signedType, record.devType));
                return;
            }
        }
    }

    ui->SearchButton->setEnabled(false);
    freezeTickBoxes(true);
    ui->tableWidget->blockSignals(true);
    m_updateRunning = true;
    m_turnRow = -1;
    qDebug("frw choised");
    LineJobs::requestPass(loaded.image);
    emit Notifier.UpdateMainStatus(Updating);
}

// While a pass runs the tick boxes cannot be changed, and when it ends each
// shows exactly its device's selection: what is ticked on screen is always
// what a press of the flash button writes.
void MainWindow::freezeTickBoxes(bool frozen)
{
    QTableWidget *table = ui->tableWidget;
    const QSignalBlocker blocker(table);
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    const Qt::ItemFlags editable = Qt::ItemIsUserCheckable | Qt::ItemIsEnabled;
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem *box = table->item(row, CheckColumn);
        if (!box)
            continue;
        box->setFlags(frozen ? box->flags() & ~editable : box->flags() | editable);
        if (!frozen && row < int(devices.size()))
            box->setCheckState(devices[size_t(row)].selected == 1 ? Qt::Checked : Qt::Unchecked);
    }
    if (!frozen)
        UpdateCommonButton();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A second close while the question is open (the toolkit lets it come)
    // waits for the answer to the first.
    if (m_askingToClose) {
        event->ignore();
        return;
    }
    if (!m_updateRunning) {
        event->accept();
        return;
    }
    QMessageBox box(QMessageBox::Question,
                    Texts::closeTitle(),
                    Texts::closeDuringUpdate(),
                    QMessageBox::NoButton,
                    this);
    QPushButton *stop = box.addButton(Texts::yes(), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(Texts::no(), QMessageBox::NoRole));
    m_askingToClose = true;
    box.exec();
    m_askingToClose = false;
    // On yes the window goes, and with it the worker, which first gives up
    // the device it is writing.
    if (box.clickedButton() == stop)
        event->accept();
    else
        event->ignore();
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
    m_updateRunning = false;
    m_taskbar.clear();
    freezeTickBoxes(false);
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
