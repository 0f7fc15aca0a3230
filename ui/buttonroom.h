#pragma once

// Room between a push button's text and its border.

class QWidget;

// The Windows styles leave three pixels and the frame between a push button's
// text and its border, and the last letters of a text reach past its advance
// into them: the text seems to touch the border. Under those styles each push
// button of the window with a text is made wide enough for the room the tool
// button beside it gets. Other styles (Fusion on Linux) keep their own widths.
void giveButtonTextsRoom(QWidget *window);
