// Choosing the devices a flash writes.

#include "cli/selection.h"

#include "cli/cli.h"
#include "cli/report.h"
#include "protocol/typerule.h"
#include "registry/devicelist.h"
#include "registry/devicetext.h"

#include <QStringList>

#include <algorithm>

namespace Cli {

namespace {

QString names(const std::vector<DeviceRecord> &devices, const std::vector<int> &positions)
{
    QStringList texts;
    for (int pos : positions)
        texts << deviceName(devices[size_t(pos)], devices);
    return texts.join(QStringLiteral(", "));
}

// Which devices the operator named, as list positions. A name that finds no
// device, or more than one, is an error, before anything is written.
int resolve(Job &job, const std::vector<DeviceRecord> &devices, std::vector<int> &chosen)
{
    if (job.options.all) {
        for (int pos = 0; pos < int(devices.size()); ++pos)
            chosen.push_back(pos);
        return ExitOk;
    }
    QStringList unknown;
    for (const Address &address : job.options.devices) {
        std::vector<int> matches;
        for (int pos = 0; pos < int(devices.size()); ++pos) {
            if (address.matches(devices[size_t(pos)].id))
                matches.push_back(pos);
        }
        if (matches.empty())
            unknown << address.text;
        if (matches.size() > 1) {
            return job.fail(ExitUsage,
                            QStringLiteral("%1 names %2 devices (%3); give all eight bytes")
                                .arg(address.text)
                                .arg(matches.size())
                                .arg(names(devices, matches)));
        }
        if (matches.size() == 1
            && std::find(chosen.begin(), chosen.end(), matches.front()) == chosen.end())
            chosen.push_back(matches.front());
    }
    if (!unknown.isEmpty()) {
        return job.fail(ExitNotFound,
                        QStringLiteral("not found on %1: %2")
                            .arg(job.options.port, unknown.join(QStringLiteral(", "))));
    }
    return ExitOk;
}

// With a type (--type, or the one the image is signed for) only the devices
// of that type are candidates: --all leaves the others alone, a named device
// of another type stops the run before anything is written.
int keepType(Job &job,
             const std::vector<DeviceRecord> &devices,
             const Wanted &wanted,
             Selection &selection)
{
    if (!wanted.type)
        return ExitOk;
    QStringList refused;
    std::vector<int> kept;
    for (int pos : selection.chosen) {
        const DeviceRecord &record = devices[size_t(pos)];
        if (record.devType == *wanted.type) {
            kept.push_back(pos);
            continue;
        }
        if (job.options.all)
            selection.leftAlone[size_t(pos)] = LeftAlone::OtherType;
        const QString model = DeviceText::model(record.devType);
        refused << deviceName(record, devices)
                       + (model.isEmpty() ? QStringLiteral(" is of unknown type")
                                          : QStringLiteral(" is ") + model);
    }
    selection.chosen = kept;
    if (job.options.all || refused.isEmpty())
        return ExitOk;
    const QString named
        = job.options.type
              ? QStringLiteral("--type %1").arg(DeviceText::model(*wanted.type))
              : QStringLiteral("the image is signed for %1").arg(DeviceText::model(*wanted.type));
    return job.fail(ExitUsage,
                    QStringLiteral("%1, but %2").arg(named, refused.join(QStringLiteral(", "))));
}

// --skip-current: a device whose inventory shows exactly the signed version
// is left alone. One in its boot loader shows the loader's version, and is
// written.
void skipCurrent(const std::vector<DeviceRecord> &devices,
                 const Wanted &wanted,
                 Selection &selection)
{
    if (wanted.current.isEmpty())
        return;
    std::vector<int> kept;
    for (int pos : selection.chosen) {
        const DeviceRecord &record = devices[size_t(pos)];
        if (!DeviceText::runsBootLoader(record.verMajor)
            && DeviceText::version(record.verMajor, record.verMinor) == wanted.current)
            selection.leftAlone[size_t(pos)] = LeftAlone::Current;
        else
            kept.push_back(pos);
    }
    selection.chosen = kept;
}

// Ticks exactly the chosen devices, as the window's tick boxes would.
void tick(const std::vector<int> &chosen, int count)
{
    std::vector<bool> ticked(size_t(count), false);
    for (int pos : chosen)
        ticked[size_t(pos)] = true;
    for (int pos = 0; pos < count; ++pos)
        DeviceList.setSelected(pos, ticked[size_t(pos)] ? 1 : 0);
}

// All devices of one update must be of one type.
int checkOneType(Job &job, const std::vector<DeviceRecord> &devices)
{
    const auto conflict = TypeRule::findConflict(devices);
    if (!conflict)
        return ExitOk;
    const auto typed = [&devices](int pos) {
        const DeviceRecord &record = devices[size_t(pos)];
        const QString model = DeviceText::model(record.devType);
        return deviceName(record, devices)
               + (model.isEmpty() ? QStringLiteral(" of unknown type")
                                  : QStringLiteral(" is ") + model);
    };
    return job.fail(ExitUsage,
                    QStringLiteral("devices of different types: %1, %2")
                        .arg(typed(conflict->first), typed(conflict->other)));
}

} // namespace

Selection chooseDevices(Job &job, const std::vector<DeviceRecord> &devices, const Wanted &wanted)
{
    Selection selection;
    selection.leftAlone.assign(devices.size(), LeftAlone::No);
    selection.status = resolve(job, devices, selection.chosen);
    if (selection.status == ExitOk)
        selection.status = keepType(job, devices, wanted, selection);
    if (selection.status == ExitOk)
        skipCurrent(devices, wanted, selection);
    tick(selection.chosen, int(devices.size()));
    if (selection.status == ExitOk)
        selection.status = checkOneType(job, DeviceList.snapshot());
    return selection;
}

} // namespace Cli
