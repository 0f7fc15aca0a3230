// olvex-demo: the updater on a simulated line, for a technician without
// hardware. It starts a few simulated devices on a pseudo-terminal, puts that
// line at the top of the port list and opens the same main window as the app.

#include "app/startup.h"
#include "devsim/simulator.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/windowsize.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

namespace {

// Devices of different kinds and versions, one of them in its boot loader.
const char *const DemoDevices[] = {
    "id=00:1a:2b:3c:4d:5e:00:01,kind=tally8,version=2.7",
    "id=00:1a:2b:3c:4d:5f:00:02,kind=tally8,version=2.5",
    "id=00:1a:2b:3c:4d:60:00:03,kind=tally16,version=1.12",
    "id=00:1a:2b:3c:4d:61:00:04,kind=probe,version=3.0,boot",
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Identity::apply(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Olvex Updater on a simulated line with a few devices."));
    parser.addHelpOption();
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("Line rate the simulated devices keep (0: as fast "
                                                 "as possible)."),
                                  QStringLiteral("baud"),
                                  QStringLiteral("115200"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A simulated device instead of the default set "
                                                   "(see devsim/README.md); may repeat."),
                                    QStringLiteral("spec"));
    parser.addOption(pace);
    parser.addOption(device);
    parser.process(app);

    std::vector<DevSim::DeviceConfig> devices;
    QStringList specs = parser.values(device);
    if (specs.isEmpty()) {
        for (const char *spec : DemoDevices)
            specs << QString::fromLatin1(spec);
    }
    for (const QString &spec : specs) {
        DevSim::DeviceConfig config;
        std::string error;
        if (!DevSim::parseDevice(spec.toStdString(), &config, &error)) {
            std::fprintf(stderr, "olvex-demo: %s\n", error.c_str());
            return 2;
        }
        devices.push_back(config);
    }

    DevSim::Options options;
    options.baud = parser.value(pace).toInt();
    DevSim::Simulator line(devices, options);
    std::string error;
    if (!line.openPty(&error)) {
        std::fprintf(stderr, "olvex-demo: cannot create the simulated line: %s\n", error.c_str());
        return 1;
    }
    line.start();
    const QString linePath = QString::fromStdString(line.path());
    std::fprintf(
        stderr, "olvex-demo: %zu simulated devices on %s\n", devices.size(), qPrintable(linePath));
    setPortNameSource([linePath] { return QStringList{linePath} + systemPortNames(); });

    QIcon icon;
    icon.addFile(Identity::iconPath(), QSize(32, 32), QIcon::Normal, QIcon::Off);

    int result = 0;
    {
        MainWindow window;
        window.resize(openingSize(&window));
        window.setWindowIcon(icon);
        window.show();
        connectNotifier(&window);
        result = app.exec();
    }
    line.stop();
    return result;
}
