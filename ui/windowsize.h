#pragma once

// The size the main window opens with.

#include <QSize>

class QWidget;

// The size the main window opens with: the form's own 460 x 417, made wider
// where the system font needs it, so that no control is cut off and the device
// table's four text columns show their headers and the texts they hold in
// daily use (an address, a version, progress) without cutting them; but never
// larger than its screen's available area (the desktop's panels left out,
// the window's frame too where the platform knows it already): on a small
// screen or at a large scale factor the columns share what there is.
QSize openingSize(const QWidget *mainWindow);

// Gives the window its opening size; one that fills its screen in either
// direction is put in the middle of the available area, all of it on the
// screen. Others open where the system puts them.
void openOnScreen(QWidget *mainWindow);
