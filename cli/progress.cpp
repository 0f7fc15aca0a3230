// The progress of an update pass, for people.

#include "cli/progress.h"

#include "cli/report.h"

#include <algorithm>

namespace Cli {

namespace {

// A terminal's line is redrawn this often: the clocks on it move on between
// frames, and a resized terminal gets a line of its new width.
constexpr int TerminalRefreshMs = 250;
constexpr int Tenths = 10;

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
    m_console.err.clearLive();
}

qint64 Progress::msPerPart(const DeviceRecord &record, const Shown &shown, qint64 nowMs) const
{
    const int parts = record.partsAcked - shown.firstAcked;
    return parts > 0 ? (nowMs - shown.firstAckMs) / parts : 0;
}

QString
Progress::line(const DeviceRecord &record, const Shown &shown, qint64 nowMs, int columns) const
{
    const QString percentText
        = record.partsAcked == 0
              ? QStringLiteral("preparing")
              : QStringLiteral("%1%").arg(percent(record.partsAcked, m_partsTotal), 3);
    const QString parts = QStringLiteral("%1/%2").arg(record.partsAcked).arg(m_partsTotal);
    const QString repeats
        = record.repeats == 0 ? QString() : QStringLiteral("%1 repeats").arg(record.repeats);
    const QString elapsed = duration(nowMs - record.startedMs) + QStringLiteral(" elapsed");
    QString left;
    QString batch;
    const qint64 partMs = msPerPart(record, shown, nowMs);
    if (partMs > 0) {
        // The devices still waiting each take what this one took to its first
        // acknowledgement (the start pause) and then a part time for every other part.
        const qint64 deviceLeft = qint64(m_partsTotal - record.partsAcked) * partMs;
        const qint64 perDevice
            = (shown.firstAckMs - record.startedMs) + qint64(m_partsTotal - 1) * partMs;
        left = duration(deviceLeft) + QStringLiteral(" left");
        if (m_waiting > 0)
            batch
                = QStringLiteral("batch %1 left").arg(duration(deviceLeft + m_waiting * perDevice));
    }
    // From the whole line to the barest, the first that fits: the batch goes
    // first, then the elapsed time, the word "parts", the time left, the parts.
    const QString full = parts + QStringLiteral(" parts");
    const std::vector<QStringList> variants{
        {name(record), percentText, full, repeats, elapsed, left, batch},
        {name(record), percentText, full, repeats, elapsed, left},
        {name(record), percentText, full, repeats, left},
        {name(record), percentText, parts, repeats, left},
        {name(record), percentText, parts, repeats},
        {name(record), percentText, repeats},
    };
    QString text;
    for (const QStringList &fields : variants) {
        QStringList present;
        for (const QString &field : fields) {
            if (!field.isEmpty())
                present << field;
        }
        text = present.join(QStringLiteral("  "));
        if (columns <= 0 || text.size() < columns)
            return text;
    }
    // Never wider than the terminal: a wrapped line would be left behind at
    // every redraw.
    return text.left(columns - 1);
}

QString Progress::settledLine(const DeviceRecord &record, qint64 nowMs) const
{
    const QString reason = failureReason(record);
    return QStringLiteral("%1  %2  %3/%4 parts  %5 repeats  %6%7")
        .arg(name(record), outcomeName(record))
        .arg(record.partsAcked)
        .arg(m_partsTotal)
        .arg(record.repeats)
        .arg(duration(qint64(transferSeconds(record, nowMs) * 1000)),
             reason.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(reason));
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
            m_console.err.write(line(record, shown, now, 0) + QLatin1Char('\n'));
        shown.started = true;
        if (record.outcome != FlashRunning) {
            shown.settled = true;
            m_console.err.clearLive();
            m_console.err.write(settledLine(record, now) + QLatin1Char('\n'));
            continue;
        }
        if (m_console.errIsTerminal) {
            live = line(record, shown, now, m_console.errColumns());
            continue;
        }
        const int tenths = percent(record.partsAcked, m_partsTotal) / Tenths;
        if (tenths > shown.tenths && tenths < Tenths) {
            shown.tenths = tenths;
            m_console.err.write(line(record, shown, now, 0) + QLatin1Char('\n'));
        }
    }
    if (!live.isEmpty())
        m_console.err.writeLive(live);
}

} // namespace Cli
