#pragma once

// The real main window with its controls, for tests that act as the operator
// does: the controls found by their object names, and a window of its own on
// a simulator's line.

#include "devsim/simulator.h"
#include "ui/mainwindow.h"

#include <QMap>
#include <QStringList>

#include <memory>

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

    QTableWidget *table;
    QPushButton *search;
    QPushButton *flash;
    QPushButton *firmware;
    QLineEdit *path;
    QLabel *status;
};

// A window of its own, shown, on the simulator's line, its notifier
// connections made as at start-up.
struct Operator : Controls
{
    explicit Operator(DevSim::Simulator &sim);
    ~Operator();

    std::unique_ptr<MainWindow> window;
    // Every status text each device row showed, in the order it showed them.
    QMap<int, QStringList> seen;

private:
    explicit Operator(std::unique_ptr<MainWindow> window);
};
