// olvex-devsim: simulated CPD devices on a pseudo-terminal or a serial port.

#include "devsim/simulator.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Usage[]
    = "usage: olvex-devsim [--port PORT [--baud N]] [--pace BAUD] [--slot MS] [--link PATH]\n"
      "                    [--collide SLOTS [--seed N]] [--echo] [--verbose]\n"
      "                    [--save-images DIR] [--device DESC ...]\n"
      "\n"
      "Simulated CPD devices on one line. Without --port a pseudo-terminal is created\n"
      "and its path printed; the program runs until SIGINT or SIGTERM, then reports\n"
      "what each device received.\n"
      "\n"
      "  --port PORT        serve a real serial port instead (raw, 8N1)\n"
      "  --baud N           its rate, default 9600\n"
      "  --pace BAUD        time the answers as if the line ran at BAUD (0: no pacing)\n"
      "  --slot MS          without pacing: spacing of answers to one request (default 2)\n"
      "  --collide SLOTS    devices answer a search in a random one of SLOTS slots;\n"
      "                     answers sharing a slot garble each other, as on a real bus\n"
      "  --seed N           seed for the slots (default 1)\n"
      "  --echo             send every byte the host writes straight back, as a two-wire\n"
      "                     adapter whose receiver stays on does\n"
      "  --link PATH        make PATH a symbolic link to the line while running\n"
      "  -v, --verbose      log every frame to stderr\n"
      "  --save-images DIR  write each received image to DIR on exit\n"
      "  --device DESC      add a device, e.g. id=00:1a:2b:3c:4d:5e:6f:70,kind=10,version=2.7\n"
      "                     (see devsim/README.md); without any, the demo's four devices\n"
      "  -h, --help         print this help and exit\n";

struct Arguments
{
    std::string port;
    int baud = 0;
    std::string link;
    std::string imageDir;
    DevSim::Options options;
    std::vector<DevSim::DeviceConfig> devices;
    bool help = false;
};

bool toNumber(const std::string &text, int min, int *out)
{
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < min || value > 10000000)
        return false;
    *out = int(value);
    return true;
}

bool parseArguments(int argc, char **argv, Arguments *args, std::string *error)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool inlineValue = false;
        const size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            inlineValue = true;
        }
        if (option == "--help" || option == "-h") {
            args->help = true;
            continue;
        }
        if (option == "--echo") {
            args->options.echo = true;
            continue;
        }
        if (option == "--verbose" || option == "-v") {
            args->options.verbose = true;
            continue;
        }
        const bool known = option == "--port" || option == "--baud" || option == "--pace"
                           || option == "--slot" || option == "--link" || option == "--save-images"
                           || option == "--device" || option == "--collide" || option == "--seed";
        if (!known) {
            *error = "unknown option " + option;
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                *error = option + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        bool ok = true;
        if (option == "--port") {
            args->port = value;
        } else if (option == "--baud") {
            ok = toNumber(value, 1, &args->baud);
        } else if (option == "--pace") {
            ok = toNumber(value, 0, &args->options.baud);
        } else if (option == "--slot") {
            ok = toNumber(value, 0, &args->options.slotMs);
        } else if (option == "--collide") {
            ok = toNumber(value, 0, &args->options.collisionSlots);
        } else if (option == "--seed") {
            int seed = 0;
            ok = toNumber(value, 0, &seed);
            args->options.seed = unsigned(seed);
        } else if (option == "--link") {
            args->link = value;
        } else if (option == "--save-images") {
            struct stat info
            {
            };
            if (::stat(value.c_str(), &info) != 0) {
                *error = "--save-images: no such folder: " + value;
                return false;
            }
            if (!S_ISDIR(info.st_mode)) {
                *error = "--save-images: not a folder: " + value;
                return false;
            }
            args->imageDir = value;
        } else {
            DevSim::DeviceConfig config;
            std::string why;
            if (!DevSim::parseDevice(value, &config, &why)) {
                *error = "--device " + value + ": " + why;
                return false;
            }
            args->devices.push_back(std::move(config));
        }
        if (!ok) {
            *error = "bad value for " + option + ": " + value;
            return false;
        }
    }
    if (args->baud != 0 && args->port.empty()) {
        *error = "--baud needs --port (use --pace to time a pseudo-terminal)";
        return false;
    }
    return true;
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

} // namespace

int main(int argc, char **argv)
{
    Arguments args;
    std::string error;
    if (!parseArguments(argc, argv, &args, &error)) {
        std::fprintf(stderr, "olvex-devsim: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (args.devices.empty())
        args.devices = DevSim::sampleDevices();
    const std::vector<DevSim::DeviceConfig> configs = args.devices;

    // Blocked before the worker starts, so only sigwait() below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DevSim::Simulator simulator(args.devices, args.options);
    const bool opened = args.port.empty()
                            ? simulator.openPty(&error)
                            : simulator.openSerial(args.port, args.baud ? args.baud : 9600, &error);
    if (!opened)
        return fail(error);
    if (!args.link.empty()) {
        struct stat info
        {
        };
        if (::lstat(args.link.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            ::unlink(args.link.c_str());
        if (::symlink(simulator.path().c_str(), args.link.c_str()) != 0)
            return fail("cannot create link " + args.link);
    }
    simulator.start();
    std::printf("olvex-devsim: line ready at %s\n", simulator.path().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.stop();
    if (!args.link.empty())
        ::unlink(args.link.c_str());

    for (size_t i = 0; i < configs.size(); ++i) {
        const std::vector<quint8> image = simulator.image(i);
        std::string saved;
        if (!args.imageDir.empty() && !image.empty())
            saved = ", saved to " + saveImage(args.imageDir, i, configs[i], image);
        std::printf("device %zu %s kind %d: image %zu bytes, %s, %d firmware frames%s\n",
                    i + 1,
                    DevSim::formatId(configs[i].id).c_str(),
                    configs[i].kind,
                    image.size(),
                    DevSim::imageStateName(simulator.imageState(i)),
                    simulator.firmwareFramesReceived(i),
                    saved.c_str());
    }
    return 0;
}
