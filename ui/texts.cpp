// The operator's texts that are made from values.

#include "ui/texts.h"

#include "registry/devicetext.h"

#include <QDir>

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

namespace {

// The words for an unknown signer: whose key, where trusted keys go, and
// that the folder's keys were not trusted when anyone could change it.
QString unknownSigner(const ImageSignature::Check &check,
                      const std::vector<TrustedKeys::Problem> &keyProblems)
{
    const QString folder = QDir::toNativeSeparators(TrustedKeys::folder());
    QString text = QStringLiteral("Прошивка подписана неизвестным ключом %1.\n"
                                  "Доверенные ключи кладут в папку %2.\n"
                                  "Прошивка без подписи записывается без проверки.")
                       .arg(Minisign::keyIdText(check.keyId), folder);
    for (const TrustedKeys::Problem &problem : keyProblems) {
        if (problem.trouble == TrustedKeys::Trouble::WritableByOthers) {
            text += QStringLiteral("\n%1 может изменить не только администратор, "
                                   "поэтому ключам оттуда нет доверия.")
                        .arg(QDir::toNativeSeparators(problem.path));
            break;
        }
    }
    return text;
}

} // namespace

QString signatureRefused(const ImageSignature::Check &check,
                         const std::vector<TrustedKeys::Problem> &keyProblems)
{
    using ImageSignature::State;
    switch (check.state) {
    case State::Unreadable:
    case State::Malformed:
        return QStringLiteral("Файл подписи прошивки поврежден или не читается");
    case State::UnknownSigner:
        return unknownSigner(check, keyProblems);
    case State::BadSignature:
        return QStringLiteral("Подпись прошивки неверна: файл прошивки изменен после подписи");
    case State::UnknownType:
        return QStringLiteral("Прошивка подписана для неизвестного типа устройств %1")
            .arg(check.facts.typeName);
    case State::UnclearFacts:
        return QStringLiteral("В подписи прошивки тип или версия указаны дважды");
    case State::CannotCheck:
    case State::WholeTooLarge:
        return QStringLiteral("Подпись прошивки не удалось проверить");
    case State::Unsigned:
    case State::Signed:
        break;
    }
    return QString();
}

QString signedForAnotherType(qint32 signedType, qint32 tickedType)
{
    return QStringLiteral("Прошивка подписана для %1, а выбраны устройства %2")
        .arg(typeName(signedType), typeName(tickedType));
}

} // namespace Texts
