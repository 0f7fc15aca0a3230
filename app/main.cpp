#include "app/startup.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Identity::applyToWindow(app);

    const QIcon icon = Identity::icon();

    MainWindow window;
    presentMainWindow(&window, icon);
    return app.exec();
}
