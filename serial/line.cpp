// Which line a port name asks for.

#include "serial/line.h"

#include "serial/networkline.h"
#include "serial/serialline.h"

bool isNetworkName(const QString &name)
{
    return name.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive)
           || name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive);
}

bool isNetworkError(int error)
{
    return error >= NetworkBadAddress && error <= NetworkFailed;
}

std::unique_ptr<Line> makeLine(const QString &name)
{
    if (isNetworkName(name))
        return std::make_unique<NetworkLine>();
    return std::make_unique<SerialLine>();
}
