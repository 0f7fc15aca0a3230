#pragma once

// Where the terminal tool writes: the result to one stream, texts for people
// (progress, errors, and the diagnostic log with -v) to the other. A stream
// may be written from the worker thread too (the log), so every write takes
// the stream's lock and is flushed at once.

#include <QString>
#include <QTextStream>

#include <functional>
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

    // Text that starts on a line of its own: a live line standing on the
    // terminal is left as it is and the text goes below it.
    void write(const QString &text);

    // A live line: drawn over the one before, never ended. The next write()
    // starts below it, the next writeLive() draws over it.
    void writeLive(const QString &text);
    // Takes a live line away, if one stands.
    void clearLive();
    // Leaves a live line standing as it is, and goes on below it.
    void endLive();

private:
    std::mutex m_mutex;
    QTextStream &m_stream;
    bool m_live = false;
};

struct Console
{
    TextChannel &out;           // the result: tables, reports, JSON
    TextChannel &err;           // everything for people
    bool errIsTerminal = false; // live progress lines instead of one per ten percent
    // The terminal's width in columns, asked afresh for every live line (it
    // may be resized meanwhile); 0 when it does not say.
    std::function<int()> errColumns = [] {
        return 0;
    };
    // The width of the terminal the result goes to; 0 when it goes to a file
    // or a pipe, where it is always printed whole.
    std::function<int()> outColumns = [] {
        return 0;
    };
};

} // namespace Cli
