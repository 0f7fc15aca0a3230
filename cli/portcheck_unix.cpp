// What is wrong with a port, on Unix: the device node, its permissions, and
// which programs hold it open.

#include "cli/portcheck.h"

#include <QDir>
#include <QSerialPort>
#include <QStringList>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

// Where the toolkit looks for a port given by name alone.
QString devicePath(const QString &port)
{
    return port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

// The programs that have the device open now, as "minicom, PID 1234". Only
// those this user may look into.
QStringList holdersOf(dev_t device)
{
    QStringList holders;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        bool number = false;
        pid.toInt(&number);
        if (!number)
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System);
        for (const QString &fd : fds) {
            struct stat info
            {
            };
            const QByteArray path = QFile::encodeName(fdDir + QLatin1Char('/') + fd);
            if (::stat(path.constData(), &info) == 0 && S_ISCHR(info.st_mode)
                && info.st_rdev == device) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                const QString name = comm.open(QIODevice::ReadOnly)
                                         ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                         : QStringLiteral("a program");
                holders << QStringLiteral("%1, PID %2").arg(name, pid);
                break;
            }
        }
    }
    return holders;
}

} // namespace

QString portProblem(const QString &port, bool lost, int serialError)
{
    const QString path = devicePath(port);
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::stat(native.constData(), &info) != 0) {
        if (lost)
            return QStringLiteral("lost %1: it is gone, the adapter was unplugged; plug it back "
                                  "in and try again")
                .arg(port);
        return QStringLiteral("no such port: %1 (%2)").arg(port, listedPortsText());
    }
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is a folder, not a serial port").arg(port);
    if (S_ISREG(info.st_mode))
        return QStringLiteral("%1 is a regular file, not a serial port").arg(port);
    if (!S_ISCHR(info.st_mode))
        return QStringLiteral("%1 is not a serial port").arg(port);
    if (::access(native.constData(), R_OK | W_OK) != 0) {
        const struct group *owner = ::getgrgid(info.st_gid);
        const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        if (owner && groupMayUse) {
            const QString group = QString::fromLocal8Bit(owner->gr_name);
            return QStringLiteral("no permission to use %1: add your user to the group '%2' "
                                  "(sudo usermod -aG %2 $USER), then log out and back in")
                .arg(port, group);
        }
        return QStringLiteral("no permission to use %1").arg(port);
    }
    const QStringList holders = holdersOf(info.st_rdev);
    if (!holders.isEmpty())
        return QStringLiteral("%1 is in use by another program (%2); close it and try again")
            .arg(port, holders.join(QStringLiteral("; ")));
    if (lost)
        return QStringLiteral("lost %1: the port stopped working (error %2); check the adapter "
                              "and try again")
            .arg(port)
            .arg(serialError);
    if (serialError == QSerialPort::PermissionError) // locked by a program that hid its use
        return QStringLiteral("%1 is in use by another program; close it and try again").arg(port);
    return QStringLiteral("cannot open %1 (error %2)").arg(port).arg(serialError);
}

} // namespace Cli
