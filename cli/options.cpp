// Reading olvex-cli's command line.

#include "cli/options.h"

#include "cli/cli.h"
#include "cli/job.h"
#include "protocol/image.h"
#include "registry/devicetext.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <tuple>

namespace Cli {

namespace {

constexpr int ShortAddress = 6; // as the device table shows it
constexpr int FullAddress = int(std::tuple_size_v<DeviceId>);

const char Description[] = R"(Searches the devices on one serial line and writes firmware into them,
with the same line handling as the Olvex Updater window.

Commands:
  ports                     list the serial ports
  scan PORT                 search the line and list the devices with their
                            address, type, firmware version and boot loader
  scan PORT --device ADDRESS...
                            the same, and say which devices each address
                            names (a check before a flash)
  flash PORT IMAGE --all    search, then update every device found
  flash PORT IMAGE --device ADDRESS...
                            search, then update the named devices (addresses
                            as scan shows them, or all eight bytes)
  image IMAGE               load the image as flash does and print its size,
                            part count and signature, or refuse it as flash
                            would

All devices of one update must be of one type. With --type NAME flash takes
only devices of that type: --all leaves the others alone, a named device of
another type is refused. An empty image, one of %1 bytes or less, one of more
than %2 parts, or one that cannot be read is refused before anything goes on
the line.

A signed image (minisign, its signature IMAGE.minisig beside it) is checked
with the public keys in %3 and those given with --trusted-key. One whose
signature does not verify, whose signer is unknown or whose signed type the
tool does not know is refused before anything goes on the line. The signed
type (type=NAME in the trusted comment) acts as --type; the signed version
(version=TEXT) is what --skip-current compares. An unsigned image is written
unchecked, unless --require-signed.)";

// The help's table of exit statuses; 1 to 4 in the words the JSON gives them.
QString exitCodes()
{
    QString text = QStringLiteral(
        "\nExit status:\n"
        "  0    every selected device updated (scan: devices found; image: taken)\n");
    for (int code : {ExitFailed, ExitUsage, ExitPort, ExitNotFound})
        text += QStringLiteral("  %1    %2\n")
                    .arg(code)
                    .arg(exitMeaning(code, Command::Flash, QString()));
    return text
           + QStringLiteral(
               "  130  interrupted (Ctrl-C; a second Ctrl-C quits at once); 143 on SIGTERM\n"
               "       and, on Windows, when the console is closed; 149 on Ctrl-Break\n");
}

Command commandNamed(const QString &name)
{
    if (name == QLatin1String("ports"))
        return Command::Ports;
    if (name == QLatin1String("scan"))
        return Command::Scan;
    if (name == QLatin1String("flash"))
        return Command::Flash;
    if (name == QLatin1String("image"))
        return Command::Image;
    return Command::None;
}

// What each command takes after its name.
int positionalsOf(Command command)
{
    switch (command) {
    case Command::Ports:
        return 0;
    case Command::Scan:
    case Command::Image:
        return 1;
    case Command::Flash:
        return 2;
    case Command::None:
        break;
    }
    return 0;
}

QString checkCommand(const QStringList &positional, Options &options)
{
    if (positional.isEmpty())
        return QStringLiteral("no command given");
    options.command = commandNamed(positional.first());
    if (options.command == Command::None)
        return QStringLiteral("unknown command '%1'").arg(positional.first());
    const int wanted = positionalsOf(options.command);
    QStringList rest = positional.mid(1);
    if (rest.size() < wanted) {
        switch (options.command) {
        case Command::Scan:
            return QStringLiteral("scan needs a PORT");
        case Command::Image:
            return QStringLiteral("image needs an IMAGE");
        default:
            return QStringLiteral("flash needs a PORT and an IMAGE");
        }
    }
    if (options.command == Command::Image)
        options.image = rest.takeFirst();
    else if (wanted >= 1)
        options.port = rest.takeFirst();
    if (wanted >= 2)
        options.image = rest.takeFirst();
    // "--device A B C": the addresses after the first come as arguments of their own.
    if (!rest.isEmpty() && options.devices.empty())
        return QStringLiteral("unexpected argument '%1'").arg(rest.first());
    for (const QString &text : rest) {
        const std::optional<Address> address = parseAddress(text);
        if (!address)
            return QStringLiteral("'%1' is not a device address").arg(text);
        options.devices.push_back(*address);
    }
    if (options.command != Command::Flash && options.all)
        return QStringLiteral("--all belongs to flash");
    if (options.command != Command::Flash && options.command != Command::Scan
        && !options.devices.empty())
        return QStringLiteral("--device belongs to scan and flash");
    if (options.command == Command::Flash && options.all && !options.devices.empty())
        return QStringLiteral("--all and --device cannot be used together");
    if (options.command == Command::Flash && !options.all && options.devices.empty())
        return QStringLiteral("flash needs either --all or --device ADDRESS");
    if (options.command != Command::Flash && options.type)
        return QStringLiteral("--type belongs to flash");
    if (options.command != Command::Flash && options.skipCurrent)
        return QStringLiteral("--skip-current belongs to flash");
    const bool signing
        = !options.signature.isEmpty() || !options.trustedKeys.isEmpty() || options.requireSigned;
    if (options.command != Command::Flash && options.command != Command::Image && signing)
        return QStringLiteral("--signature, --trusted-key and --require-signed belong to flash "
                              "and image");
    if (options.command == Command::Ports && !options.logFile.isEmpty())
        return QStringLiteral("ports keeps no log");
    if (options.command == Command::Image && !options.logFile.isEmpty())
        return QStringLiteral("image keeps no log");
    if ((options.command == Command::Ports || options.command == Command::Image)
        && !options.captureFile.isEmpty())
        return QStringLiteral("--capture belongs to scan and flash");
    return QString();
}

} // namespace

