// The operator's texts that are made from values.

#include "ui/texts.h"

#include "registry/devicetext.h"

namespace Texts {

QString mainStatus(int status)
{
    switch (status) {
    case PortBusy:
        return QStringLiteral("Порт занят");
    case NoPortSelected:
        return QStringLiteral("Порт не выбран");
    case SearchNeeded:
        return QStringLiteral("Необходим поиск");
    case Searching:
        return QStringLiteral("Идет поиск");
    case SelectDevices:
        return QStringLiteral("Выберите устройство(а)");
    case WrongSelection:
        return QStringLiteral("Устроства выбраны неверно");
    case NoDevicesFound:
        return QStringLiteral("Устройства не найдены");
    case Updating:
        return QStringLiteral("Идет обновление");
    case UpdateFinished:
        return QStringLiteral("Обновление завершено");
    default:
        return QString();
    }
}

QString typeName(qint32 devType)
{
    const QString model = DeviceText::model(devType);
    return model.isEmpty() ? QStringLiteral("Неизвестно") : model;
}

QString versionText(quint8 major, quint8 minor)
{
    const QString version = DeviceText::version(major, minor);
    if (DeviceText::runsBootLoader(major))
        return version + QStringLiteral("(Загрузчик)");
    return version.isEmpty() ? QStringLiteral("Неизвестно") : version;
}

QString addressText(const DeviceId &id)
{
    return DeviceText::address(id);
}

QString foundDevices(int count)
{
    return QStringLiteral("Найдено устройств: %1").arg(count);
}

QString progress(int partNumber, int partsTotal)
{
    const int percent = partsTotal > 0 ? partNumber * 100 / partsTotal : 0;
    return QStringLiteral("Обновление:%1%").arg(percent);
}

} // namespace Texts
