// The two requests a front end puts to the line.

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

void requestPass(std::shared_ptr<const FirmwareImage> image)
{
    FirmwareSize = qint32(quint32(image ? image->bytes.size() : 0));
    FirmwareFile.set(std::move(image));
    FlashRequest = 1;
}

} // namespace LineJobs
