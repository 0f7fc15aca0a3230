// The four commands of olvex-cli: ports, scan, flash and image.

#include "cli/commands.h"

#include "cli/cli.h"
#include "cli/diagnostics.h"
#include "cli/interrupts.h"
#include "cli/portcheck.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/session.h"
#include "protocol/image.h"
#include "protocol/typerule.h"
#include "registry/devicetext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <algorithm>
#include <vector>

namespace Cli {

namespace {

const QString Program = QStringLiteral("olvex-cli: ");

QString imageRefusal(ImageFile::Problem problem)
{
    using ImageFile::Problem;
    switch (problem) {
    case Problem::Missing:
        return QStringLiteral("no such image file");
    case Problem::Unreadable:
        return QStringLiteral("image refused, it cannot be read (not a readable regular file)");
    case Problem::Empty:
        return QStringLiteral("image refused, the file is empty");
    case Problem::TooSmall:
        return QStringLiteral("image refused, too small (%1 bytes or less)")
            .arg(ImageFile::TooSmallBytes);
    case Problem::TooLarge:
        return QStringLiteral("image refused, too large (more than %1 parts)")
            .arg(ImageFile::MaxParts);
    case Problem::None:
        break;
    }
    return QString();
}

QString names(const std::vector<DeviceRecord> &devices, const std::vector<int> &positions)
{
    QStringList texts;
    for (int pos : positions)
        texts << deviceName(devices[size_t(pos)], devices);
    return texts.join(QStringLiteral(", "));
}

// Everything a job needs on the line, in the order it must go: the log
// outlives the worker, whose last lines it takes.
struct Job
{
    Job(const Options &given, Console &to)
        : options(given)
        , console(to)
        , log(to.err, given.verbose)
    {}

    // A live line no wider than the terminal.
    QString fitted(const QString &text) const
    {
        const int columns = console.errColumns();
        return columns > 0 && text.size() >= columns ? text.left(columns - 1) : text;
    }

    // People's texts, unless --quiet.
    void say(const QString &text)
    {
        if (!options.quiet)
            console.err.write(text + QLatin1Char('\n'));
    }
    int fail(int code, const QString &text)
    {
        console.err.write(Program + text + QLatin1Char('\n'));
        error = text;
        return code;
    }
    // The JSON document, when asked for.
    int result(int code, QJsonObject document)
    {
        if (!options.json)
            return code;
        document.insert(QStringLiteral("exitCode"), code);
        if (!error.isEmpty())
            document.insert(QStringLiteral("error"), error);
        console.out.write(QString::fromUtf8(QJsonDocument(document).toJson()));
        return code;
    }
    QJsonObject document(const QString &command) const
    {
        return {{QStringLiteral("command"), command}, {QStringLiteral("port"), options.port}};
    }
    bool openLog()
    {
        if (options.logFile.isEmpty() || log.openFile(options.logFile))
            return true;
        fail(ExitUsage, QStringLiteral("cannot write the log file %1").arg(options.logFile));
        return false;
    }

    QString portTrouble(const LineSession &session) const
    {
        const JobEnd &end = session.jobEnd();
        return portProblem(options.port, end.portLost, end.portError);
    }

    // The search, with the exit status of a search that found nothing to do.
    int search(LineSession &session)
    {
        // On a terminal one live line counts the devices as they answer.
        const bool live = !options.quiet && console.errIsTerminal;
        QMetaObject::Connection counter;
        if (live) {
            console.err.writeLive(fitted(QStringLiteral("searching %1").arg(options.port)));
            counter = QObject::connect(&session, &LineSession::changed, &session, [this] {
                console.err.writeLive(fitted(QStringLiteral("searching %1: %2 found")
                                                 .arg(options.port)
                                                 .arg(DeviceList.size())));
            });
        } else {
            say(QStringLiteral("searching %1").arg(options.port));
        }
        const LineSession::End end = session.search();
        if (live) {
            QObject::disconnect(counter);
            console.err.endLive();
        }
        switch (end) {
        case LineSession::End::Done:
            return ExitOk;
        case LineSession::End::NoDevices:
            return fail(ExitNotFound, QStringLiteral("no devices found on %1").arg(options.port));
        case LineSession::End::PortFailed:
            return fail(ExitPort, portTrouble(session));
        case LineSession::End::NoPort:
            return fail(ExitUsage, QStringLiteral("no port named"));
        case LineSession::End::Interrupted:
            break;
        }
        session.stop();
        return fail(ExitSignalBase + session.signalNumber(), QStringLiteral("interrupted"));
    }

