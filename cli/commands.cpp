// The four commands of olvex-cli: ports, scan, flash and image.

#include "cli/commands.h"

#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/job.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/selection.h"
#include "cli/session.h"
#include "cli/signing.h"
#include "protocol/image.h"
#include "registry/devicetext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <algorithm>
#include <vector>

namespace Cli {

namespace {

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
    case Problem::Signature: // said by the signature's own words
    case Problem::None:
        break;
    }
    return QString();
}

QJsonArray devicesJson(const std::vector<DeviceRecord> &devices,
                       int partsTotal = 0,
                       const std::vector<LeftAlone> &leftAlone = {})
{
    QJsonArray array;
    for (size_t pos = 0; pos < devices.size(); ++pos)
        array.append(deviceJson(
            devices[pos], partsTotal, pos < leftAlone.size() ? leftAlone[pos] : LeftAlone::No));
    return array;
}

// Every device found is of another type, or already at the image's version:
// nothing to do, which is no failure. They are reported as left alone.
int nothingToUpdate(Job &job,
                    const std::vector<DeviceRecord> &devices,
                    int partsTotal,
                    const Wanted &wanted,
                    const std::vector<LeftAlone> &leftAlone,
                    QJsonObject &document)
{
    const auto current = std::count(leftAlone.begin(), leftAlone.end(), LeftAlone::Current);
    const QString why
        = current > 0 || !wanted.type
              ? QStringLiteral("%1 already at %2").arg(current).arg(wanted.current)
              : QStringLiteral("none of type %1").arg(DeviceText::model(*wanted.type));
    job.say(QStringLiteral("%1 found, %2: nothing to update")
                .arg(deviceCount(int(devices.size())), why));
    if (!job.options.json)
        job.console.out.write(flashTable(devices, partsTotal, job.console.outColumns(), leftAlone));
    document.insert(QStringLiteral("devices"), devicesJson(devices, partsTotal, leftAlone));
    return job.result(ExitOk, document);
}

// The image as flash and image take it, its signature checked, the keys
// left out said; false when it is refused, and said why.
bool takeImage(Job &job, ImageFile::Loaded &loaded, QJsonObject &document)
{
    const Options &options = job.options;
    loaded = ImageFile::load(options.image, {options.signature, options.trustedKeys});
    document.insert(QStringLiteral("signature"), signatureJson(loaded.signature));
    if (reportKeyProblems(job, loaded.keyProblems) != ExitOk)
        return false;
    if (loaded.problem == ImageFile::Problem::Signature) {
        job.fail(ExitUsage, signatureRefusal(loaded.signature, options.image));
        return false;
    }
    if (loaded.problem != ImageFile::Problem::None) {
        job.fail(ExitUsage, imageRefusal(loaded.problem) + QStringLiteral(": ") + options.image);
        return false;
    }
    if (options.requireSigned && loaded.signature.state != ImageSignature::State::Signed) {
        job.fail(ExitUsage,
                 QStringLiteral("image refused, not signed (--require-signed): ") + options.image);
        return false;
    }
    return true;
}

// What the signature says the image is for, with --type and --skip-current;
// false, said why, when they do not agree with it.
bool wantedFor(Job &job, const ImageSignature::Check &signature, Wanted &wanted)
{
    const Options &options = job.options;
    wanted.type = options.type;
    const qint32 signedType = signature.facts.type;
    if (signedType != TypeUnknown) {
        if (options.type && *options.type != signedType) {
            job.fail(ExitUsage,
                     QStringLiteral("--type %1, but the image is signed for %2")
                         .arg(DeviceText::model(*options.type), DeviceText::model(signedType)));
            return false;
        }
        wanted.type = signedType;
    }
    if (!options.skipCurrent)
        return true;
    wanted.current = signature.facts.version;
    if (wanted.current.isEmpty()) {
        job.fail(ExitUsage,
                 QStringLiteral("--skip-current needs the version the image is signed with "
                                "(version= in the signature's trusted comment); the image's "
                                "is %1")
                     .arg(signature.state == ImageSignature::State::Signed
                              ? QStringLiteral("signed without one")
                              : QStringLiteral("not signed")));
        return false;
    }
    return true;
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
    job.startCapture();
    LineSession session(options.port, interrupts, job.capture);
    QJsonObject document = job.document(QStringLiteral("scan"));
    const int searched = job.search(session);
    session.stop();
    job.reportCapture(document);
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    document.insert(QStringLiteral("devices"), devicesJson(devices));
    if (searched == ExitOk && !options.json)
        console.out.write(scanTable(devices, console.outColumns()));
    if (searched == ExitOk) {
        for (const QJsonValue &named : job.named()) {
            if (named[QLatin1String("ids")].toArray().isEmpty())
                job.say(QStringLiteral("%1 names no device found")
                            .arg(named[QLatin1String("address")].toString()));
        }
    }
    job.reportForeignTraffic(session, document);
    return job.result(searched, document);
}

