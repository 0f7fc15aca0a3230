#pragma once

// The real main window on a simulator's line, for tests that act as the
// operator does.

#include "devsim/simulator.h"
#include "support/controls.h"

#include <QMap>
#include <QStringList>

#include <memory>

// A window of its own, shown, on the simulator's line, its notifier
// connections made as at start-up.
struct Operator : Controls
{
    explicit Operator(DevSim::Simulator &sim);
    ~Operator();

    // Presses "search" and waits for the devices to be listed; false unless
    // they are within 20 seconds.
    bool findDevices();

    std::unique_ptr<MainWindow> window;
    // Every status text each device row showed, in the order it showed them.
    QMap<int, QStringList> seen;

private:
    explicit Operator(std::unique_ptr<MainWindow> window);
};
