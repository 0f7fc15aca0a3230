#pragma once

// The terminal the tool's texts for people go to: whether standard error is
// one, and how wide it is. One implementation per platform.

namespace Cli::Terminal {

// Standard error is a terminal (live progress lines), not a file or a pipe.
bool errorIsTerminal();

// The width of that terminal in columns; 0 when it is none or does not say.
int errorColumns();

// The width of the terminal standard output goes to; 0 when it goes
// elsewhere.
int outputColumns();

// Everything the tool writes is UTF-8 (JSON must be, and a file name in
// Cyrillic letters must come out whole). For as long as this lives, a
// console the tool writes to shows UTF-8 too; where terminals speak UTF-8
// anyway it does nothing.
class Utf8Console
{
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console &) = delete;
    Utf8Console &operator=(const Utf8Console &) = delete;

private:
    unsigned m_previous = 0; // the console's own code page, given back at the end
};

} // namespace Cli::Terminal
