#pragma once

// The diagnostic log of the terminal tool: the worker's frame-level debug
// lines, word for word. Off unless asked for: --log FILE writes them to a
// file, -v to standard error. Warnings always reach standard error.

#include "cli/console.h"

#include <QFile>
#include <QString>

#include <QtGlobal>

namespace Cli {

class DiagnosticLog
{
public:
    // One at a time per process; the previous message handler comes back
    // when it goes. It must outlive the worker, whose lines it takes.
    DiagnosticLog(TextChannel &err, bool echo);
    ~DiagnosticLog();
    DiagnosticLog(const DiagnosticLog &) = delete;
    DiagnosticLog &operator=(const DiagnosticLog &) = delete;

    // False when the file cannot be written.
    bool openFile(const QString &path);

    // Any thread.
    void take(QtMsgType type, const QString &message);

private:
    TextChannel &m_err;
    const bool m_echo;
    QFile m_file;
    QtMessageHandler m_previous = nullptr;
};

} // namespace Cli
