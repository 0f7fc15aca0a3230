// Room between a push button's text and its border.

#include "ui/buttonroom.h"

#include <QApplication>
#include <QPushButton>
#include <QStyle>

namespace {
// What each side of the text gets on top of the style's own margin: together
// some eight pixels, as in the tool button.
constexpr int ExtraRoom = 4;
} // namespace

void giveButtonTextsRoom(QWidget *window)
{
    // The application's style: a window with a style sheet draws through a
    // style of its own that wraps it.
    if (!QApplication::style()->inherits("QWindowsStyle"))
        return;
    const auto buttons = window->findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (!button->text().isEmpty())
            button->setMinimumWidth(button->sizeHint().width() + 2 * ExtraRoom);
    }
}
