// olvex-demo: the updater on a simulated line, for a technician without
// hardware. It starts a few simulated devices on a pseudo-terminal, puts that
// line at the top of the port list and opens the same main window as the app.

#include "demo/demoline.h"
#include "devsim/simulator.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

namespace {

struct DemoLine
{
    std::vector<DevSim::DeviceConfig> devices = DevSim::sampleDevices();
    DevSim::Options options;
};

// The demo's options: the line's rate and the devices on it. False, with
// the message said, when a device description is refused.
bool parseOptions(const QApplication &app, DemoLine *line)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Olvex Updater on a simulated line with a few devices."));
    parser.addHelpOption();
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("Line rate the simulated devices keep (0: as fast "
                                                 "as possible)."),
                                  QStringLiteral("baud"),
                                  QString::number(DemoBaud));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A simulated device instead of the default set "
                                                   "(see devsim/README.md); may repeat."),
                                    QStringLiteral("description"));
    parser.addOption(pace);
    parser.addOption(device);
    parser.process(app);

    const QStringList descriptions = parser.values(device);
    if (!descriptions.isEmpty())
        line->devices.clear();
    for (const QString &description : descriptions) {
        DevSim::DeviceConfig config;
        std::string error;
        if (!DevSim::parseDevice(description.toStdString(), &config, &error)) {
            std::fprintf(stderr, "olvex-demo: %s\n", error.c_str());
            return false;
        }
        line->devices.push_back(config);
    }
    line->options.baud = parser.value(pace).toInt();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Identity::apply(app);
    DemoLine demo;
    if (!parseOptions(app, &demo))
        return 2;
    installToolkitTranslation(app); // after the options, whose help stays in English

    DevSim::Simulator line(demo.devices, demo.options);
    std::string error;
    if (!line.openPty(&error)) {
        std::fprintf(stderr, "olvex-demo: cannot create the simulated line: %s\n", error.c_str());
        return 1;
    }
    line.start();
    const QString linePath = QString::fromStdString(line.path());
    std::fprintf(stderr,
                 "olvex-demo: %zu simulated devices on %s\n",
                 demo.devices.size(),
                 qPrintable(linePath));
    setPortNameSource([linePath] { return QStringList{linePath} + systemPortNames(); });

    const QIcon icon = Identity::icon();
    int result = 0;
    {
        MainWindow window;
        presentMainWindow(&window, icon);
        result = app.exec();
    }
    line.stop();
    return result;
}
