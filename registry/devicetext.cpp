// Naming a device the same way in every front end.

#include "registry/devicetext.h"

namespace DeviceText {

QString address(const DeviceId &id)
{
    return QString::asprintf(
        "%02x:%02x:%02x:%02x:%02x:%02x", id[0], id[1], id[2], id[3], id[4], id[5]);
}

QString fullAddress(const DeviceId &id)
{
    return address(id) + QString::asprintf(":%02x:%02x", id[6], id[7]);
}

QString version(quint8 major, quint8 minor)
{
    if (major == 0 && minor == 0)
        return QString();
    return QStringLiteral("%1.%2").arg(major & ~BootLoaderBit).arg(minor);
}

QString model(qint32 devType)
{
    switch (devType) {
    case TypeProbe:
        return QStringLiteral("VT-PROBE");
    case TypeTally8:
        return QStringLiteral("VT-TALLY-8");
    case TypeTally16:
        return QStringLiteral("VT-TALLY-16");
    case TypeRelay:
        return QStringLiteral("VT-RELAY");
    default:
        return QString();
    }
}

qint32 typeNamed(const QString &name)
{
    for (qint32 type : KnownTypes) {
        if (model(type).compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return type;
    }
    return TypeUnknown;
}

QStringList knownModels()
{
    QStringList models;
    for (qint32 type : KnownTypes)
        models << model(type);
    return models;
}

} // namespace DeviceText
