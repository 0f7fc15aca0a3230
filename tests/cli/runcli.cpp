#include "runcli.h"

#include "cli/cli.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

QJsonObject Run::json() const
{
    return QJsonDocument::fromJson(out.toUtf8()).object();
}

QJsonObject Run::device(int i) const
{
    return json()[QStringLiteral("devices")].toArray()[i].toObject();
}

Run runCli(const QStringList &arguments, std::function<int()> columns, int outColumns)
{
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    Cli::TextChannel outChannel(out);
    Cli::TextChannel errChannel(err);
    Cli::Console console{outChannel, errChannel, bool(columns)};
    if (columns)
        console.errColumns = columns;
    console.outColumns = [outColumns] {
        return outColumns;
    };
    QElapsedTimer clock;
    clock.start();
    run.code = Cli::run(QStringList{QStringLiteral("olvex-cli")} + arguments, console);
    run.ms = clock.elapsed();
    return run;
}

QString port(const DevSim::Simulator &sim)
{
    return QString::fromStdString(sim.path());
}
