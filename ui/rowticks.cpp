// Ticking the device table's rows from the keyboard.

#include "ui/rowticks.h"

#include "ui/columns.h"

#include <QAbstractItemDelegate>
#include <QKeyEvent>
#include <QStyleOptionViewItem>
#include <QTableWidget>

namespace {

class RowTicker : public QObject
{
public:
    explicit RowTicker(QTableWidget *table)
        : QObject(table)
        , m_table(table)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_table || event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Space && key->key() != Qt::Key_Select)
            || key->modifiers() != Qt::NoModifier)
            return false;
        // Held down, the key turns the box once.
        if (!key->isAutoRepeat())
            turnBox(key);
        return true;
    }

private:
    // The very call the view makes when a click or this key reaches a tick
    // box: the delegate checks the box's flags and turns it.
    void turnBox(QKeyEvent *key)
    {
        const QModelIndex current = m_table->currentIndex();
        if (!current.isValid())
            return;
        const QModelIndex box = current.siblingAtColumn(CheckColumn);
        QStyleOptionViewItem option;
        option.initFrom(m_table);
        m_table->itemDelegate()->editorEvent(key, m_table->model(), option, box);
    }

    QTableWidget *m_table;
};

} // namespace

void tickRowsFromTheKeyboard(QTableWidget *table)
{
    table->setTabKeyNavigation(false);
    table->installEventFilter(new RowTicker(table));
}