    const Options &options;
    Console &console;
    DiagnosticLog log;
    QString error;
};

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

// With --type only the devices of that type are candidates: --all leaves the
// others alone (marked in `otherType`), a named device of another type stops
// the run before anything is written.
int keepType(Job &job,
             const std::vector<DeviceRecord> &devices,
             std::vector<int> &chosen,
             std::vector<bool> &otherType)
{
    otherType.assign(devices.size(), false);
    if (!job.options.type)
        return ExitOk;
    const qint32 wanted = *job.options.type;
    QStringList refused;
    std::vector<int> kept;
    for (int pos : chosen) {
        const DeviceRecord &record = devices[size_t(pos)];
        if (record.devType == wanted) {
            kept.push_back(pos);
            continue;
        }
        otherType[size_t(pos)] = job.options.all;
        const QString model = DeviceText::model(record.devType);
        refused << deviceName(record, devices)
                       + (model.isEmpty() ? QStringLiteral(" is of unknown type")
                                          : QStringLiteral(" is ") + model);
    }
    chosen = kept;
    if (job.options.all || refused.isEmpty())
        return ExitOk;
    return job.fail(ExitUsage,
                    QStringLiteral("--type %1, but %2")
                        .arg(DeviceText::model(wanted), refused.join(QStringLiteral(", "))));
}

QJsonArray devicesJson(const std::vector<DeviceRecord> &devices,
                       int partsTotal = 0,
                       const std::vector<bool> &otherType = {})
{
    QJsonArray array;
    for (size_t pos = 0; pos < devices.size(); ++pos)
        array.append(
            deviceJson(devices[pos], partsTotal, pos < otherType.size() && otherType[pos]));
    return array;
}

// --type --all on a line without a device of that type: nothing to do, which
// is no failure. The others are reported as left alone.
int noneOfType(Job &job,
               const std::vector<DeviceRecord> &devices,
               int partsTotal,
               const std::vector<bool> &otherType,
               QJsonObject &document)
{
    job.say(QStringLiteral("%1 found, none of type %2: nothing to update")
                .arg(deviceCount(int(devices.size())), DeviceText::model(*job.options.type)));
    if (!job.options.json)
        job.console.out.write(flashTable(devices, partsTotal, job.console.outColumns(), otherType));
    document.insert(QStringLiteral("devices"), devicesJson(devices, partsTotal, otherType));
    return job.result(ExitOk, document);
}

} // namespace

int listPorts(const Options &options, Console &console)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QJsonArray array;
    for (const QSerialPortInfo &info : ports) {
        const QString ids = info.hasVendorIdentifier() && info.hasProductIdentifier()
                                ? QString::asprintf(
                                    "%04x:%04x", info.vendorIdentifier(), info.productIdentifier())
                                : QString();
        const auto orDash = [](const QString &text) {
            return text.isEmpty() ? QStringLiteral("-") : text;
        };
        if (options.json) {
            array.append(QJsonObject{{QStringLiteral("port"), info.portName()},
                                     {QStringLiteral("location"), info.systemLocation()},
                                     {QStringLiteral("description"), info.description()},
                                     {QStringLiteral("manufacturer"), info.manufacturer()},
                                     {QStringLiteral("serialNumber"), info.serialNumber()},
                                     {QStringLiteral("usb"), ids}});
            continue;
        }
        console.out.write(
            QStringLiteral("%1  %2  description: %3  maker: %4  serial: %5  usb: %6\n")
                .arg(info.portName(),
                     info.systemLocation(),
                     orDash(info.description()),
                     orDash(info.manufacturer()),
                     orDash(info.serialNumber()),
                     orDash(ids)));
    }
    if (options.json)
        console.out.write(QString::fromUtf8(QJsonDocument(array).toJson()));
    else if (ports.isEmpty() && !options.quiet)
        console.err.write(QStringLiteral("no serial ports\n"));
    return ExitOk;
}

int scan(const Options &options, Console &console)
{
    Job job(options, console);
    if (!job.openLog())
        return ExitUsage;
    Interrupts interrupts;
    LineSession session(options.port, interrupts);
    QJsonObject document = job.document(QStringLiteral("scan"));
    const int searched = job.search(session);
    session.stop();
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    document.insert(QStringLiteral("devices"), devicesJson(devices));
    if (searched == ExitOk && !options.json)
        console.out.write(scanTable(devices, console.outColumns()));
    return job.result(searched, document);
}

