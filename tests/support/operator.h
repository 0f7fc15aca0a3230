#pragma once

// The real main window with its controls, on a simulator's line, for tests
// that act as the operator does.

#include "devsim/simulator.h"
#include "ui/mainwindow.h"

#include <QMap>
#include <QStringList>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The window with its controls, on the simulator's line.
struct Operator
{
    explicit Operator(DevSim::Simulator &sim);
    ~Operator();

    QString cell(int row, int column) const;
    void tick(int row);
    // A click on a device's tick box, where the operator's mouse would go.
    void clickTickBox(int row);
    Qt::CheckState box(int row) const;

    std::unique_ptr<MainWindow> window;
    QTableWidget *table = nullptr;
    QPushButton *search = nullptr;
    QPushButton *flash = nullptr;
    QLineEdit *path_ = nullptr;
    QLabel *status = nullptr;
    QMap<int, QStringList> seen;
};
