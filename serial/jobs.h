#pragma once

// What a front end asks of the line. The window and the terminal tool start
// their searches and their update passes here, so both put the same requests
// to the same worker.

#include "registry/imageslot.h"

#include <memory>

class QString;
class SerialThread;

namespace LineJobs {

// A search followed by the version inventory, on the named port: the worker
// is handed the port, the list is emptied and the search asked for. The
// worker acts on WorkMode, so that is written last.
void startSearch(SerialThread &worker, const QString &portName);

// Hands the image to the worker and asks for an update pass over the ticked
// devices; the idle worker takes it up at its next poll. The worker acts on
// FlashRequest, so that is written last.
void requestPass(std::shared_ptr<const FirmwareImage> image);

} // namespace LineJobs
