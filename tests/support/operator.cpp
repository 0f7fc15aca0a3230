#include "support/operator.h"

#include "ui/columns.h"
#include "ui/startup.h"
#include "ui/portlist.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

Operator::Operator(DevSim::Simulator &sim)
{
    const QString path = QString::fromStdString(sim.path());
    setPortNameSource([path] { return QStringList{path}; });
    window = std::make_unique<MainWindow>();
    connectNotifier(window.get());
    table = window->findChild<QTableWidget *>("tableWidget");
    search = window->findChild<QPushButton *>("SearchButton");
    flash = window->findChild<QPushButton *>("FlashButton");
    path_ = window->findChild<QLineEdit *>("fileNameLine");
    status = window->findChild<QLabel *>("StatusLabel");
    // Every status text the device rows show, in the order they show them.
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

QString Operator::cell(int row, int column) const
{
    return table->item(row, column)->text();
}

void Operator::tick(int row)
{
    table->item(row, CheckColumn)->setCheckState(Qt::Checked);
}

void Operator::clickTickBox(int row)
{
    const QRect cell = table->visualItemRect(table->item(row, CheckColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

Qt::CheckState Operator::box(int row) const
{
    return table->item(row, CheckColumn)->checkState();
}
