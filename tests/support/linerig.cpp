#include "support/linerig.h"

#include "protocol/image.h"
#include "protocol/frame.h"
#include "serial/jobs.h"

#include <QTest>

#include <memory>

std::unique_ptr<DevSim::Simulator> startSimulator(std::vector<DevSim::DeviceConfig> devices,
                                                  DevSim::Options options)
{
    auto sim = std::make_unique<DevSim::Simulator>(std::move(devices), options);
    std::string error;
    if (!sim->openPty(&error))
        qFatal("cannot open a pseudo-terminal: %s", error.c_str());
    sim->start();
    return sim;
}

LineRig::LineRig(std::vector<DevSim::DeviceConfig> devices, DevSim::Options options)
    : m_sim(startSimulator(std::move(devices), options))
{}

LineRig::~LineRig()
{
    // The worker goes before the line it talks to.
    m_worker.reset();
    m_sim->stop();
}

void LineRig::replaceWorker()
{
    m_worker.reset();
    m_worker = std::make_unique<SerialThread>();
}

QString LineRig::port() const
{
    return QString::fromStdString(m_sim->path());
}

void LineRig::startSearch(const QString &portName)
{
    LineJobs::startSearch(*m_worker, portName);
}

bool LineRig::waitForSignal(const QString &name, int timeoutMs)
{
    return QTest::qWaitFor([this, &name] { return m_signals.count(name) > 0; }, timeoutMs);
}

bool LineRig::search(int timeoutMs)
{
    m_signals.clear();
    startSearch(port());
    return QTest::qWaitFor(
        [this] {
            return m_signals.count("UpdateMainStatus(4)") + m_signals.count("UpdateMainStatus(6)")
                   > 0;
        },
        timeoutMs);
}

void LineRig::requestFlash(const QString &path, const std::vector<int> &ticked)
{
    for (int i = 0; i < DeviceList.size(); ++i)
        DeviceList.setSelected(i, 0);
    for (int pos : ticked)
        DeviceList.setSelected(pos, 1);
    // As the flash button does, refusals aside: the test's images fit.
    LineJobs::requestPass(ImageFile::load(path).image);
}

bool LineRig::flash(const QString &path, const std::vector<int> &ticked, int timeoutMs)
{
    m_signals.clear();
    requestFlash(path, ticked);
    return waitForSignal("UpdateMainStatus(8)", timeoutMs);
}

std::vector<std::pair<int, int>> LineRig::firmwareFramesTo(const std::array<quint8, 8> &id) const
{
    return ::firmwareFramesTo(*m_sim, id);
}

std::vector<std::vector<quint8>> firmwareFrameBytesTo(const DevSim::Simulator &sim,
                                                      const std::array<quint8, 8> &id)
{
    std::vector<std::vector<quint8>> out;
    for (const DevSim::HostFrame &f : sim.hostFrames()) {
        if (!f.valid || f.bytes.size() < 14 || !std::equal(id.begin(), id.end(), f.bytes.begin()))
            continue;
        const Cpd::CommandWord w = Cpd::unpackCommand(f.bytes.data());
        if (w.type == Cpd::TypeRequest && w.block == Cpd::BlockDevice
            && w.number == Cpd::NumberFirmware)
            out.push_back(f.bytes);
    }
    return out;
}

std::vector<std::pair<int, int>> firmwareFramesTo(const DevSim::Simulator &sim,
                                                  const std::array<quint8, 8> &id)
{
    std::vector<std::pair<int, int>> out;
    for (const std::vector<quint8> &bytes : firmwareFrameBytesTo(sim, id))
        out.emplace_back(bytes[10], (bytes[11] << 8) | bytes[12]);
    return out;
}

QByteArray imageOf(const DevSim::Simulator &sim, size_t device)
{
    const std::vector<quint8> image = sim.image(device);
    return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size()));
}

DevSim::DeviceConfig simDevice(const std::array<quint8, 8> &id,
                               int kind,
                               quint8 major,
                               quint8 minor,
                               std::vector<DevSim::FaultRule> faults)
{
    DevSim::DeviceConfig d;
    d.id = id;
    d.kind = kind;
    d.verMajor = major;
    d.verMinor = minor;
    d.faults = std::move(faults);
    return d;
}
