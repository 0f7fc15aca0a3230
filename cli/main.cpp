// olvex-cli: search the line and update devices from a terminal. No display
// and no widget library needed.

#include "app/identity.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/terminal.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

// Whatever the locale says (a build machine's is often plain ASCII, a
// Windows console's an old code page).
void writeUtf8(QTextStream &stream)
{
#if QT_VERSION_MAJOR < 6
    stream.setCodec("UTF-8");
#else
    stream.setEncoding(QStringConverter::Utf8);
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any thread exists, so that every thread leaves Ctrl-C to the
    // tool's own watch.
    Cli::blockInterruptSignals();
    QCoreApplication app(argc, argv);
    Identity::apply(app);
    QCoreApplication::setApplicationName(QStringLiteral("olvex-cli"));

    const Cli::Terminal::Utf8Console utf8;
    QTextStream outStream(stdout);
    QTextStream errStream(stderr);
    writeUtf8(outStream);
    writeUtf8(errStream);
    Cli::TextChannel out(outStream);
    Cli::TextChannel err(errStream);
    Cli::Console console{out,
                         err,
                         Cli::Terminal::errorIsTerminal(),
                         Cli::Terminal::errorColumns,
                         Cli::Terminal::outputColumns};
    return Cli::run(QCoreApplication::arguments(), console);
}
