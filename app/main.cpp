#include "app/startup.h"
#include "ui/mainwindow.h"
#include "ui/windowsize.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Identity::apply(app);

    QIcon icon;
    icon.addFile(Identity::iconPath(), QSize(32, 32), QIcon::Normal, QIcon::Off);

    MainWindow window;
    window.resize(openingSize(&window));
    window.setWindowIcon(icon);
    window.show();
    connectNotifier(&window);
    return app.exec();
}
