// The diagnostic log of the terminal tool: to a file, to standard error, or
// nowhere.

#include "cli/diagnostics.h"

#include <mutex>

namespace Cli {

namespace {

std::mutex Mutex; // guards Active and the file
DiagnosticLog *Active = nullptr;

void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    std::lock_guard<std::mutex> lock(Mutex);
    if (Active)
        Active->take(type, message);
}

} // namespace

DiagnosticLog::DiagnosticLog(TextChannel &err, bool echo)
    : m_err(err)
    , m_echo(echo)
{
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Active = this;
    }
    m_previous = qInstallMessageHandler(handle);
}

DiagnosticLog::~DiagnosticLog()
{
    qInstallMessageHandler(m_previous);
    std::lock_guard<std::mutex> lock(Mutex);
    Active = nullptr;
}

bool DiagnosticLog::openFile(const QString &path)
{
    std::lock_guard<std::mutex> lock(Mutex);
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
}

void DiagnosticLog::take(QtMsgType type, const QString &message)
{
    const QString line = message + QLatin1Char('\n');
    if (m_file.isOpen()) {
        m_file.write(line.toUtf8());
        m_file.flush();
    }
    if (m_echo || (type != QtDebugMsg && type != QtInfoMsg))
        m_err.write(line);
}

} // namespace Cli
