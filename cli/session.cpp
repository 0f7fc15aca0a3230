// A job on one line for the terminal tool, heard through the notifier.

#include "cli/session.h"

#include "cli/interrupts.h"
#include "protocol/firmware.h"
#include "serial/jobs.h"

#include <QEventLoop>

namespace Cli {

LineSession::LineSession(const QString &port,
                         Interrupts &interrupts,
                         std::shared_ptr<LineCapture> capture,
                         QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_worker.setCapture(std::move(capture));
    // The notifier and this session live on the main thread; the worker's
    // emissions reach these slots queued, in the order they were made.
    connect(&m_worker, &SerialThread::jobEnded, this, &LineSession::onJobEnded);
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
    return await(JobEnd::SearchFinished);
}

LineSession::End LineSession::update(std::shared_ptr<const FirmwareImage> image)
{
    // The idle worker takes the request up at its next look (every 2 s).
    LineJobs::requestPass(std::move(image));
    return await(JobEnd::PassFinished);
}

void LineSession::stop()
{
    m_worker.stop();
}

LineSession::End LineSession::await(JobEnd::Kind done)
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

void LineSession::onJobEnded(const JobEnd &end)
{
    m_jobEnd = end;
    m_foreign.frames += end.foreignFrames;
    m_foreign.bytes += end.foreignBytes;
    switch (end.kind) {
    case JobEnd::SearchFinished:
        if (end.devices == 0)
            finish(End::NoDevices);
        else if (m_awaited == JobEnd::SearchFinished)
            finish(End::Done);
        break;
    case JobEnd::PassFinished:
        if (m_awaited == JobEnd::PassFinished)
            finish(End::Done);
        break;
    case JobEnd::PortFailed:
        finish(End::PortFailed);
        break;
    case JobEnd::NoPortName:
        finish(End::NoPort);
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
