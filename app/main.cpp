// The program entry of the window: where its log goes, identity, icon, the
// main window, the event loop.

#include "ui/diagnosticlog.h"
#include "ui/mainwindow.h"
#include "ui/startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    DiagnosticLog::route();
    QApplication app(argc, argv);
    Identity::applyToWindow(app);

    const QIcon icon = Identity::icon();

    MainWindow window;
    presentMainWindow(&window, icon);
    return app.exec();
}