namespace {

// Updates the chosen devices, with the live progress, and says how the pass
// ended: ExitOk, or the port's failure, or the interrupt.
int runPass(Job &job, LineSession &session, const ImageFile::Loaded &loaded, int partsTotal)
{
    Progress progress(job.console, partsTotal);
    if (!job.options.quiet) {
        QObject::connect(&session, &LineSession::changed, &progress, &Progress::refresh);
        progress.start();
    }
    const LineSession::End end = session.update(loaded.image);
    int status = ExitOk;
    if (end == LineSession::End::Interrupted) {
        status = job.fail(ExitSignalBase + session.signalNumber(),
                          QStringLiteral("interrupted, giving up the device being written"));
    } else if (end == LineSession::End::PortFailed) {
        status = job.fail(ExitPort, job.lineTrouble(session));
    }
    // Interrupted, this gives up the device being written and starts no
    // other; otherwise the worker is idle and ends at once.
    session.stop();
    if (!job.options.quiet)
        progress.finish();
    return status;
}

// The update's report: every device with its outcome, and the exit status,
// which says that some device failed when the pass itself went well.
int reportPass(Job &job,
               const LineSession &session,
               int status,
               int partsTotal,
               const std::vector<LeftAlone> &leftAlone,
               QJsonObject &document)
{
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    for (const DeviceRecord &r : devices) {
        if (status == ExitOk && r.selected == 1 && r.outcome != FlashDone)
            status = ExitFailed;
    }
    document.insert(QStringLiteral("devices"), devicesJson(devices, partsTotal, leftAlone));
    // Only an interrupt ends with a signal's status.
    document.insert(QStringLiteral("interrupted"), status >= ExitSignalBase);
    if (!job.options.json)
        job.console.out.write(flashTable(devices, partsTotal, job.console.outColumns(), leftAlone));
    job.reportForeignTraffic(session, document);
    return job.result(status, document);
}

} // namespace

int flash(const Options &options, Console &console)
{
    Job job(options, console);
    QJsonObject document = job.document(QStringLiteral("flash"));
    document.insert(QStringLiteral("image"), options.image);
    document.insert(QStringLiteral("devices"), QJsonArray());

    // A refused image does not even search.
    ImageFile::Loaded loaded;
    Wanted wanted;
    if (!takeImage(job, loaded, document) || !wantedFor(job, loaded.signature, wanted))
        return job.result(ExitUsage, document);
    if (!job.openLog())
        return ExitUsage;
    const int partsTotal = int(ImageFile::partsFor(quint32(loaded.image->bytes.size())));
    document.insert(QStringLiteral("imageBytes"), int(loaded.image->bytes.size()));
    if (loaded.signature.state == ImageSignature::State::Signed)
        job.say(QStringLiteral("%1: %2").arg(options.image, signatureSummary(loaded.signature)));

    Interrupts interrupts;
    job.startCapture();
    LineSession session(options.port, interrupts, job.capture);
    const int searched = job.search(session);
    const Selection selection = searched == ExitOk
                                    ? chooseDevices(job, DeviceList.snapshot(), wanted)
                                    : Selection{searched, {}, {}};
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    if (selection.status != ExitOk || selection.chosen.empty()) {
        session.stop();
        job.reportCapture(document);
        job.reportForeignTraffic(session, document);
        if (selection.status == ExitOk)
            return nothingToUpdate(job, devices, partsTotal, wanted, selection.leftAlone, document);
        document.insert(QStringLiteral("devices"), devicesJson(devices));
        return job.result(selection.status, document);
    }

    job.say(QStringLiteral("%1 found; updating %2%3 with %4 (%5 parts)")
                .arg(deviceCount(int(devices.size())))
                .arg(selection.chosen.size())
                .arg(wanted.type ? QStringLiteral(" of type ") + DeviceText::model(*wanted.type)
                                 : QString())
                .arg(options.image)
                .arg(partsTotal));
    const int status = runPass(job, session, loaded, partsTotal);
    job.reportCapture(document);
    return reportPass(job, session, status, partsTotal, selection.leftAlone, document);
}

// What a flash would make of the image, without a line: a fleet checks the
// image once on every gateway before any of them writes.
int checkImage(const Options &options, Console &console)
{
    Job job(options, console);
    QJsonObject document{{QStringLiteral("command"), QStringLiteral("image")},
                         {QStringLiteral("image"), options.image}};
    ImageFile::Loaded loaded;
    if (!takeImage(job, loaded, document))
        return job.result(ExitUsage, document);
    const quint32 bytes = quint32(loaded.image->bytes.size());
    const quint32 parts = ImageFile::partsFor(bytes);
    document.insert(QStringLiteral("imageBytes"), qint64(bytes));
    document.insert(QStringLiteral("partsTotal"), qint64(parts));
    if (!options.json)
        console.out.write(QStringLiteral("%1: %2 bytes, %3 parts\n%4\n")
                              .arg(options.image)
                              .arg(bytes)
                              .arg(parts)
                              .arg(signatureSummary(loaded.signature)));
    return job.result(ExitOk, document);
}

} // namespace Cli
