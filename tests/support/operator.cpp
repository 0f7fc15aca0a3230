#include "support/operator.h"

#include "ui/columns.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

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

bool Operator::findDevices()
{
    QTest::mouseClick(search, Qt::LeftButton);
    return QTest::qWaitFor([this] { return status->text() == "Выберите устройство(а)"; }, 20000);
}
