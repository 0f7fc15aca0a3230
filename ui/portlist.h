#pragma once

// The serial ports the main window lists.

#include <QStringList>

#include <functional>

// The serial ports the main window lists: the toolkit's enumeration, in its
// order, without the ports whose name begins with "NULL_".
QStringList listedPortNames(const QStringList &systemNames);

// Names of the serial ports present now.
QStringList systemPortNames();

// Where the main window takes the names from. The product uses the system's
// list; tests give their own names, and the demo launcher adds its simulated
// line to the system's list.
void setPortNameSource(std::function<QStringList()> source);
QStringList portNamesFromSource();
