#pragma once

// A line full of CPD devices for tests, benchmarks and manual runs: any number
// of simulated devices share one pseudo-terminal or one real serial port and
// answer the host as the real devices do, with faults to order.

#include <QtGlobal>

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace DevSim {

// One way a device misbehaves. A rule spoils at most `times` answers (-1: all
// of them), optionally only those to firmware frames carrying part `onPart`.
struct FaultRule
{
    enum Kind {
        Silent,      // the answer is not sent (the request is still acted on)
        Late,        // the answer goes out delayMs later than it would
        WrongPart,   // a firmware acknowledgement names part - 1 (the part is stored)
        ErrorReport, // an error report replaces the answer; the request is not acted on
        BadChecksum, // the answer's checksum byte is inverted
        Split,       // the answer goes out in two writes delayMs apart
        Garbage,     // a few stray bytes go out delayMs before the answer
        Twice,       // the answer goes out again delayMs after the first copy
        Pieces,      // the answer goes out in pieces of three bytes, delayMs apart
        Stall,       // with its answer, the line takes no byte from the host for delayMs
                     // (a pseudo-terminal only: a write that outlives its wait)
    };
    Kind kind = Silent;
    int times = -1;
    int onPart = 0;
    int delayMs = 0; // the rule's parameter; for ErrorReport the code to report (0: WriteFailed)
};

struct DeviceConfig
{
    std::array<quint8, 8> id{};
    int kind = 0;        // sent as the command number of the search answer, 0..255
    quint8 verMajor = 1; // bit 7 set: the device runs its boot loader
    quint8 verMinor = 0;
    bool chatty = false; // keeps answering searches after its confirmation
    std::vector<FaultRule> faults;
};

// Codes of the error reports the simulated devices send (signed, little-endian on the line).
enum ErrorCode : qint32 {
    ErrorUnknownCommand = -1, // a request the device does not know
    ErrorBadLength = -2,      // frame too short, or a first/middle part not of 197 bytes
    ErrorBadStage = -3,       // firmware stage other than 0..3
    ErrorNotStarted = -4,     // middle or last part while no image is being received
    ErrorOutOfSequence = -5,  // part number neither the next one nor a repeat of the last
    ErrorWriteFailed = -6,    // default code of an injected error report
};

// Parses a device description such as
//   id=00:1a:2b:3c:4d:5e:6f:70,kind=10,version=2.7,boot,fault=late:1500:times=2
// (grammar in devsim/README.md). Without id= a fresh address is made up.
bool parseDevice(const std::string &text, DeviceConfig *out, std::string *error);

std::string formatId(const std::array<quint8, 8> &id); // "00:1a:2b:..."

// The sample line: two VT-TALLY-8, a VT-TALLY-16 and a VT-PROBE in its boot
// loader. What olvex-devsim plays when no device is named, and what the demo
// shows.
std::vector<DeviceConfig> sampleDevices();

struct Options
{
    int baud = 0;         // pace answers as if the line ran at this rate; 0 = no pacing
    int slotMs = 2;       // without pacing: spacing of answers to the same request
    int quietGapMs = 3;   // quiet time that ends a short firmware frame or drops stray bytes
    bool verbose = false; // log every frame to stderr
    // Collisions, as on a real bus: > 0 makes every device answer a search
    // request in one of this many slots, chosen at random; answers that share
    // a slot garble each other. A slot lasts one search answer on the wire
    // (slotMs without pacing).
    int collisionSlots = 0;
    unsigned seed = 1; // for the slots
    // A two-wire adapter whose receiver stays on: every byte the host writes
    // comes straight back to it.
    bool echo = false;
    // > 0: a second master polls the line this often (ms), in turn a Modbus
    // RTU request and a CPD request to a device of its own; the host sees
    // both, the simulated devices do not answer them.
    int masterMs = 0;
};

// What the host put on the line. Bytes that never formed a valid frame are kept
// too, with valid = false, once the line has been quiet for the gap.
struct HostFrame
{
    std::chrono::steady_clock::time_point at; // arrival of the last byte
    std::vector<quint8> bytes;
    bool valid = true;
};

enum class ImageState { None, Receiving, Complete, Aborted };
const char *imageStateName(ImageState state);

class Simulator
{
public:
    explicit Simulator(std::vector<DeviceConfig> devices, Options options = {});
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Creates a pseudo-terminal; the host opens path().
    bool openPty(std::string *error = nullptr);
    // Uses a real port (raw, 8N1, no flow control) at the given rate.
    bool openSerial(const std::string &path, int baud, std::string *error = nullptr);
    std::string path() const;

    void start(); // starts serving the opened line
    void stop();  // joins the worker and closes the line; safe to call twice

    size_t deviceCount() const;
    std::vector<HostFrame> hostFrames() const;
    void clearHostFrames();
    std::vector<quint8> image(size_t device) const;
    ImageState imageState(size_t device) const;
    int firmwareFramesReceived(size_t device) const;
    bool confirmed(size_t device) const;

    // Puts bytes on the line at once, as if some device had sent them.
    void writeRaw(const std::vector<quint8> &bytes);

    // Waits until pred() holds, re-checking whenever a host frame arrives or
    // the devices change. Returns pred()'s last value.
    bool waitFor(const std::function<bool()> &pred, int timeoutMs) const;

private:
    struct Private;
    std::unique_ptr<Private> m_p;
};

} // namespace DevSim