bool Address::matches(const DeviceId &id) const
{
    return std::equal(bytes.begin(), bytes.end(), id.begin());
}

std::optional<Address> parseAddress(const QString &text)
{
    static const QRegularExpression Byte(QStringLiteral("^[0-9A-Fa-f]{2}$"));
    const QStringList parts = text.trimmed().split(QRegularExpression(QStringLiteral("[:-]")));
    if (parts.size() != ShortAddress && parts.size() != FullAddress)
        return std::nullopt;
    Address address;
    address.given = text.trimmed();
    address.text = address.given.toLower();
    for (const QString &part : parts) {
        if (!Byte.match(part).hasMatch())
            return std::nullopt;
        address.bytes.push_back(quint8(part.toUInt(nullptr, 16)));
    }
    return address;
}

namespace {

// The options, in the order the help lists them.
struct Declared
{
    // -v is the log here, so the version has its long name only.
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Displays version information.")};
    QCommandLineOption all{QStringLiteral("all"),
                           QStringLiteral("flash: update every device found.")};
    QCommandLineOption device{
        {QStringLiteral("d"), QStringLiteral("device")},
        QStringLiteral("flash: update the device at <address>; scan: say which devices it names. "
                       "Repeat it, or list several."),
        QStringLiteral("address")};
    QCommandLineOption type{QStringLiteral("type"),
                            QStringLiteral("flash: update only devices of type <name> (%1).")
                                .arg(DeviceText::knownModels().join(QStringLiteral(", "))),
                            QStringLiteral("name")};
    QCommandLineOption signature{
        QStringLiteral("signature"),
        QStringLiteral("flash, image: the image's minisign signature is <file> (else "
                       "IMAGE.minisig, if it is there)."),
        QStringLiteral("file")};
    QCommandLineOption trustedKey{
        QStringLiteral("trusted-key"),
        QStringLiteral("flash, image: trust the minisign public key in <file> too; repeat it "
                       "for more."),
        QStringLiteral("file")};
    QCommandLineOption requireSigned{
        QStringLiteral("require-signed"),
        QStringLiteral("flash, image: refuse an image without a signature.")};
    QCommandLineOption skipCurrent{
        QStringLiteral("skip-current"),
        QStringLiteral("flash: leave alone the devices at the image's signed version.")};
    QCommandLineOption json{
        QStringLiteral("json"),
        QStringLiteral("scan, flash, image: the result as one JSON document on standard "
                       "output.")};
    QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                             QStringLiteral("Print only the result (and errors).")};
    QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")},
                               QStringLiteral("The diagnostic log to standard error.")};
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("The diagnostic log to <file>."),
                           QStringLiteral("file")};
    QCommandLineOption capture{
        QStringLiteral("capture"),
        QStringLiteral("scan, flash: record every byte that crosses the line, with its time "
                       "and direction, in <file> (pcapng, for Wireshark)."),
        QStringLiteral("file")};
};

