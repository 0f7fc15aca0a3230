// olvex-devsim: simulated CPD devices on a pseudo-terminal or a serial port.

#include "devsim/replay.h"
#include "devsim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Description[] = R"(Simulated CPD devices on one line. Without --port a pseudo-terminal is created
and its path printed; the program runs until SIGINT or SIGTERM, then reports
what each device received.)";

struct Arguments
{
    std::string port;
    int baud = 0;
    std::string link;
    std::string imageDir;
    std::string replay;
    DevSim::Options options;
    std::vector<DevSim::DeviceConfig> devices;
};

// The options, in the order the help lists them.
struct Declared
{
    QCommandLineOption port{"port", "Serve a real serial port instead (raw, 8N1).", "port"};
    QCommandLineOption baud{"baud", "The port's rate, default 9600.", "n"};
    QCommandLineOption pace{"pace", "Time the answers as if the line ran at <baud> (0: no pacing).",
                            "baud"};
    QCommandLineOption slot{"slot", "Without pacing: spacing of answers to one request (default 2).",
                            "ms"};
    QCommandLineOption collide{"collide",
                               "Devices answer a search in a random one of <slots> slots; answers "
                               "sharing a slot garble each other, as on a real bus.",
                               "slots"};
    QCommandLineOption seed{"seed", "Seed for the slots (default 1).", "n"};
    QCommandLineOption master{"master",
                              "A second master polls the line every <ms> (a Modbus request, "
                              "then a CPD request to a device of its own).",
                              "ms"};
    QCommandLineOption echo{"echo",
                            "Send every byte the host writes straight back, as a two-wire adapter "
                            "whose receiver stays on does."};
    QCommandLineOption link{"link", "Make <path> a symbolic link to the line while running.",
                            "path"};
    QCommandLineOption verbose{{"v", "verbose"}, "Log every frame to stderr."};
    QCommandLineOption saveImages{"save-images", "Write each received image to <dir> on exit.",
                                  "dir"};
    QCommandLineOption device{"device",
                              "Add a device, e.g. id=00:1a:2b:3c:4d:5e:6f:70,kind=10,version=2.7 "
                              "(see devsim/README.md); without any, the demo's four devices.",
                              "desc"};
    QCommandLineOption replay{"replay",
                              "Play the line of a capture (olvex-cli --capture, or any pcapng of "
                              "its link type) instead of simulated devices; a host that sends what "
                              "the capture does not show is told where, and the program exits 1.",
                              "file"};
    QCommandLineOption help{{"h", "help"}, "Print this help and exit."};
};

// A capture larger than this is no capture of one job.
constexpr qint64 MaxCaptureBytes = 256 * 1024 * 1024;

bool toNumber(const QString &text, int min, int *out)
{
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < min || value > 10000000)
        return false;
    *out = int(value);
    return true;
}

// The number an option holds, when given. False, with the message, when it
// is no number in range.
bool numberOption(const QCommandLineParser &parser,
                  const QCommandLineOption &option,
                  int min,
                  int *out,
                  std::string *error)
{
    if (!parser.isSet(option))
        return true;
    const QString value = parser.value(option);
    if (toNumber(value, min, out))
        return true;
    *error = "bad value for --" + option.names().constLast().toStdString() + ": "
             + value.toStdString();
    return false;
}

// The parser's refusals, said as this program always said them.
std::string parseError(const QCommandLineParser &parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString &name = unknown.constFirst();
        return "unknown option " + QString(name.size() == 1 ? "-" : "--").toStdString()
               + name.toStdString();
    }
    static const QRegularExpression missing(QStringLiteral("'([^']+)'"));
    const QRegularExpressionMatch match = missing.match(parser.errorText());
    if (match.hasMatch())
        return match.captured(1).toStdString() + " needs a value";
    return parser.errorText().toStdString();
}

