// olvex-cli from its arguments to its exit status.

#include "cli/cli.h"

#include "app/identity.h"
#include "cli/commands.h"
#include "cli/options.h"

namespace Cli {

int run(const QStringList &arguments, Console &console)
{
    const ParsedArguments parsed = parseArguments(arguments);
    const Options &options = parsed.options;
    if (!parsed.error.isEmpty()) {
        console.err.write(QStringLiteral("olvex-cli: %1 (see --help)\n").arg(parsed.error));
        return ExitUsage;
    }
    if (options.help) {
        console.out.write(parsed.helpText);
        return ExitOk;
    }
    if (options.version) {
        console.out.write(QStringLiteral("olvex-cli %1\n").arg(Identity::applicationVersion()));
        return ExitOk;
    }
    switch (options.command) {
    case Command::Ports:
        return listPorts(options, console);
    case Command::Scan:
        return scan(options, console);
    case Command::Flash:
        return flash(options, console);
    case Command::Image:
        return checkImage(options, console);
    case Command::None:
        break;
    }
    return ExitUsage;
}

} // namespace Cli
