// olvex-cli as a process of its own, with the product's waits and without a
// display: the toolkit's help and version, the port list, two lines served by
// two processes at once, and a second Ctrl-C that ends it at once.

#include "support/fixtures.h"
#include "support/linerig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPortInfo>
#include <QtTest>

#include <QStandardPaths>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using DevSim::FaultRule;
using Id = std::array<quint8, 8>;

const Id IdA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
const Id IdB = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
constexpr int RunMs = 60000;

std::unique_ptr<QProcess> start(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    // The race checker sleeps a second before a process ends; not here.
    if (environment.contains("TSAN_OPTIONS"))
        environment.insert("TSAN_OPTIONS",
                           environment.value("TSAN_OPTIONS") + " atexit_sleep_ms=0");
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(OLVEX_CLI), arguments);
    process->waitForStarted();
    return process;
}

QString output(QProcess &process)
{
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Whether a SIGINT sent to the process waits yet to be taken. Two that wait
// at once are one: the second would be lost.
bool interruptWaiting(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &row : status.readAll().split('\n')) {
        if (!row.startsWith("SigPnd:") && !row.startsWith("ShdPnd:"))
            continue;
        bool ok = false;
        const quint64 pending = row.mid(7).trimmed().toULongLong(&ok, 16);
        if (ok && (pending & (quint64(1) << (SIGINT - 1))) != 0)
            return true;
    }
    return false;
}

} // namespace

class CliProcessTest : public QObject
{
    Q_OBJECT
private slots:
    void helpVersionAndPortsWithoutADisplay();
    void twoLinesAtOnceWithTheRealWaits();
    void secondInterruptEndsAtOnce();
    void portWithoutPermissionNamesTheGroupToJoin();

private:
    QTemporaryDir m_dir;
};

void CliProcessTest::helpVersionAndPortsWithoutADisplay()
{
    auto help = start({"--help"});
    QVERIFY(help->waitForFinished(RunMs));
    QCOMPARE(help->exitCode(), 0);
    const QString text = output(*help);
    for (const char *line : {"flash PORT IMAGE --all",
                             "image IMAGE",
                             "-d, --device <address>",
                             "--json",
                             "--log <file>",
                             "  3    the port cannot be opened, or it was lost\n",
                             "  130  interrupted (Ctrl-C; a second Ctrl-C quits at once)"})
        QVERIFY2(text.contains(line), line);

    auto version = start({"--version"});
    QVERIFY(version->waitForFinished(RunMs));
    QCOMPARE(output(*version), QString("olvex-cli v1.0.0\n"));

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    auto list = start({"ports"});
    auto json = start({"ports", "--json"});
    QVERIFY(list->waitForFinished(RunMs) && json->waitForFinished(RunMs));
    QCOMPARE(list->exitCode(), 0);
    const QStringList lines = output(*list).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), ports.size());
    for (int i = 0; i < ports.size(); ++i)
        QVERIFY(lines[i].startsWith(ports[i].portName() + "  " + ports[i].systemLocation() + "  "));
    QCOMPARE(QJsonDocument::fromJson(json->readAllStandardOutput()).array().size(), ports.size());
}

void CliProcessTest::twoLinesAtOnceWithTheRealWaits()
{
    const QByteArray imageA = firmwareImage(1000, 31);
    const QByteArray imageB = firmwareImage(1500, 32);
    auto simA = startSimulator({simDevice(IdA, 10, 1, 0)});
    auto simB = startSimulator({simDevice(IdB, 11, 1, 0)});
    QElapsedTimer clock;
    clock.start();
    auto a = start({"flash",
                    QString::fromStdString(simA->path()),
                    writeFile(m_dir, "a.bin", imageA),
                    "--all",
                    "--json"});
    auto b = start({"flash",
                    QString::fromStdString(simB->path()),
                    writeFile(m_dir, "b.bin", imageB),
                    "-d",
                    "01:02:03:04:05:06",
                    "--json"});
    QVERIFY(a->waitForFinished(RunMs));
    const qint64 first = clock.elapsed();
    QVERIFY(b->waitForFinished(RunMs));
    const qint64 both = clock.elapsed();

    for (const auto &[process, id, sim, image] :
         {std::tuple(a.get(), "00:1a:2b:3c:4d:5e:6f:70", simA.get(), &imageA),
          std::tuple(b.get(), "01:02:03:04:05:06:07:08", simB.get(), &imageB)}) {
        QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        const QJsonArray devices = QJsonDocument::fromJson(process->readAllStandardOutput())
                                       .object()["devices"]
                                       .toArray();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices[0]["id"].toString(), QString(id));
        QCOMPARE(devices[0]["outcome"].toString(), QString("updated"));
        QCOMPARE(devices[0]["partsAcknowledged"].toInt(), (image->size() + 196) / 197);
        QCOMPARE(imageOf(*sim, 0), *image);
    }
    // A search, the idle worker's look for the request, the 10 s start pause:
    // some 17 s each. One after the other would take twice that.
    QVERIFY2(both < first * 5 / 4, qPrintable(QString("%1 ms, %2 ms").arg(first).arg(both)));
}

void CliProcessTest::secondInterruptEndsAtOnce()
{
    // The device answers part 2 only 900 ms late: the first Ctrl-C waits for
    // that answer before giving the device up, the second does not wait.
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::Late, -1, 2, 900}})});
    auto cli = start({"flash",
                      QString::fromStdString(sim->path()),
                      writeFile(m_dir, "i.bin", firmwareImage(1000, 33)),
                      "--all"});
    QVERIFY(sim->waitFor([&sim] { return sim->firmwareFramesReceived(0) == 2; }, RunMs));
    ::kill(pid_t(cli->processId()), SIGINT);
    // The second Ctrl-C goes once the first has been taken, not merged into it.
    QVERIFY(QTest::qWaitFor([&cli] { return !interruptWaiting(cli->processId()); }, RunMs));
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(cli->processId()), SIGINT);
    QVERIFY(cli->waitForFinished(RunMs));
    QVERIFY2(clock.elapsed() < 400, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(cli->exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli->exitCode(), 130);
    QCOMPARE(output(*cli), QString()); // no report: it ended there and then
    const std::vector<std::pair<int, int>> sent{{1, 1}, {2, 2}};
    QCOMPARE(firmwareFramesTo(*sim, IdA), sent);
}

// As a user who may not use the port: the message names the group that may.
void CliProcessTest::portWithoutPermissionNamesTheGroupToJoin()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to hand the port to a group and run the tool as another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is missing");
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0)});
    const QByteArray line = QByteArray::fromStdString(sim->path());
    const struct group *dialout = ::getgrnam("dialout");
    QVERIFY2(dialout, "no group dialout on this machine");
    QCOMPARE(::chown(line.constData(), 0, dialout->gr_gid), 0);
    QCOMPARE(::chmod(line.constData(), 0660), 0);
    auto process = std::make_unique<QProcess>();
    process->start(setpriv,
                   {"--reuid=65534", "--regid=65534", "--clear-groups", OLVEX_CLI, "scan",
                    QString::fromLatin1(line), "-q"});
    QVERIFY(process->waitForFinished(RunMs));
    QCOMPARE(process->exitCode(), 3);
    QCOMPARE(QString::fromUtf8(process->readAllStandardError()),
             QString("olvex-cli: no permission to use %1: add your user to the group 'dialout' "
                     "(sudo usermod -aG dialout $USER), then log out and back in\n")
                 .arg(QString::fromLatin1(line)));
}

QTEST_GUILESS_MAIN(CliProcessTest)
#include "tst_cliprocess.moc"
