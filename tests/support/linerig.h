#pragma once

// A real serial worker on one end of a pseudo-terminal and the device
// simulator on the other, steered the way the main window steers the worker.

#include "devsim/simulator.h"
#include "registry/registry.h"
#include "serial/serialthread.h"

#include "support/signalrecorder.h"
#include "support/traffic.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// A simulator with these devices, running on a pseudo-terminal of its own.
std::unique_ptr<DevSim::Simulator> startSimulator(std::vector<DevSim::DeviceConfig> devices,
                                                  DevSim::Options options = {});

// What the flash button does, refusals aside (the callers' images fit): ticks
// exactly the given list positions and asks for an update pass with the file.
void requestFlash(const QString &path, const std::vector<int> &ticked);

class LineRig
{
public:
    explicit LineRig(std::vector<DevSim::DeviceConfig> devices, DevSim::Options options = {});
    ~LineRig();

    DevSim::Simulator &sim() { return *m_sim; }
    SerialThread &worker() { return *m_worker; }
    // Destroys the worker (which stops it, as closing the window does) and
    // puts a fresh one in its place.
    void replaceWorker();
    SignalRecorder &signalsSeen() { return m_signals; }
    QString port() const;

    // Presses "search" on the simulator's line and waits for the inventory to end.
    // False when it did not end within timeoutMs.
    bool search(int timeoutMs = 30000);
    // Starts a search without waiting.
    void startSearch(const QString &portName);

    // Ticks the given list positions, sets the file and asks for the update,
    // then waits until it is over.
    bool flash(const QString &path, const std::vector<int> &ticked, int timeoutMs = 60000);
    void requestFlash(const QString &path, const std::vector<int> &ticked);
    bool waitForSignal(const QString &name, int timeoutMs);

    // Firmware frames the host sent to one device: (stage, part) in order.
    std::vector<std::pair<int, int>> firmwareFramesTo(const std::array<quint8, 8> &id) const;

private:
    std::unique_ptr<DevSim::Simulator> m_sim;
    std::unique_ptr<SerialThread> m_worker = std::make_unique<SerialThread>();
    SignalRecorder m_signals;
};

// What a simulated device holds of the image it was sent.
QByteArray imageOf(const DevSim::Simulator &sim, size_t device);

DevSim::DeviceConfig simDevice(const std::array<quint8, 8> &id,
                               int kind,
                               quint8 major,
                               quint8 minor,
                               std::vector<DevSim::FaultRule> faults = {});

// A crowd of tally-8 devices, numbered from 0, version 1.n.
std::vector<DevSim::DeviceConfig> crowd(int count);
std::array<quint8, 8> crowdId(int n);
