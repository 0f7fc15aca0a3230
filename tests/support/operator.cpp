#include "support/operator.h"

#include "ui/columns.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

Controls::Controls(MainWindow &w)
    : table(w.findChild<QTableWidget *>("tableWidget"))
    , search(w.findChild<QPushButton *>("SearchButton"))
    , flash(w.findChild<QPushButton *>("FlashButton"))
    , firmware(w.findChild<QPushButton *>("FramewareButton"))
    , path(w.findChild<QLineEdit *>("fileNameLine"))
    , status(w.findChild<QLabel *>("StatusLabel"))
{}

QString Controls::text(int row, int column) const
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

Qt::CheckState Controls::check(int row) const
{
    return table->item(row, CheckColumn)->checkState();
}

int Controls::selectAllRow() const
{
    return table->rowCount() - 1;
}

void Controls::tick(int row, Qt::CheckState state)
{
    table->item(row, CheckColumn)->setCheckState(state);
}

void Controls::clickTickBox(int row)
{
    const QRect cell = table->visualItemRect(table->item(row, CheckColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

namespace {

std::unique_ptr<MainWindow> windowOn(DevSim::Simulator &sim)
{
    const QString path = QString::fromStdString(sim.path());
    setPortNameSource([path] { return QStringList{path}; });
    return std::make_unique<MainWindow>();
}

} // namespace

Operator::Operator(DevSim::Simulator &sim)
    : Operator(windowOn(sim))
{}

Operator::Operator(std::unique_ptr<MainWindow> w)
    : Controls(*w)
    , window(std::move(w))
{
    connectNotifier(window.get());
    QObject::connect(&Notifier, &DevTable::UpdateDevStatus, window.get(), [this] {
        for (int row = 0; row + 1 < table->rowCount(); ++row) {
            const QString text = table->item(row, StatusColumn)->text();
            if (seen[row].isEmpty() || seen[row].last() != text)
                seen[row] << text;
        }
    });
    window->show();
}

Operator::~Operator()
{
    setPortNameSource(nullptr);
}
