#pragma once

// The terminal the tool's texts for people go to: whether standard error is
// one, and how wide it is. One implementation per platform.

namespace Cli::Terminal {

// Standard error is a terminal (live progress lines), not a file or a pipe.
bool errorIsTerminal();

// The width of that terminal in columns; 0 when it is none or does not say.
int errorColumns();

} // namespace Cli::Terminal
