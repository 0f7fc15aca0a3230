#pragma once

// The real main window's controls, found by their object names, for tests
// that act as the operator does.

#include "ui/mainwindow.h"

#include <QString>

#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The controls of a main window.
struct Controls
{
    explicit Controls(MainWindow &window);

    // A cell's text; "<none>" where the cell holds no item.
    QString text(int row, int column) const;
    Qt::CheckState check(int row) const;
    int selectAllRow() const;
    // What a click on a tick box does: the view sets the new check state.
    void tick(int row, Qt::CheckState state = Qt::Checked);
    // A click on a device's tick box, where the operator's mouse would go.
    void clickTickBox(int row);

    // Puts the records into the device list and fills the table from it, as
    // the notifier's UpdateTable() does.
    void fill(const std::vector<DeviceRecord> &records);

    MainWindow &window;
    QTableWidget *table;
    QPushButton *search;
    QPushButton *flash;
    QPushButton *firmware;
    QLineEdit *path;
    QLabel *status;
};
