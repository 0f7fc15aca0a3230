// The program entry of the window: where its log goes, identity, the
// toolkit's texts in Russian, icon, the main window, the event loop.

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
    installToolkitTranslation(app);

    const QIcon icon = Identity::icon();

    MainWindow window;
    presentMainWindow(&window, icon);
    return app.exec();
}
