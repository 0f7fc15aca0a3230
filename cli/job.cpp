// What every command that goes on the line shares: messages, the JSON
// document, the log, the search, and what the line brought besides answers.

#include "cli/job.h"

#include "cli/cli.h"
#include "cli/portcheck.h"
#include "cli/session.h"
#include "registry/devicetext.h"
#include "registry/registry.h"
#include "serial/capture.h"
#include "serial/line.h"

#include "app/version.h"

#include <QJsonDocument>

namespace Cli {

const QString Program = QStringLiteral("olvex-cli: ");

namespace {

// More than this in one run is no noise: another master polls the line.
constexpr quint64 NoiseFrames = 2;
constexpr quint64 NoiseBytes = 64;

} // namespace

QString exitMeaning(int code, Command command, const QString &port)
{
    switch (code) {
    case ExitOk:
        switch (command) {
        case Command::Scan:
            return QStringLiteral("devices found");
        case Command::Image:
            return QStringLiteral("image taken");
        default:
            return QStringLiteral("every selected device updated");
        }
    case ExitFailed:
        return QStringLiteral("some device failed");
    case ExitUsage:
        return QStringLiteral("usage error, image refused, or devices of different types");
    case ExitPort:
        return isNetworkName(port)
                   ? QStringLiteral("the device server cannot be reached, or the connection was "
                                    "lost")
                   : QStringLiteral("the port cannot be opened, or it was lost");
    case ExitNotFound:
        return QStringLiteral("no devices found, or a named device not found");
    case ExitSignalBase + 2:
        return QStringLiteral("interrupted (SIGINT)");
    case ExitSignalBase + 15:
        return QStringLiteral("interrupted (SIGTERM)");
    case ExitSignalBase + 21:
        return QStringLiteral("interrupted (Ctrl-Break)");
    default:
        break;
    }
    return code > ExitSignalBase
               ? QStringLiteral("interrupted (signal %1)").arg(code - ExitSignalBase)
               : QString();
}

Job::Job(const Options &given, Console &to)
    : options(given)
    , console(to)
    , log(to.err, given.verbose)
{}

QString Job::fitted(const QString &text) const
{
    const int columns = console.errColumns();
    return columns > 0 && text.size() >= columns ? text.left(columns - 1) : text;
}

void Job::say(const QString &text)
{
    if (!options.quiet)
        console.err.write(text + QLatin1Char('\n'));
}

int Job::fail(int code, const QString &text)
{
    console.err.write(Program + text + QLatin1Char('\n'));
    error = text;
    return code;
}

int Job::result(int code, QJsonObject document)
{
    if (!options.json)
        return code;
    document.insert(QStringLiteral("exitCode"), code);
    document.insert(QStringLiteral("exitMeaning"),
                    exitMeaning(code, options.command, options.port));
    if (searched && !options.devices.empty())
        document.insert(QStringLiteral("named"), named());
    if (!error.isEmpty())
        document.insert(QStringLiteral("error"), error);
    console.out.write(QString::fromUtf8(QJsonDocument(document).toJson()));
    return code;
}

QJsonObject Job::document(const QString &command) const
{
    return {{QStringLiteral("command"), command},
            {QStringLiteral("port"), options.port},
            {QStringLiteral("portForm"), lineForm(options.port)}};
}

bool Job::openLog()
{
    if (options.logFile.isEmpty() || log.openFile(options.logFile))
        return true;
    fail(ExitUsage, QStringLiteral("cannot write the log file %1").arg(options.logFile));
    return false;
}

void Job::startCapture()
{
    if (options.captureFile.isEmpty())
        return;
    auto made = std::make_shared<LineCapture>(options.captureFile,
                                              QStringLiteral("olvex-cli " OLVEX_VERSION));
    QString why;
    if (!made->open(&why)) {
        console.err.write(Program
                          + QStringLiteral("cannot write the capture %1 (%2); the job goes on "
                                           "uncaptured\n")
                                .arg(options.captureFile, why));
        return;
    }
    // Said when it happens, on the main thread, once.
    QObject::connect(made.get(), &LineCapture::stopped, made.get(), [this](const QString &reason) {
        console.err.write(Program
                          + QStringLiteral("the capture %1 stopped (%2); the rest of the job is "
                                           "not in it\n")
                                .arg(options.captureFile, reason));
    });
    capture = std::move(made);
}

void Job::reportCapture(QJsonObject &document)
{
    if (!capture)
        return;
    document.insert(QStringLiteral("capture"),
                    QJsonObject{{QStringLiteral("file"), options.captureFile},
                                {QStringLiteral("packets"), capture->packets()},
                                {QStringLiteral("bytes"), capture->bytes()},
                                {QStringLiteral("complete"), capture->capturing()}});
    say(QStringLiteral("captured %1 packets (%2 bytes) in %3")
            .arg(capture->packets())
            .arg(capture->bytes())
            .arg(options.captureFile));
}

QString Job::lineTrouble(const LineSession &session) const
{
    const JobEnd &end = session.jobEnd();
    return lineProblem(options.port, end.portLost, end.portFault);
}

QJsonArray Job::named() const
{
    const std::vector<DeviceRecord> devices = DeviceList.snapshot();
    QJsonArray array;
    for (const Address &address : options.devices) {
        QJsonArray ids;
        for (const DeviceRecord &record : devices) {
            if (address.matches(record.id))
                ids.append(DeviceText::fullAddress(record.id));
        }
        array.append(
            QJsonObject{{QStringLiteral("address"), address.given}, {QStringLiteral("ids"), ids}});
    }
    return array;
}

int Job::search(LineSession &session)
{
    searched = true;
    // On a terminal one live line counts the devices as they answer.
    const bool live = !options.quiet && console.errIsTerminal;
    QMetaObject::Connection counter;
    if (live) {
        console.err.writeLive(fitted(QStringLiteral("searching %1").arg(options.port)));
        counter = QObject::connect(&session, &LineSession::changed, &session, [this] {
            console.err.writeLive(fitted(
                QStringLiteral("searching %1: %2 found").arg(options.port).arg(DeviceList.size())));
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
        return fail(ExitPort, lineTrouble(session));
    case LineSession::End::NoPort:
        return fail(ExitUsage, QStringLiteral("no port named"));
    case LineSession::End::Interrupted:
        break;
    }
    session.stop();
    return fail(ExitSignalBase + session.signalNumber(), QStringLiteral("interrupted"));
}

void Job::reportForeignTraffic(const LineSession &session, QJsonObject &document)
{
    const LineSession::Traffic foreign = session.foreignTraffic();
    document.insert(QStringLiteral("foreignTraffic"),
                    QJsonObject{{QStringLiteral("frames"), qint64(foreign.frames)},
                                {QStringLiteral("bytes"), qint64(foreign.bytes)}});
    if (foreign.frames <= NoiseFrames && foreign.bytes <= NoiseBytes)
        return;
    console.err.write(Program
                      + QStringLiteral("the line carries traffic that is not ours, %1 frames and "
                                       "%2 bytes; another master may be polling it\n")
                            .arg(foreign.frames)
                            .arg(foreign.bytes));
}

} // namespace Cli
