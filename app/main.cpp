#include "app/startup.h"
#include "ui/mainwindow.h"
#include "ui/windowsize.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Identity::apply(app);

    const QIcon icon = Identity::icon();

    MainWindow window;
    window.resize(openingSize(&window));
    window.setWindowIcon(icon);
    window.show();
    connectNotifier(&window);
    return app.exec();
}
