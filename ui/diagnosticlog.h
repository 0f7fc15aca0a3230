#pragma once

// Where the window's diagnostic log goes. The window has no options and
// writes no files of its own: the log goes where the program's standard error
// goes, and the technician chooses by the way the program is started. One
// implementation per platform.

namespace DiagnosticLog {

// First thing in main(), before the application object exists.
void route();

} // namespace DiagnosticLog
