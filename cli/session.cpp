// A job on one line for the terminal tool, heard through the notifier.

#include "cli/session.h"

#include "cli/interrupts.h"
#include "protocol/firmware.h"
#include "serial/jobs.h"

#include <QEventLoop>

namespace Cli {

LineSession::LineSession(const QString &port, Interrupts &interrupts, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    qRegisterMetaType<Status>("Status");
    // The notifier lives on the main thread; the worker's emissions reach
    // these slots queued, in the order they were made.
    connect(&Notifier, &DevTable::UpdateMainStatus, this, &LineSession::onStatus);
    connect(&Notifier, &DevTable::UpdateTable, this, &LineSession::changed);
    connect(&Notifier, &DevTable::UpdateDevStatus, this, &LineSession::changed);
    connect(&interrupts, &Interrupts::interrupted, this, [this](int signalNumber) {
        m_signal = signalNumber;
        finish(End::Interrupted);
    });
}

LineSession::~LineSession()
{
    stop();
}

LineSession::End LineSession::search()
{
    LineJobs::startSearch(m_worker, m_port);
    return await(SelectDevices);
}

LineSession::End LineSession::update(std::shared_ptr<const FirmwareImage> image)
{
    // The idle worker takes the request up at its next look (every 2 s).
    LineJobs::requestPass(std::move(image));
    return await(UpdateFinished);
}

void LineSession::stop()
{
    m_worker.stop();
}

LineSession::End LineSession::await(Status done)
{
    if (m_signal != 0)
        return End::Interrupted;
    QEventLoop loop;
    m_loop = &loop;
    m_awaited = done;
    loop.exec();
    m_loop = nullptr;
    return m_end;
}

void LineSession::onStatus(Status status)
{
    switch (status) {
    case SelectDevices:
    case UpdateFinished:
        if (status == m_awaited)
            finish(End::Done);
        break;
    case NoDevicesFound:
        finish(End::NoDevices);
        break;
    case PortBusy:
        finish(End::PortFailed);
        break;
    case NoPortSelected:
        finish(End::NoPort);
        break;
    default:
        break;
    }
}

void LineSession::finish(End end)
{
    if (!m_loop)
        return;
    m_end = end;
    m_loop->quit();
}

} // namespace Cli
