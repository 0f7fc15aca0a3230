// Port names on Unix: taken as given (a device name or a path).

#include "serial/serialline.h"

QString systemPortName(const QString &name)
{
    return name;
}
