#pragma once

// How a device is named to the operator, the same in every front end: its
// address as the device table shows it and its model.

#include "registry/registry.h"

#include <QString>
#include <QStringList>

namespace DeviceText {

// Bit 7 of the major version: the device runs its boot loader.
constexpr quint8 BootLoaderBit = 0x80;

// The first six address bytes, "00:1a:2b:3c:4d:5e".
QString address(const DeviceId &id);

// All eight address bytes, "00:1a:2b:3c:4d:5e:6f:70".
QString fullAddress(const DeviceId &id);

// "M.m" without the boot-loader bit; empty while the device has not told
// its version (both bytes 0).
QString version(quint8 major, quint8 minor);
inline bool runsBootLoader(quint8 major)
{
    return (major & BootLoaderBit) != 0;
}

// "VT-PROBE", "VT-TALLY-8", "VT-TALLY-16", "VT-RELAY"; empty for a type the
// tool does not know.
QString model(qint32 devType);

// The type a model name names, in any case; TypeUnknown for a name the tool
// does not know.
qint32 typeNamed(const QString &name);
// The models of the known types, in the order below.
QStringList knownModels();

// The types model() names, in that order.
inline constexpr qint32 KnownTypes[] = {TypeProbe, TypeTally8, TypeTally16, TypeRelay};

} // namespace DeviceText
