// The tables, the report and the JSON that olvex-cli prints as its result.

#include "cli/report.h"

#include "registry/devicetext.h"

#include <QJsonValue>
#include <QStringList>

#include <algorithm>

namespace Cli {

namespace {

constexpr int ColumnGap = 2;
constexpr double MsPerSecond = 1000.0;

// A device flash left alone.
const QString NotSelected = QStringLiteral("not selected");
const QString OtherType = QStringLiteral("other type");
const QString Current = QStringLiteral("already at %1");

QString typeText(qint32 devType)
{
    const QString model = DeviceText::model(devType);
    return model.isEmpty() ? QStringLiteral("unknown") : model;
}

QString versionText(const DeviceRecord &record)
{
    const QString version = DeviceText::version(record.verMajor, record.verMinor);
    return version.isEmpty() ? QStringLiteral("unknown") : version;
}

// Left-aligned columns; the last one is not padded.
QString table(const std::vector<QStringList> &rows, int gap = ColumnGap)
{
    std::vector<int> widths;
    for (const QStringList &row : rows) {
        widths.resize(std::max(widths.size(), size_t(row.size())), 0);
        for (int i = 0; i < row.size(); ++i)
            widths[size_t(i)] = std::max(widths[size_t(i)], int(row[i].size()));
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[size_t(i)] + gap) : row[i];
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1); // an empty last column leaves no blanks behind
        text += line + QLatin1Char('\n');
    }
    return text;
}

int widestLine(const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, int(line.size()));
    return widest;
}

// A table for a terminal `columns` wide (0: any width): as it is if it fits,
// else with one blank between columns, else with short headings as well.
// What a script reads off a pipe is always the full table.
QString fittedTable(std::vector<QStringList> rows, int columns)
{
    QString text = table(rows);
    if (columns <= 0 || widestLine(text) < columns)
        return text;
    text = table(rows, 1);
    if (widestLine(text) < columns)
        return text;
    static const QStringList full{
        QStringLiteral("OUTCOME"), QStringLiteral("REPEATS"), QStringLiteral("SECONDS")};
    static const QStringList brief{
        QStringLiteral("RESULT"), QStringLiteral("REP"), QStringLiteral("SEC")};
    for (QString &heading : rows.front()) {
        const int i = int(full.indexOf(heading));
        if (i >= 0)
            heading = brief[i];
    }
    return table(rows, 1);
}

} // namespace

QString deviceName(const DeviceRecord &record, const std::vector<DeviceRecord> &all)
{
    // The table shows the first six address bytes; devices that share them
    // are told apart by all eight.
    constexpr int Shown = 6;
    const bool shared = std::any_of(all.begin(), all.end(), [&](const DeviceRecord &other) {
        return other.id != record.id
               && std::equal(record.id.begin(), record.id.begin() + Shown, other.id.begin());
    });
    return shared ? DeviceText::fullAddress(record.id) : DeviceText::address(record.id);
}

QString outcomeName(const DeviceRecord &record)
{
    switch (record.outcome) {
    case FlashDone:
        return QStringLiteral("updated");
    case FlashNone:
        return QStringLiteral("not started");
    default:
        // Running after the worker has ended means given up unsettled.
        return QStringLiteral("failed");
    }
}

QString failureReason(const DeviceRecord &record)
{
    if (record.outcome != FlashFailed && record.outcome != FlashRunning)
        return QString();
    switch (record.failure) {
    case FailureNoAnswer:
        return QStringLiteral("no answer");
    case FailureErrorAnswer:
        return QStringLiteral("error answer (code %1)").arg(record.errorCode);
    case FailureWrongAnswer:
        return QStringLiteral("wrong acknowledgement");
    case FailureInterrupted:
        return QStringLiteral("interrupted");
    case FailurePortLost:
        return QStringLiteral("port lost");
    case FailureNoImage:
        return QStringLiteral("no image");
    default:
        // Still running once the worker has ended: it was stopped with it.
        return record.outcome == FlashRunning ? QStringLiteral("interrupted") : QString();
    }
}

double transferSeconds(const DeviceRecord &record, qint64 nowMs)
{
    if (record.startedMs == 0)
        return 0.0;
    const qint64 end = record.endedMs != 0 ? record.endedMs : nowMs;
    return double(end - record.startedMs) / MsPerSecond;
}

QString duration(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, (ms + 500) / 1000);
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return QString::asprintf("%lld:%02lld:%02lld", h, m, s);
    return QString::asprintf("%lld:%02lld", m, s);
}

QString deviceCount(int count)
{
    return count == 1 ? QStringLiteral("1 device") : QStringLiteral("%1 devices").arg(count);
}

QString scanTable(const std::vector<DeviceRecord> &devices, int columns)
{
    std::vector<QStringList> rows{{QStringLiteral("ADDRESS"),
                                   QStringLiteral("TYPE"),
                                   QStringLiteral("VERSION"),
                                   QStringLiteral("BOOT")}};
    for (const DeviceRecord &r : devices) {
        rows.push_back({deviceName(r, devices),
                        typeText(r.devType),
                        versionText(r),
                        DeviceText::runsBootLoader(r.verMajor) ? QStringLiteral("yes")
                                                               : QStringLiteral("no")});
    }
    return fittedTable(rows, columns) + deviceCount(int(devices.size())) + QLatin1Char('\n');
}