int flash(const Options &options, Console &console)
{
    Job job(options, console);
    QJsonObject document = job.document(QStringLiteral("flash"));
    document.insert(QStringLiteral("image"), options.image);
    document.insert(QStringLiteral("devices"), QJsonArray());

    // A refused image does not even search.
    const ImageFile::Loaded loaded = ImageFile::load(options.image);
    if (loaded.problem != ImageFile::Problem::None) {
        job.fail(ExitUsage, imageRefusal(loaded.problem) + QStringLiteral(": ") + options.image);
        return job.result(ExitUsage, document);
    }
    if (!job.openLog())
        return ExitUsage;
    const int partsTotal = int(ImageFile::partsFor(quint32(loaded.image->bytes.size())));
    document.insert(QStringLiteral("imageBytes"), int(loaded.image->bytes.size()));

    Interrupts interrupts;
    LineSession session(options.port, interrupts);
    const int searched = job.search(session);
    if (searched != ExitOk) {
        session.stop();
        document.insert(QStringLiteral("devices"), devicesJson(DeviceList.snapshot()));
        return job.result(searched, document);
    }

    std::vector<DeviceRecord> devices = DeviceList.snapshot();
    std::vector<int> chosen;
    std::vector<bool> otherType;
    int status = resolve(job, devices, chosen);
    if (status == ExitOk)
        status = keepType(job, devices, chosen, otherType);
    std::vector<bool> ticked(devices.size(), false);
    for (int pos : chosen)
        ticked[size_t(pos)] = true;
    for (int pos = 0; pos < int(devices.size()); ++pos)
        DeviceList.setSelected(pos, ticked[size_t(pos)] ? 1 : 0);
    devices = DeviceList.snapshot();
    if (status == ExitOk) {
        if (const auto conflict = TypeRule::findConflict(devices)) {
            const auto typed = [&devices](int pos) {
                const DeviceRecord &record = devices[size_t(pos)];
                const QString model = DeviceText::model(record.devType);
                return deviceName(record, devices)
                       + (model.isEmpty() ? QStringLiteral(" of unknown type")
                                          : QStringLiteral(" is ") + model);
            };
            status = job.fail(ExitUsage,
                              QStringLiteral("devices of different types: %1, %2")
                                  .arg(typed(conflict->first), typed(conflict->other)));
        }
    }
    if (status == ExitOk && chosen.empty()) {
        session.stop();
        return noneOfType(job, devices, partsTotal, otherType, document);
    }
    if (status != ExitOk) {
        session.stop();
        document.insert(QStringLiteral("devices"), devicesJson(devices));
        return job.result(status, document);
    }

    job.say(QStringLiteral("%1 found; updating %2%3 with %4 (%5 parts)")
                .arg(deviceCount(int(devices.size())))
                .arg(chosen.size())
                .arg(options.type ? QStringLiteral(" of type ") + DeviceText::model(*options.type)
                                  : QString())
                .arg(options.image)
                .arg(partsTotal));
    Progress progress(console, partsTotal);
    if (!options.quiet) {
        QObject::connect(&session, &LineSession::changed, &progress, &Progress::refresh);
        progress.start();
    }
    const LineSession::End end = session.update(loaded.image);
    status = ExitOk;
    if (end == LineSession::End::Interrupted) {
        status = job.fail(ExitSignalBase + session.signalNumber(),
                          QStringLiteral("interrupted, giving up the device being written"));
    } else if (end == LineSession::End::PortFailed) {
        status = job.fail(ExitPort, job.portTrouble(session));
    }
    // Interrupted, this gives up the device being written and starts no
    // other; otherwise the worker is idle and ends at once.
    session.stop();
    if (!options.quiet)
        progress.finish();

    devices = DeviceList.snapshot();
    for (const DeviceRecord &r : devices) {
        if (status == ExitOk && r.selected == 1 && r.outcome != FlashDone)
            status = ExitFailed;
    }
    document.insert(QStringLiteral("devices"), devicesJson(devices, partsTotal, otherType));
    document.insert(QStringLiteral("interrupted"), end == LineSession::End::Interrupted);
    if (!options.json)
        console.out.write(flashTable(devices, partsTotal, console.outColumns(), otherType));
    return job.result(status, document);
}

// What a flash would make of the image, without a line: a fleet checks the
// image once on every gateway before any of them writes.
int checkImage(const Options &options, Console &console)
{
    Job job(options, console);
    QJsonObject document{{QStringLiteral("command"), QStringLiteral("image")},
                         {QStringLiteral("image"), options.image}};
    const ImageFile::Loaded loaded = ImageFile::load(options.image);
    if (loaded.problem != ImageFile::Problem::None) {
        job.fail(ExitUsage, imageRefusal(loaded.problem) + QStringLiteral(": ") + options.image);
        return job.result(ExitUsage, document);
    }
    const quint32 bytes = quint32(loaded.image->bytes.size());
    const quint32 parts = ImageFile::partsFor(bytes);
    document.insert(QStringLiteral("imageBytes"), qint64(bytes));
    document.insert(QStringLiteral("partsTotal"), qint64(parts));
    if (!options.json)
        console.out.write(
            QStringLiteral("%1: %2 bytes, %3 parts\n").arg(options.image).arg(bytes).arg(parts));
    return job.result(ExitOk, document);
}

} // namespace Cli
