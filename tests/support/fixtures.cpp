#include "support/fixtures.h"

#include <QFile>

LineTiming quickTiming()
{
    LineTiming t;
    t.writeTimeout = 200;
    t.confirmPause = 5;
    t.searchPause = 60;
    t.startPause = 80;
    t.answerWait = 400;
    t.idlePoll = 50;
    // An adapter's chunks come some 16 ms apart at most; the simulator's
    // answers, on a loaded machine, now and then further. A crowd's answers
    // that come across such a pause must still end in one gathering.
    t.gatherGap = 100;
    return t;
}

QByteArray firmwareImage(int size, int seed)
{
    QByteArray data(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = char(x >> 16);
    }
    return data;
}

std::vector<quint8> hex(const char *text)
{
    std::vector<quint8> out;
    for (const QByteArray &b : QByteArray(text).simplified().split(' '))
        out.push_back(quint8(b.toUInt(nullptr, 16)));
    return out;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(data);
    return path;
}

QList<qint32> selectedFlags()
{
    QList<qint32> flags;
    for (const DeviceRecord &r : DeviceList.snapshot())
        flags << r.selected;
    return flags;
}

DeviceId deviceId(quint8 a, quint8 b, quint8 c, quint8 d, quint8 e, quint8 f, quint8 g, quint8 h)
{
    return DeviceId{a, b, c, d, e, f, g, h};
}

DeviceRecord
deviceRecord(const DeviceId &id, qint32 type, quint8 major, quint8 minor, qint32 selected)
{
    DeviceRecord r;
    r.id = id;
    r.devType = type;
    r.verMajor = major;
    r.verMinor = minor;
    r.selected = selected;
    return r;
}

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &row : status.readAll().split('\n')) {
        if (row.startsWith("VmRSS:"))
            return row.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}
