// Writing to standard output and standard error from any thread.

#include "cli/console.h"

namespace Cli {

void TextChannel::write(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stream << text;
    m_stream.flush();
}

} // namespace Cli
