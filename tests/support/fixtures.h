#pragma once

// Small helpers shared by the tests.

#include "registry/registry.h"
#include "serial/timing.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <vector>

// Shortened waits and pauses for the duration of a scope; the product's
// values come back when it ends.
class ScopedLineTiming
{
public:
    explicit ScopedLineTiming(const LineTiming &timing) { TestSeam::setLineTiming(timing); }
    ~ScopedLineTiming() { TestSeam::restoreLineTiming(); }
};

// Waits that keep the tests quick yet leave the simulator and a loaded (or
// sanitised) build room to answer.
LineTiming quickTiming();

// A firmware image of the given size with a recognisable pattern.
QByteArray firmwareImage(int size, int seed = 1);

// Bytes written out in hex, one pair each, spaces between: "FF 1E 01".
std::vector<quint8> hex(const char *text);

// Writes data into dir/name and returns the path.
QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data);

// The resident memory of a running process in KiB, as the kernel says
// (/proc); 0 where it cannot tell.
qint64 residentKb(qint64 pid);

// The selected flag of every record, in list order.
QList<qint32> selectedFlags();

DeviceId deviceId(quint8 a, quint8 b, quint8 c, quint8 d, quint8 e, quint8 f, quint8 g, quint8 h);
DeviceRecord deviceRecord(
    const DeviceId &id, qint32 type, quint8 major = 0, quint8 minor = 0, qint32 selected = 0);