bool imageFolder(const QString &value, std::string *error)
{
    const QFileInfo folder(value);
    if (!folder.exists()) {
        *error = "--save-images: no such folder: " + value.toStdString();
        return false;
    }
    if (!folder.isDir()) {
        *error = "--save-images: not a folder: " + value.toStdString();
        return false;
    }
    return true;
}

bool takeValues(const QCommandLineParser &parser,
                const Declared &declared,
                Arguments *args,
                std::string *error)
{
    args->port = parser.value(declared.port).toStdString();
    args->link = parser.value(declared.link).toStdString();
    args->options.echo = parser.isSet(declared.echo);
    args->options.verbose = parser.isSet(declared.verbose);
    int seed = int(args->options.seed);
    if (!numberOption(parser, declared.baud, 1, &args->baud, error)
        || !numberOption(parser, declared.pace, 0, &args->options.baud, error)
        || !numberOption(parser, declared.slot, 0, &args->options.slotMs, error)
        || !numberOption(parser, declared.collide, 0, &args->options.collisionSlots, error)
        || !numberOption(parser, declared.seed, 0, &seed, error)
        || !numberOption(parser, declared.master, 0, &args->options.masterMs, error))
        return false;
    args->options.seed = unsigned(seed);
    if (parser.isSet(declared.saveImages)) {
        const QString folder = parser.value(declared.saveImages);
        if (!imageFolder(folder, error))
            return false;
        args->imageDir = folder.toStdString();
    }
    const QStringList devices = parser.values(declared.device);
    for (const QString &description : devices) {
        DevSim::DeviceConfig config;
        std::string why;
        if (!DevSim::parseDevice(description.toStdString(), &config, &why)) {
            *error = "--device " + description.toStdString() + ": " + why;
            return false;
        }
        args->devices.push_back(std::move(config));
    }
    if (args->baud != 0 && args->port.empty()) {
        *error = "--baud needs --port (use --pace to time a pseudo-terminal)";
        return false;
    }
    args->replay = parser.value(declared.replay).toStdString();
    for (const QCommandLineOption *own : {&declared.port, &declared.pace, &declared.collide,
                                          &declared.master, &declared.echo, &declared.saveImages,
                                          &declared.device}) {
        if (!args->replay.empty() && parser.isSet(*own)) {
            *error = "--replay plays the capture's line as it was; --"
                     + own->names().constLast().toStdString() + " does not go with it";
            return false;
        }
    }
    return true;
}

enum class Parsed { Run, Help, Error };

Parsed parseArguments(const QStringList &arguments, Arguments *args, std::string *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const Declared declared;
    parser.addOptions({declared.port,
                       declared.baud,
                       declared.pace,
                       declared.slot,
                       declared.collide,
                       declared.seed,
                       declared.master,
                       declared.echo,
                       declared.link,
                       declared.verbose,
                       declared.saveImages,
                       declared.device,
                       declared.replay,
                       declared.help});
    if (!parser.parse(arguments)) {
        *error = parseError(parser);
        return Parsed::Error;
    }
    if (parser.isSet(declared.help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return Parsed::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = "unknown option " + parser.positionalArguments().constFirst().toStdString();
        return Parsed::Error;
    }
    return takeValues(parser, declared, args, error) ? Parsed::Run : Parsed::Error;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "olvex-devsim: %s\n", message.c_str());
    return 1;
}

std::string saveImage(const std::string &dir,
                      size_t index,
                      const DevSim::DeviceConfig &config,
                      const std::vector<quint8> &image)
{
    std::string name = DevSim::formatId(config.id);
    name.erase(std::remove(name.begin(), name.end(), ':'), name.end());
    const std::string path = dir + "/device-" + std::to_string(index + 1) + "-" + name + ".bin";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
    return file ? path : "(could not write " + path + ")";
}

