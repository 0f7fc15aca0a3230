// Device descriptions as given on the command line.

#include "devsim/simulator.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace DevSim {

namespace {

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

bool toInt(const std::string &text, long min, long max, int *out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max)
        return false;
    *out = int(value);
    return true;
}

bool parseId(const std::string &text, std::array<quint8, 8> *id)
{
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == '-')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() != 16)
        return false;
    for (size_t i = 0; i < 8; ++i)
        (*id)[i] = quint8(std::strtoul(digits.substr(2 * i, 2).c_str(), nullptr, 16));
    return true;
}

bool parseKind(const std::string &text, int *kind)
{
    if (text == "probe")
        *kind = 0;
    else if (text == "tally8")
        *kind = 10;
    else if (text == "tally16")
        *kind = 11;
    else
        return toInt(text, 0, 255, kind);
    return true;
}

struct FaultName
{
    const char *name;
    FaultRule::Kind kind;
    int parameter; // used when the description gives none
};

constexpr FaultName FaultNames[] = {
    {"silent", FaultRule::Silent, 0},
    {"late", FaultRule::Late, 1500},
    {"wrongpart", FaultRule::WrongPart, 0},
    {"error", FaultRule::ErrorReport, 0},
    {"errorreport", FaultRule::ErrorReport, 0},
    {"badcrc", FaultRule::BadChecksum, 0},
    {"badchecksum", FaultRule::BadChecksum, 0},
    {"split", FaultRule::Split, 5},
    {"garbage", FaultRule::Garbage, 2},
    {"twice", FaultRule::Twice, 30},
    {"pieces", FaultRule::Pieces, 20},
    {"stall", FaultRule::Stall, 600},
};

// NAME[:PARAM][:times=N][:part=P][:ms=M][:code=C]
bool parseFault(const std::string &text, FaultRule *rule, std::string *error)
{
    const std::vector<std::string> fields = split(text, ':');
    const FaultName *name = nullptr;
    for (const FaultName &candidate : FaultNames) {
        if (fields[0] == candidate.name)
            name = &candidate;
    }
    if (!name) {
        *error = "unknown fault \"" + fields[0] + "\"";
        return false;
    }
    rule->kind = name->kind;
    rule->delayMs = name->parameter;
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::string &field = fields[i];
        const size_t equals = field.find('=');
        const std::string key = equals == std::string::npos ? "" : field.substr(0, equals);
        const std::string value = equals == std::string::npos ? field : field.substr(equals + 1);
        bool ok = false;
        if ((key.empty() && i == 1) || key == "ms" || key == "code")
            ok = toInt(value, -100000000, 100000000, &rule->delayMs);
        else if (key == "times")
            ok = toInt(value == "all" ? "-1" : value, -1, 1000000, &rule->times);
        else if (key == "part")
            ok = toInt(value, 0, 65535, &rule->onPart);
        if (!ok) {
            *error = "bad fault option \"" + field + "\" in \"" + text + "\"";
            return false;
        }
    }
    if (rule->kind != FaultRule::ErrorReport && rule->delayMs < 0) {
        *error = "negative delay in \"" + text + "\"";
        return false;
    }
    return true;
}

std::array<quint8, 8> freshId()
{
    static std::atomic<int> counter{0};
    const int n = ++counter;
    return {0x4F, 0x4C, 0x56, 0x00, 0x00, 0x00, quint8(n >> 8), quint8(n)};
}

} // namespace

bool parseDevice(const std::string &text, DeviceConfig *out, std::string *error)
{
    std::string ignored;
    std::string &message = error ? *error : ignored;
    DeviceConfig config;
    bool haveId = false;
    bool boot = false;
    int major = config.verMajor;
    int minor = config.verMinor;
    for (const std::string &item : text.empty() ? std::vector<std::string>{} : split(text, ',')) {
        const size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        bool ok = false;
        if (item == "boot") {
            ok = boot = true;
        } else if (item == "chatty") {
            ok = config.chatty = true;
        } else if (equals == std::string::npos) {
            ok = false;
        } else if (key == "id") {
            ok = haveId = parseId(value, &config.id);
        } else if (key == "kind") {
            ok = parseKind(value, &config.kind);
        } else if (key == "version") {
            const size_t dot = value.find('.');
            ok = dot != std::string::npos && toInt(value.substr(0, dot), 0, 127, &major)
                 && toInt(value.substr(dot + 1), 0, 255, &minor);
        } else if (key == "fault") {
            FaultRule rule;
            if (!parseFault(value, &rule, &message))
                return false;
            config.faults.push_back(rule);
            ok = true;
        }
        if (!ok) {
            message = "bad device item \"" + item + "\"";
            return false;
        }
    }
    config.verMajor = quint8(major | (boot ? 0x80 : 0));
    config.verMinor = quint8(minor);
    if (!haveId)
        config.id = freshId();
    *out = std::move(config);
    return true;
}

std::string formatId(const std::array<quint8, 8> &id)
{
    std::string text;
    for (size_t i = 0; i < id.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? ":%02x" : "%02x", id[i]);
        text += byte;
    }
    return text;
}

const char *imageStateName(ImageState state)
{
    switch (state) {
    case ImageState::None:
        return "none";
    case ImageState::Receiving:
        return "receiving";
    case ImageState::Complete:
        return "complete";
    case ImageState::Aborted:
        return "aborted";
    }
    return "?";
}

std::vector<DeviceConfig> sampleDevices()
{
    static const char *const descriptions[] = {
        "id=00:1a:2b:3c:4d:5e:00:01,kind=tally8,version=2.7",
        "id=00:1a:2b:3c:4d:5f:00:02,kind=tally8,version=2.5",
        "id=00:1a:2b:3c:4d:60:00:03,kind=tally16,version=1.12",
        "id=00:1a:2b:3c:4d:61:00:04,kind=probe,version=3.0,boot",
    };
    std::vector<DeviceConfig> devices;
    for (const char *description : descriptions) {
        DeviceConfig config;
        std::string error;
        if (parseDevice(description, &config, &error))
            devices.push_back(config);
    }
    return devices;
}

} // namespace DevSim
