#pragma once

// What a front end asks of the line. The window and the terminal tool start
// their searches here, so both put the same request to the same worker.

class QString;
class SerialThread;

namespace LineJobs {

// A search followed by the version inventory, on the named port: the worker
// is handed the port, the list is emptied and the search asked for. The
// worker acts on WorkMode, so that is written last.
void startSearch(SerialThread &worker, const QString &portName);

} // namespace LineJobs
