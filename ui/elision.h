#pragma once

// Texts in a window made narrow (a small screen, a large scale factor):
// shortened with an ellipsis, never cut off in the middle of a word, and
// given whole in a tooltip wherever they are shown shortened.

class QLabel;
class QTableWidget;

// The status line may become as narrow as its shortest text ("Порт занят")
// and draws a longer text shortened at its end; the device table draws its
// cells' texts shortened in the middle, so that an address keeps its last
// bytes and a progress its percentage. Neither changes a text: the label and
// the items keep theirs.
void elideWhereNarrow(QLabel *statusLine, QTableWidget *table);
