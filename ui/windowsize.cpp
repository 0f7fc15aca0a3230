// The size the main window opens with.

#include "ui/windowsize.h"

#include "ui/columns.h"
#include "ui/texts.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QWindow>

namespace {
constexpr int TextColumns = CheckColumn; // the columns left of the tick boxes
constexpr int CellPadding = 16;          // the style's margins around a cell's text
constexpr int OuterMargin = 11;          // the central layout's margin

// The frame around the window's contents, where the platform knows it
// before the window is shown (Windows); nothing where the window manager
// adds it later (X11), which then keeps the window on the screen itself.
QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// What the screen leaves the window's contents.
QSize room(const QWidget *window)
{
    const QMargins frame = frameOf(window);
    return window->screen()->availableGeometry().size()
           - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

QSize naturalSize(const QWidget *window)
{
    QSize size = window->size().expandedTo(QSize(window->minimumSizeHint().width(), 0));
    const auto *table = window->findChild<const QTableWidget *>(QStringLiteral("tableWidget"));
    if (!table)
        return size;

    // The widest texts the cells hold in daily use.
    const QFontMetrics cellFont(table->font());
    int column = 0;
    for (const QString &text : {Texts::addressText(DeviceId{}),
                                Texts::versionText(0x80 | 12, 34),
                                Texts::versionAfterUpdate(),
                                Texts::progress(100, 100)})
        column = qMax(column, cellFont.horizontalAdvance(text));
    const QFontMetrics headerFont(table->horizontalHeader()->font());
    for (int i = 0; i < TextColumns; ++i) {
        if (const QTableWidgetItem *header = table->horizontalHeaderItem(i))
            column = qMax(column, headerFont.horizontalAdvance(header->text()));
    }
    // Beside the text columns: the layout's margins, the table's frame, the
    // tick-box column and room for a vertical scroll bar.
    const int others = 2 * OuterMargin + 2 * table->frameWidth()
                       + table->horizontalHeader()->sectionSize(CheckColumn)
                       + table->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    size.setWidth(qMax(size.width(), others + TextColumns * (column + CellPadding)));
    return size;
}

} // namespace

QSize openingSize(const QWidget *window)
{
    return naturalSize(window).boundedTo(room(window));
}

void openOnScreen(QWidget *window)
{
    window->winId(); // the native window, whose frame Windows knows from then on
    const QSize size = openingSize(window);
    window->resize(size);
    const QSize screenRoom = room(window);
    if (size.width() < screenRoom.width() && size.height() < screenRoom.height())
        return;
    const QMargins frame = frameOf(window);
    QRect outline(QPoint(), size.grownBy(frame));
    outline.moveCenter(window->screen()->availableGeometry().center());
    window->move(outline.topLeft());
}
