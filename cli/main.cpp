// olvex-cli: search the line and update devices from a terminal. No display
// and no widget library needed.

#include "app/identity.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/terminal.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before any thread exists, so that every thread leaves Ctrl-C to the
    // tool's own watch.
    Cli::blockInterruptSignals();
    QCoreApplication app(argc, argv);
    Identity::apply(app);
    QCoreApplication::setApplicationName(QStringLiteral("olvex-cli"));

    QTextStream outStream(stdout);
    QTextStream errStream(stderr);
    Cli::TextChannel out(outStream);
    Cli::TextChannel err(errStream);
    Cli::Console console{out, err, Cli::Terminal::errorIsTerminal(), Cli::Terminal::errorColumns};
    return Cli::run(QCoreApplication::arguments(), console);
}
