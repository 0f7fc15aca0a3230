#pragma once

// Everything one run of a command needs on the line, in the order it must
// go: the log outlives the worker, whose last lines it takes.

#include "cli/console.h"
#include "cli/diagnostics.h"
#include "cli/options.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <memory>

class LineCapture;

namespace Cli {

class LineSession;

extern const QString Program; // "olvex-cli: ", the start of every message

// What an exit status means, in the words --help and the README give it, for
// a port of this form: a script reads it from the JSON document instead of a
// table of its own.
QString exitMeaning(int code, Command command, const QString &port);

struct Job
{
    Job(const Options &given, Console &to);

    // A live line no wider than the terminal.
    QString fitted(const QString &text) const;
    // People's texts, unless --quiet.
    void say(const QString &text);
    // An error message, kept for the JSON document; returns `code`.
    int fail(int code, const QString &text);
    // The JSON document, when asked for; returns `code`.
    int result(int code, QJsonObject document);
    QJsonObject document(const QString &command) const;
    bool openLog();
    // The capture --capture asks for, ready for the session; a file that
    // cannot be written is said once and the job goes on uncaptured.
    void startCapture();
    // What the capture holds, in the document and, unless quiet, in words.
    void reportCapture(QJsonObject &document);

    // Why the line failed, in words.
    QString lineTrouble(const LineSession &session) const;
    // The search, with the exit status of a search that found nothing to do.
    int search(LineSession &session);
    // Traffic on the line that was not ours: in the document always, and
    // said once when more of it came than a little noise explains.
    void reportForeignTraffic(const LineSession &session, QJsonObject &document);
    // For each address given with --device, the devices found that it names,
    // by their whole address: what a script matches with, not a copy of the
    // matching of its own.
    QJsonArray named() const;

    const Options &options;
    Console &console;
    DiagnosticLog log;
    QString error;
    std::shared_ptr<LineCapture> capture;
    bool searched = false;
};

} // namespace Cli
