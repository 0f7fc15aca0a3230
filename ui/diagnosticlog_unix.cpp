// The diagnostic log on Unix: the toolkit writes it to standard error as it
// is, whether that is a terminal, a file or a pipe.

#include "ui/diagnosticlog.h"

namespace DiagnosticLog {

void route() {}

} // namespace DiagnosticLog
