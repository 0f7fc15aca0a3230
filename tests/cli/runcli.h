#pragma once

// olvex-cli run in-process, its output caught, for the terminal tool's tests.

#include "devsim/simulator.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

struct Run
{
    int code = -1;
    QString out;
    QString err;
    qint64 ms = 0;

    QJsonObject json() const;
    QJsonObject device(int i) const;
};

// Standard error on a terminal when `columns` says how wide it is;
// standard output on one `outColumns` wide (0: on a pipe).
Run runCli(const QStringList &arguments, std::function<int()> columns = {}, int outColumns = 0);

// The simulator's line as olvex-cli takes it.
QString port(const DevSim::Simulator &sim);
