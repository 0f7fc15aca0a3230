// olvex-demo: the updater on a simulated line, for a technician without
// hardware. It starts a few simulated devices on a pseudo-terminal, puts that
// line at the top of the port list and opens the same main window as the app.
// With --line it plays no devices itself and lists a line made elsewhere
// instead (olvex-devsim --link PATH), which the app's own port list, the
// system's serial ports, does not show.

#include "demo/demoline.h"
#include "devsim/simulator.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>

namespace {

struct DemoLine
{
    std::vector<DevSim::DeviceConfig> devices = DevSim::sampleDevices();
    DevSim::Options options;
    QString given; // a line of olvex-devsim's, listed instead of playing devices
};

// The demo's options: the line's rate and the devices on it, or a line made
// elsewhere. False, with the message said, when a device description is
// refused or a line is given with devices.
bool parseOptions(const QApplication &app, DemoLine *demoLine)
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
    const QCommandLineOption line(QStringLiteral("line"),
                                  QStringLiteral("List this line (olvex-devsim --link <path>) "
                                                 "first, and simulate no devices here."),
                                  QStringLiteral("path"));
    parser.addOption(pace);
    parser.addOption(device);
    parser.addOption(line);
    parser.process(app);

    if (parser.isSet(line)) {
        if (parser.isSet(pace) || parser.isSet(device)) {
            std::fprintf(stderr,
                         "olvex-demo: --line plays no devices; give --device and "
                         "--pace to the olvex-devsim that made the line\n");
            return false;
        }
        demoLine->given = parser.value(line);
        return true;
    }

    const QStringList descriptions = parser.values(device);
    if (!descriptions.isEmpty())
        demoLine->devices.clear();
    for (const QString &description : descriptions) {
        DevSim::DeviceConfig config;
        std::string error;
        if (!DevSim::parseDevice(description.toStdString(), &config, &error)) {
            std::fprintf(stderr, "olvex-demo: %s\n", error.c_str());
            return false;
        }
        demoLine->devices.push_back(config);
    }
    demoLine->options.baud = parser.value(pace).toInt();
    return true;
}

// The window, with `line` at the top of its port list, until it is closed.
int runWindow(QApplication &app, const QString &line)
{
    setPortNameSource([line] { return QStringList{line} + systemPortNames(); });
    const QIcon icon = Identity::icon();
    MainWindow window;
    presentMainWindow(&window, icon);
    return app.exec();
}

// The window on a line that olvex-devsim serves.
int runOnGivenLine(QApplication &app, const QString &line)
{
    if (!QFileInfo::exists(line)) {
        std::fprintf(stderr,
                     "olvex-demo: no line at %s: start olvex-devsim --link %s first\n",
                     qPrintable(line),
                     qPrintable(line));
        return 1;
    }
    std::fprintf(stderr, "olvex-demo: the line %s first in the port list\n", qPrintable(line));
    return runWindow(app, line);
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
    if (!demo.given.isEmpty())
        return runOnGivenLine(app, demo.given);

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
    const int result = runWindow(app, linePath);
    line.stop();
    return result;
}
