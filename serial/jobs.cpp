#include "serial/jobs.h"

#include "registry/registry.h"
#include "serial/serialthread.h"

namespace LineJobs {

void startSearch(SerialThread &worker, const QString &portName)
{
    worker.startWork(portName);
    DeviceList.clear();
    SearchRequest = 1;
    WorkMode = ModeSearch;
}

} // namespace LineJobs
