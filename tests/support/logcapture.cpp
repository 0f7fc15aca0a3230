#include "support/logcapture.h"

#include <QtGlobal>

#include <mutex>

namespace {
std::mutex Mutex;
QStringList Lines;
QtMessageHandler Previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Lines.append(message);
    }
    // Keep warnings and worse visible in the test output.
    if (type != QtDebugMsg && type != QtInfoMsg && Previous)
        Previous(type, context, message);
}
} // namespace

LogCapture::LogCapture()
{
    clear();
    Previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(Previous);
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(Mutex);
    return Lines;
}

int LogCapture::count(const QString &line) const
{
    std::lock_guard<std::mutex> lock(Mutex);
    return int(Lines.count(line));
}

int LogCapture::countStartingWith(const QString &prefix) const
{
    std::lock_guard<std::mutex> lock(Mutex);
    int n = 0;
    for (const QString &line : Lines)
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(Mutex);
    Lines.clear();
}