QString flashTable(const std::vector<DeviceRecord> &devices,
                   int partsTotal,
                   int columns,
                   const std::vector<LeftAlone> &leftAlone)
{
    std::vector<QStringList> rows{{QStringLiteral("ADDRESS"),
                                   QStringLiteral("TYPE"),
                                   QStringLiteral("OUTCOME"),
                                   QStringLiteral("PARTS"),
                                   QStringLiteral("REPEATS"),
                                   QStringLiteral("SECONDS"),
                                   QStringLiteral("REASON")}};
    int updated = 0;
    int failed = 0;
    int notStarted = 0;
    int otherType = 0;
    int current = 0;
    QString currentVersion; // the same for every device left alone as current
    bool reasons = false;
    for (size_t pos = 0; pos < devices.size(); ++pos) {
        const DeviceRecord &r = devices[pos];
        const LeftAlone alone = pos < leftAlone.size() ? leftAlone[pos] : LeftAlone::No;
        if (alone != LeftAlone::No) {
            const QString none = QStringLiteral("-");
            rows.push_back(
                {deviceName(r, devices),
                 typeText(r.devType),
                 NotSelected,
                 none,
                 none,
                 none,
                 alone == LeftAlone::OtherType ? OtherType : Current.arg(versionText(r))});
            otherType += alone == LeftAlone::OtherType ? 1 : 0;
            if (alone == LeftAlone::Current) {
                ++current;
                currentVersion = versionText(r);
            }
            reasons = true;
            continue;
        }
        if (r.selected != 1)
            continue;
        const QString outcome = outcomeName(r);
        updated += r.outcome == FlashDone ? 1 : 0;
        notStarted += r.outcome == FlashNone ? 1 : 0;
        failed += r.outcome != FlashDone && r.outcome != FlashNone ? 1 : 0;
        rows.push_back({deviceName(r, devices),
                        typeText(r.devType),
                        outcome,
                        QStringLiteral("%1/%2").arg(r.partsAcked).arg(partsTotal),
                        QString::number(r.repeats),
                        QString::number(transferSeconds(r, transferClockMs()), 'f', 1),
                        failureReason(r)});
        reasons = reasons || !rows.back().last().isEmpty();
    }
    if (!reasons) { // a column only when some device failed
        for (QStringList &row : rows)
            row.removeLast();
    }
    QString counts = QStringLiteral("%1 updated, %2 failed, %3 not started")
                         .arg(updated)
                         .arg(failed)
                         .arg(notStarted);
    if (otherType > 0)
        counts += QStringLiteral(", %1 %2 (%3)").arg(otherType).arg(NotSelected, OtherType);
    if (current > 0)
        counts += QStringLiteral(", %1 %2 (%3)")
                      .arg(current)
                      .arg(NotSelected, Current.arg(currentVersion));
    return fittedTable(rows, columns) + counts + QLatin1Char('\n');
}

QJsonObject deviceJson(const DeviceRecord &record, int partsTotal, LeftAlone leftAlone)
{
    const QString version = DeviceText::version(record.verMajor, record.verMinor);
    QJsonObject device{
        {QStringLiteral("address"), DeviceText::address(record.id)},
        {QStringLiteral("id"), DeviceText::fullAddress(record.id)},
        {QStringLiteral("type"), typeText(record.devType)},
        {QStringLiteral("typeCode"), int(record.devType)},
        {QStringLiteral("version"), version.isEmpty() ? QJsonValue() : QJsonValue(version)},
        {QStringLiteral("bootLoader"), DeviceText::runsBootLoader(record.verMajor)},
    };
    if (partsTotal <= 0)
        return device;
    const bool selected = record.selected == 1 && leftAlone == LeftAlone::No;
    device.insert(QStringLiteral("selected"), selected);
    if (leftAlone != LeftAlone::No) {
        device.insert(QStringLiteral("outcome"), NotSelected);
        device.insert(QStringLiteral("reason"),
                      leftAlone == LeftAlone::OtherType ? OtherType
                                                        : Current.arg(QStringLiteral("version")));
    }
    if (!selected)
        return device;
    device.insert(QStringLiteral("outcome"), outcomeName(record));
    device.insert(QStringLiteral("partsAcknowledged"), int(record.partsAcked));
    device.insert(QStringLiteral("partsTotal"), partsTotal);
    device.insert(QStringLiteral("repeats"), qint64(record.repeats));
    device.insert(QStringLiteral("seconds"),
                  qRound(transferSeconds(record, transferClockMs()) * 10) / 10.0);
    const QString reason = failureReason(record);
    if (!reason.isEmpty()) {
        // The reason without its code; the code as a number of its own.
        device.insert(QStringLiteral("reason"), reason.section(QStringLiteral(" ("), 0, 0));
        if (record.failure == FailureErrorAnswer)
            device.insert(QStringLiteral("errorCode"), int(record.errorCode));
    }
    return device;
}

} // namespace Cli