// Makes `link` a symbolic link to the line (replacing an old link there).
bool makeLink(const std::string &link, const std::string &target)
{
    struct stat info
    {
    };
    if (::lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
        ::unlink(link.c_str());
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

// What each device received, and where its image went.
void report(const DevSim::Simulator &simulator,
            const std::vector<DevSim::DeviceConfig> &configs,
            const std::string &imageDir)
{
    for (size_t i = 0; i < configs.size(); ++i) {
        const std::vector<quint8> image = simulator.image(i);
        std::string saved;
        if (!imageDir.empty() && !image.empty())
            saved = ", saved to " + saveImage(imageDir, i, configs[i], image);
        std::printf("device %zu %s kind %d: image %zu bytes, %s, %d firmware frames%s\n",
                    i + 1,
                    DevSim::formatId(configs[i].id).c_str(),
                    configs[i].kind,
                    image.size(),
                    DevSim::imageStateName(simulator.imageState(i)),
                    simulator.firmwareFramesReceived(i),
                    saved.c_str());
    }
}

// Blocked before a worker starts, so that only this thread takes them.
sigset_t blockStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

// Plays a capture until a stop signal comes or the host sends what the
// capture does not show, then says how it went.
int replay(const Arguments &args)
{
    const sigset_t stopSignals = blockStopSignals();
    QFile file(QString::fromStdString(args.replay));
    if (!file.open(QIODevice::ReadOnly))
        return fail(args.replay + ": " + file.errorString().toStdString());
    if (file.size() > MaxCaptureBytes)
        return fail(args.replay + ": too large for a capture of one job");
    const Pcapng::Capture capture = Pcapng::read(file.readAll());
    if (!capture.problem.isEmpty())
        return fail(args.replay + ": no capture: " + capture.problem.toStdString());
    if (capture.records.empty())
        return fail(args.replay + ": the capture holds no bytes of a serial line");
    DevSim::Replay player(capture);
    std::string error;
    if (!player.openPty(&error))
        return fail(error);
    if (!args.link.empty() && !makeLink(args.link, player.path()))
        return fail("cannot create link " + args.link);
    player.start();
    std::printf("olvex-devsim: line ready at %s (replaying %s)\n", player.path().c_str(),
                args.replay.c_str());
    std::fflush(stdout);
    const timespec look{0, 100 * 1000 * 1000};
    while (sigtimedwait(&stopSignals, nullptr, &look) < 0 && !player.outcome().ended) {
    }
    player.stop();
    if (!args.link.empty())
        ::unlink(args.link.c_str());
    const DevSim::Replay::Outcome outcome = player.outcome();
    if (outcome.ended || !outcome.complete)
        return fail("replay: " + outcome.text);
    std::printf("olvex-devsim: replay: %s\n", outcome.text.c_str());
    return 0;
}

// Serves the line until a stop signal comes, then reports.
int serve(const Arguments &args)
{
    const sigset_t stopSignals = blockStopSignals();

    DevSim::Simulator simulator(args.devices, args.options);
    std::string error;
    const bool opened = args.port.empty()
                            ? simulator.openPty(&error)
                            : simulator.openSerial(args.port, args.baud ? args.baud : 9600, &error);
    if (!opened)
        return fail(error);
    if (!args.link.empty() && !makeLink(args.link, simulator.path()))
        return fail("cannot create link " + args.link);
    simulator.start();
    std::printf("olvex-devsim: line ready at %s\n", simulator.path().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.stop();
    if (!args.link.empty())
        ::unlink(args.link.c_str());
    report(simulator, args.devices, args.imageDir);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Arguments args;
    std::string error;
    switch (parseArguments(app.arguments(), &args, &error)) {
    case Parsed::Help:
        return 0;
    case Parsed::Error:
        std::fprintf(stderr, "olvex-devsim: %s (try --help)\n", error.c_str());
        return 2;
    case Parsed::Run:
        break;
    }
    if (!args.replay.empty())
        return replay(args);
    if (args.devices.empty())
        args.devices = DevSim::sampleDevices();
    return serve(args);
}
