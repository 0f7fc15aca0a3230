// Writing to standard output and standard error from any thread.

#include "cli/console.h"

namespace Cli {

namespace {
const QString ClearLine = QStringLiteral("\r\033[K");
} // namespace

void TextChannel::write(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_live)
        m_stream << '\n';
    m_live = false;
    m_stream << text;
    m_stream.flush();
}

void TextChannel::writeLive(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stream << ClearLine << text;
    m_stream.flush();
    m_live = true;
}

void TextChannel::clearLive()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_live)
        return;
    m_stream << ClearLine;
    m_stream.flush();
    m_live = false;
}

void TextChannel::endLive()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_live)
        return;
    m_stream << '\n';
    m_stream.flush();
    m_live = false;
}

} // namespace Cli
