// Bringing up the main window.

#include "ui/startup.h"

#include "registry/registry.h"
#include "ui/mainwindow.h"
#include "ui/windowsize.h"

#include <QApplication>

namespace Identity {
QIcon icon()
{
    QIcon icon;
    icon.addFile(iconPath(), QSize(32, 32), QIcon::Normal, QIcon::Off);
    return icon;
}

void applyToWindow(QApplication &app)
{
    apply(app);
    QGuiApplication::setDesktopFileName(desktopFileName());
}
} // namespace Identity

void connectNotifier(MainWindow *window)
{
    QObject::connect(&Notifier, SIGNAL(UpdateTable()), window, SLOT(UpdatingTable()));
    QObject::connect(&Notifier, SIGNAL(UpdateDevStatus()), window, SLOT(UpdatingDevStatus()));
    qRegisterMetaType<Status>("Status");
    QObject::connect(
        &Notifier, SIGNAL(UpdateMainStatus(Status)), window, SLOT(UpdatingMainStatus(Status)));
    QObject::connect(
        &Notifier, SIGNAL(UnblockSearchButton()), window, SLOT(UnblockingSearchButton()));
    QObject::connect(
        &Notifier, SIGNAL(CheckReadyToUpdate()), window, SLOT(CheckingReadyToUpdate()));
    QObject::connect(
        &Notifier, SIGNAL(UnblockTableSignals()), window, SLOT(UnblockingTableSignals()));
}

void presentMainWindow(MainWindow *window, const QIcon &icon)
{
    window->resize(openingSize(window));
    window->setWindowIcon(icon);
    window->show();
    connectNotifier(window);
}
