// The progress of an update pass, for people.

#include "cli/progress.h"

#include "cli/report.h"

#include <algorithm>

namespace Cli {

namespace {

constexpr int TerminalRefreshMs = 250;
constexpr int Tenths = 10;
const QString ClearLine = QStringLiteral("\r\033[K");

int percent(int acked, int total)
{
    return total > 0 ? acked * 100 / total : 0;
}

} // namespace

Progress::Progress(Console &console, int partsTotal, QObject *parent)
    : QObject(parent)
    , m_console(console)
    , m_partsTotal(partsTotal)
{
    m_timer.setInterval(TerminalRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &Progress::refresh);
}

void Progress::start()
{
    m_shown.assign(size_t(DeviceList.size()), Shown{});
    if (m_console.errIsTerminal)
        m_timer.start(); // the clocks on the live line move on between frames
}

void Progress::finish()
{
    m_timer.stop();
    refresh();
    endLive();
}

qint64 Progress::msPerPart(const DeviceRecord &record, const Shown &shown, qint64 nowMs) const
{
    const int parts = record.partsAcked - shown.firstAcked;
    return parts > 0 ? (nowMs - shown.firstAckMs) / parts : 0;
}

QString Progress::line(const DeviceRecord &record, const Shown &shown, qint64 nowMs) const
{
    QString text = name(record) + QStringLiteral("  ");
    if (record.partsAcked == 0)
        text += QStringLiteral("preparing");
    else
        text += QStringLiteral("%1%").arg(percent(record.partsAcked, m_partsTotal), 3);
    text += QStringLiteral("  %1/%2 parts  %3 elapsed")
                .arg(record.partsAcked)
                .arg(m_partsTotal)
                .arg(duration(nowMs - record.startedMs));
    const qint64 partMs = msPerPart(record, shown, nowMs);
    if (partMs <= 0)
        return text;
    // The devices still waiting each take what this one took to its first
    // acknowledgement (the start pause) and then a part time for every other part.
    const qint64 deviceLeft = qint64(m_partsTotal - record.partsAcked) * partMs;
    const qint64 perDevice
        = (shown.firstAckMs - record.startedMs) + qint64(m_partsTotal - 1) * partMs;
    text += QStringLiteral("  %1 left").arg(duration(deviceLeft));
    if (m_waiting > 0)
        text += QStringLiteral("  batch %1 left").arg(duration(deviceLeft + m_waiting * perDevice));
    return text;
}

QString Progress::settledLine(const DeviceRecord &record, qint64 nowMs) const
{
    return QStringLiteral("%1  %2  %3/%4 parts  %5 repeats  %6")
        .arg(name(record), outcomeName(record))
        .arg(record.partsAcked)
        .arg(m_partsTotal)
        .arg(record.repeats)
        .arg(duration(qint64(transferSeconds(record, nowMs) * 1000)));
}

QString Progress::name(const DeviceRecord &record) const
{
    return deviceName(record, m_devices);
}

void Progress::refresh()
{
    m_devices = DeviceList.snapshot();
    const std::vector<DeviceRecord> &devices = m_devices;
    const qint64 now = transferClockMs();
    m_shown.resize(devices.size());
    m_waiting = int(std::count_if(devices.begin(), devices.end(), [](const DeviceRecord &r) {
        return r.selected == 1 && r.outcome == FlashNone;
    }));
    QString live;
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceRecord &record = devices[i];
        Shown &shown = m_shown[i];
        if (record.selected != 1 || record.outcome == FlashNone || shown.settled)
            continue;
        if (record.partsAcked > 0 && shown.firstAckMs == 0) {
            shown.firstAckMs = now;
            shown.firstAcked = record.partsAcked;
        }
        if (!shown.started && !m_console.errIsTerminal)
            m_console.err.write(line(record, shown, now) + QLatin1Char('\n'));
        shown.started = true;
        if (record.outcome != FlashRunning) {
            shown.settled = true;
            endLive();
            m_console.err.write(settledLine(record, now) + QLatin1Char('\n'));
            continue;
        }
        if (m_console.errIsTerminal) {
            live = line(record, shown, now);
            continue;
        }
        const int tenths = percent(record.partsAcked, m_partsTotal) / Tenths;
        if (tenths > shown.tenths && tenths < Tenths) {
            shown.tenths = tenths;
            m_console.err.write(line(record, shown, now) + QLatin1Char('\n'));
        }
    }
    if (!live.isEmpty())
        showLive(live);
}

void Progress::showLive(const QString &text)
{
    m_console.err.write(ClearLine + text);
    m_live = true;
}

void Progress::endLive()
{
    if (!m_live)
        return;
    m_console.err.write(ClearLine);
    m_live = false;
}

} // namespace Cli
