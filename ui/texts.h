#pragma once

// Texts the operator reads, in one place.

#include <QString>

#include "protocol/signature.h"
#include "protocol/trustedkeys.h"
#include "registry/registry.h"

#include <vector>

namespace Texts {

// Main status line, by Status value; any other value shows nothing.
QString mainStatus(int status);

// Device table.
QString typeName(qint32 devType);
QString versionText(quint8 major, quint8 minor);
QString addressText(const DeviceId &id);
QString foundDevices(int count);
inline QString selectAll()
{
    return QStringLiteral("Выбрать все устройства:");
}
inline QString waiting()
{
    return QStringLiteral("Ожидание");
}

// Per-device transfer status.
inline QString preparing()
{
    return QStringLiteral("Подготовка");
}
QString progress(int partNumber, int partsTotal);
inline QString updated()
{
    return QStringLiteral("Обновлено");
}
inline QString failed()
{
    return QStringLiteral("Ошибка");
}
inline QString versionAfterUpdate()
{
    return QStringLiteral("Необходимо обновить");
}

// Message boxes.
inline QString errorTitle()
{
    return QStringLiteral("Ошибка");
}
inline QString mixedTypes()
{
    return QStringLiteral("Выбраны устройства разного типа");
}
inline QString fileUnreadable()
{
    return QStringLiteral("Не удалось открыть файл прошивки");
}
inline QString fileEmpty()
{
    return QStringLiteral("Файл прошивки пуст");
}
inline QString fileTooSmall()
{
    return QStringLiteral("Файл прошивки слишком мал");
}
inline QString fileTooLarge()
{
    return QStringLiteral("Файл прошивки слишком велик");
}

// A signed image refused.
QString signatureRefused(const ImageSignature::Check &check,
                         const std::vector<TrustedKeys::Problem> &keyProblems);
QString signedForAnotherType(qint32 signedType, qint32 tickedType);

// Closing the window during an update.
inline QString closeTitle()
{
    return QStringLiteral("Идет обновление");
}
inline QString closeDuringUpdate()
{
    return QStringLiteral("Прервать обновление и закрыть программу?");
}
inline QString yes()
{
    return QStringLiteral("Да");
}
inline QString no()
{
    return QStringLiteral("Нет");
}

} // namespace Texts
