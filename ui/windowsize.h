#pragma once

// The size the main window opens with.

#include <QSize>

class QWidget;

// The size the main window opens with: the form's own 460 x 417, made wider
// where the system font needs it, so that no control is cut off and the device
// table's four text columns show their headers and the texts they hold in
// daily use (an address, a version, progress) without cutting them.
QSize openingSize(const QWidget *mainWindow);
