#pragma once

// The command line of olvex-cli, read with the toolkit's own parser.

#include "registry/registry.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace Cli {

enum class Command { None, Ports, Scan, Flash, Image };

// A device address as the operator names it: the six bytes the device table
// shows ("00:1a:2b:3c:4d:5e") or all eight.
struct Address
{
    QString given; // as it was typed
    QString text;
    std::vector<quint8> bytes; // 6 or 8

    bool matches(const DeviceId &id) const;
};
std::optional<Address> parseAddress(const QString &text);

struct Options
{
    Command command = Command::None;
    QString port;
    QString image;
    bool all = false;
    std::vector<Address> devices;
    std::optional<qint32> type; // flash --type: the only type it may write
    QString signature;          // the image's signature file; empty: IMAGE.minisig
    QStringList trustedKeys;    // public keys trusted besides the key folder's
    bool requireSigned = false; // an unsigned image is refused
    bool skipCurrent = false;   // flash: devices at the signed version are left alone
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    QString logFile;
    QString captureFile; // scan, flash: what crossed the line, as a pcapng capture
    bool help = false;
    bool version = false;
};

struct ParsedArguments
{
    Options options;
    QString error; // a usage error, one line
    QString helpText;
};

ParsedArguments parseArguments(const QStringList &arguments);

} // namespace Cli
