// Shortened texts in a narrow window, with the whole text as a tooltip.

#include "ui/elision.h"

#include "ui/texts.h"

#include <QEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QTableWidget>
#include <QToolTip>

namespace {

// The room a label's text has, and the text as it fits there.
QString fittedText(const QLabel *label)
{
    return label->fontMetrics().elidedText(
        label->text(), Qt::ElideRight, label->contentsRect().width());
}

class StatusLineElision : public QObject
{
public:
    explicit StatusLineElision(QLabel *label)
        : QObject(label)
        , m_label(label)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_label)
            return false;
        if (event->type() == QEvent::Paint)
            return paintShortened();
        if (event->type() == QEvent::ToolTip)
            return tellWhole(static_cast<QHelpEvent *>(event));
        return false;
    }

private:
    // A text that fits is drawn by the label itself.
    bool paintShortened()
    {
        const QString shown = fittedText(m_label);
        if (shown == m_label->text())
            return false;
        QPainter painter(m_label);
        m_label->style()->drawItemText(
            &painter,
            m_label->contentsRect(),
            QStyle::visualAlignment(m_label->layoutDirection(), m_label->alignment()),
            m_label->palette(),
            m_label->isEnabled(),
            shown,
            m_label->foregroundRole());
        return true;
    }

    bool tellWhole(QHelpEvent *help)
    {
        if (fittedText(m_label) == m_label->text())
            return false;
        QToolTip::showText(help->globalPos(), m_label->text(), m_label);
        return true;
    }

    QLabel *m_label;
};

class CellTextTips : public QObject
{
public:
    explicit CellTextTips(QTableWidget *table)
        : QObject(table)
        , m_table(table)
        , m_viewport(table->viewport())
    {}

protected:
    // Called until the table is gone, the viewport's last events while the
    // table is being destroyed included: nothing of the table is touched
    // before the event is known to be a tooltip's.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ToolTip || watched != m_viewport)
            return false;
        auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex index = m_table->indexAt(help->pos());
        const QString text = index.data(Qt::DisplayRole).toString();
        const QRect cell = m_table->visualRect(index);
        if (text.isEmpty() || m_table->fontMetrics().horizontalAdvance(text) <= room(cell))
            return false;
        QToolTip::showText(help->globalPos(), text, m_viewport, cell);
        return true;
    }

private:
    // What the style leaves a cell's text: the cell less the grid line and
    // the text's margin on either side.
    int room(const QRect &cell) const
    {
        const int grid = m_table->showGrid() ? 1 : 0;
        const int margin
            = m_table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_table) + 1;
        return cell.width() - grid - 2 * margin;
    }

    QTableWidget *m_table;
    QWidget *m_viewport;
};

} // namespace

void elideWhereNarrow(QLabel *statusLine, QTableWidget *table)
{
    statusLine->setMinimumWidth(
        statusLine->fontMetrics().horizontalAdvance(Texts::mainStatus(PortBusy)));
    statusLine->installEventFilter(new StatusLineElision(statusLine));
    // One line to a cell, shortened as a whole: wrapped first, the shortening
    // would cut its first line and then elide again.
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->horizontalHeader()->setTextElideMode(Qt::ElideRight);
    table->viewport()->installEventFilter(new CellTextTips(table));
}
