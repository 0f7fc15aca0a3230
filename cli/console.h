#pragma once

// Where the terminal tool writes: the result to one stream, texts for people
// (progress, errors, and the diagnostic log with -v) to the other. A stream
// may be written from the worker thread too (the log), so every write takes
// the stream's lock and is flushed at once.

#include <QString>
#include <QTextStream>

#include <mutex>

namespace Cli {

class TextChannel
{
public:
    explicit TextChannel(QTextStream &stream)
        : m_stream(stream)
    {}
    TextChannel(const TextChannel &) = delete;
    TextChannel &operator=(const TextChannel &) = delete;

    void write(const QString &text);

private:
    std::mutex m_mutex;
    QTextStream &m_stream;
};

struct Console
{
    TextChannel &out;           // the result: tables, reports, JSON
    TextChannel &err;           // everything for people
    bool errIsTerminal = false; // live progress lines instead of one per ten percent
};

} // namespace Cli