void declare(QCommandLineParser &parser, const Declared &declared)
{
    for (const QCommandLineOption &option : {declared.version,
                                             declared.all,
                                             declared.device,
                                             declared.type,
                                             declared.signature,
                                             declared.trustedKey,
                                             declared.requireSigned,
                                             declared.skipCurrent,
                                             declared.json,
                                             declared.quiet,
                                             declared.verbose,
                                             declared.log,
                                             declared.capture})
        parser.addOption(option);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("ports, scan, flash or image"));
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("The serial port, e.g. /dev/ttyUSB0, or a line "
                                                "behind a device server: tcp://HOST:PORT, "
                                                "rfc2217://HOST:PORT."),
                                 QStringLiteral("[PORT]"));
    parser.addPositionalArgument(QStringLiteral("IMAGE"),
                                 QStringLiteral("The firmware image (flash, image)."),
                                 QStringLiteral("[IMAGE]"));
}

// The values of the options; an error text when one is refused.
QString takeValues(const QCommandLineParser &parser, const Declared &declared, Options &options)
{
    options.all = parser.isSet(declared.all);
    options.json = parser.isSet(declared.json);
    options.quiet = parser.isSet(declared.quiet);
    options.verbose = parser.isSet(declared.verbose);
    options.logFile = parser.value(declared.log);
    options.captureFile = parser.value(declared.capture);
    options.signature = parser.value(declared.signature);
    options.trustedKeys = parser.values(declared.trustedKey);
    options.requireSigned = parser.isSet(declared.requireSigned);
    options.skipCurrent = parser.isSet(declared.skipCurrent);
    if (parser.isSet(declared.type)) {
        const qint32 named = DeviceText::typeNamed(parser.value(declared.type));
        if (named == TypeUnknown)
            return QStringLiteral("'%1' is not a device type (%2)")
                .arg(parser.value(declared.type),
                     DeviceText::knownModels().join(QStringLiteral(", ")));
        options.type = named;
    }
    for (const QString &value : parser.values(declared.device)) {
        for (const QString &text : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const std::optional<Address> address = parseAddress(text);
            if (!address)
                return QStringLiteral("'%1' is not a device address").arg(text);
            options.devices.push_back(*address);
        }
    }
    return QString();
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    ParsedArguments parsed;
    Options &options = parsed.options;

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description)
                                         .arg(ImageFile::TooSmallBytes)
                                         .arg(ImageFile::MaxParts)
                                         .arg(QDir::toNativeSeparators(TrustedKeys::folder())));
    const QCommandLineOption help = parser.addHelpOption();
    const Declared declared;
    declare(parser, declared);
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    parsed.helpText = parser.helpText() + exitCodes();
    options.help = parser.isSet(help) || parser.isSet(QStringLiteral("help-all"));
    options.version = parser.isSet(declared.version);
    if (options.help || options.version)
        return parsed;
    parsed.error = takeValues(parser, declared, options);
    if (parsed.error.isEmpty())
        parsed.error = checkCommand(parser.positionalArguments(), options);
    return parsed;
}

} // namespace Cli
