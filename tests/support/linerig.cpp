#include "support/linerig.h"

#include "protocol/frame.h"
#include "protocol/image.h"
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

void requestFlash(const QString &path, const std::vector<int> &ticked)
{
    for (int i = 0; i < DeviceList.size(); ++i)
        DeviceList.setSelected(i, 0);
    for (int pos : ticked)
        DeviceList.setSelected(pos, 1);
    LineJobs::requestPass(ImageFile::load(path).image);
}

void LineRig::requestFlash(const QString &path, const std::vector<int> &ticked)
{
    ::requestFlash(path, ticked);
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

std::array<quint8, 8> crowdId(int n)
{
    return {0x4F, 0x4C, 0x56, 0x00, 0x00, quint8(n >> 8), quint8(n), 0x01};
}

std::vector<DevSim::DeviceConfig> crowd(int count)
{
    std::vector<DevSim::DeviceConfig> out;
    for (int i = 0; i < count; ++i)
        out.push_back(simDevice(crowdId(i), Cpd::KindTally8, 1, quint8(i)));
    return out;
}
