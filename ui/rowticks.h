#pragma once

// The device table from the keyboard. Tab and Shift+Tab leave the table for
// the next and the previous control, as everywhere else in the window; the
// arrow keys move between its cells. Space (or the Select key) ticks or
// unticks the current row, whichever of its cells is current, through the
// path a click on the row's tick box takes: the box's delegate turns it,
// the table announces the change, and the window's rules for tick boxes
// apply (the select-all row ticks them all; boxes that cannot be changed
// during an update stay as they are).

class QTableWidget;

void tickRowsFromTheKeyboard(QTableWidget *table);
