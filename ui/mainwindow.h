#pragma once

// The main window: its form and its slots. Construction is in mainwindow.cpp,
// the device table in devicetable.cpp, the operator's controls in controls.cpp.

#include "registry/registry.h"
#include "serial/serialthread.h"
#include "ui/taskbarprogress.h"

#include <QMainWindow>

class QCloseEvent;
class QTableWidgetItem;

namespace Ui {
class MainWindow;
}

// The only top-level window: port list, search, device table with tick boxes,
// firmware file and flash button, main status line.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void on_SearchButton_clicked();
    void on_FramewareButton_clicked();
    void on_FlashButton_clicked();
    void UpdatingTable();
    void UpdatingMainStatus(Status status);
    void UpdatingDevStatus();
    void UnblockingSearchButton();
    void UnblockingTableSignals();
    void CheckingReadyToUpdate();
    void CheckSelectedDev(QTableWidgetItem *item);
    void UpdateCommonButton();
    void on_AboutButton_clicked();
    void ChangeAllCheckBox(Qt::CheckState state);

protected:
    // Closing during an update asks first; stopping it gives the device being
    // written up with the frame that tells it so.
    void closeEvent(QCloseEvent *event) override;

private:
    void refuseFirmware(const QString &text);
    void showOutcome(int row, const DeviceRecord &record);
    void freezeTickBoxes(bool frozen);
    void followTurn(int row);
    void showBatchProgress(const std::vector<DeviceRecord> &devices);

    Ui::MainWindow *ui;
    SerialThread m_serial;
    bool m_askingToClose = false;
    // From the accepted flash press until the worker releases the table at
    // the end of the pass, however it ended (done, lost port, port that could
    // not be opened). WorkMode is no guide here: it keeps its value after a
    // port failure.
    bool m_updateRunning = false;
    // The row whose device the pass was writing when the table last brought
    // it into view; -1 before the pass's first device.
    int m_turnRow = -1;
    TaskbarProgress m_taskbar{this};
};
