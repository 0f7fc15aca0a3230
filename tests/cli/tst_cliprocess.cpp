// olvex-cli as a process of its own, with the product's waits and without a
// display: the toolkit's help and version, the port list, two lines served by
// two processes at once, and a second Ctrl-C that ends it at once.

#include "protocol/frame.h"

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

#include <chrono>
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
using SteadyTime = std::chrono::steady_clock::time_point;

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

// When the first and the last firmware frame reached the simulated line.
std::pair<SteadyTime, SteadyTime> transferSpan(const DevSim::Simulator &sim)
{
    std::vector<SteadyTime> times;
    for (const DevSim::HostFrame &f : sim.hostFrames()) {
        if (f.valid && f.bytes.size() > 13
            && Cpd::unpackCommand(f.bytes.data()).number == Cpd::NumberFirmware)
            times.push_back(f.at);
    }
    if (times.empty())
        return {};
    return {times.front(), times.back()};
}

qint64 sinceStart(SteadyTime t, SteadyTime start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - start).count();
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
    const auto clockStart = std::chrono::steady_clock::now();
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
    // Side by side: each device's transfer (the 10 s start pause and the
    // parts) was under way while the other's was. One line served after the
    // other would put one transfer wholly after the other, however fast or
    // slow the machine.
    const auto [startA, endA] = transferSpan(*simA);
    const auto [startB, endB] = transferSpan(*simB);
    QVERIFY2(startA < endB && startB < endA,
             qPrintable(QString("A from %1 ms to %2 ms, B from %3 ms to %4 ms, both done at %5 ms")
                            .arg(sinceStart(startA, clockStart))
                            .arg(sinceStart(endA, clockStart))
                            .arg(sinceStart(startB, clockStart))
                            .arg(sinceStart(endB, clockStart))
                            .arg(both)));
}

void CliProcessTest::secondInterruptEndsAtOnce()
{
    // The device never answers part 2, so the first Ctrl-C waits out the
    // whole answer window (a second, the product's own) before it gives the
    // device up; the second, sent as soon as the first has been taken, must
    // end the process before that. A machine too slow to send it within the
    // window breaks the premise, and says so: the device then has its give-up
    // frame before the second Ctrl-C went. Such a try is made again.
    constexpr int Tries = 3;
    const QString path = writeFile(m_dir, "i.bin", firmwareImage(1000, 33));
    const std::vector<std::pair<int, int>> sent{{1, 1}, {2, 2}};
    QStringList tries;
    for (int attempt = 1; attempt <= Tries; ++attempt) {
        auto sim
            = startSimulator({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::Silent, -1, 2, 0}})});
        const auto givenUp = [&sim] {
            return firmwareFramesTo(*sim, IdA).size() > 2;
        };
        auto cli = start({"flash", QString::fromStdString(sim->path()), path, "--all"});
        // Kept: once the process has ended its id reads 0, and kill(0) would
        // interrupt this test's whole process group.
        const pid_t pid = pid_t(cli->processId());
        QVERIFY(pid > 0);
        QVERIFY(sim->waitFor([&sim] { return sim->firmwareFramesReceived(0) == 2; }, RunMs));
        ::kill(pid, SIGINT);
        // The second Ctrl-C goes once the first has been taken, not merged into it.
        QVERIFY(QTest::qWaitFor([pid] { return !interruptWaiting(pid); }, RunMs));
        const bool lateAlready = givenUp();
        QElapsedTimer clock;
        clock.start();
        const bool endedAlready = cli->state() == QProcess::NotRunning;
        if (!endedAlready)
            ::kill(pid, SIGINT);
        QVERIFY(cli->state() == QProcess::NotRunning || cli->waitForFinished(RunMs));
        const qint64 ms = clock.elapsed();
        QCOMPARE(cli->exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli->exitCode(), 130);
        const QString report = output(*cli);
        // A give-up frame the process wrote before it ended is on its way to
        // the device even now.
        if (!sim->waitFor(givenUp, 1000)) {
            QCOMPARE(report, QString()); // no report: it ended there and then
            QCOMPARE(firmwareFramesTo(*sim, IdA), sent);
            return;
        }
        tries << QStringLiteral("try %1: the device was given up %2 the second Ctrl-C went; %3")
                     .arg(attempt)
                     .arg(lateAlready ? "before" : "after")
                     .arg(endedAlready
                              ? QStringLiteral("the process had ended already")
                              : QStringLiteral("the process ended %1 ms after it").arg(ms));
        qInfo("%s", qPrintable(tries.last()));
    }
    QFAIL(qPrintable(
        QStringLiteral("the second Ctrl-C never ended the process before its worker gave the "
                       "device up, which it does only once the first Ctrl-C's wait is over; "
                       "\"before\" means the machine was too slow to send it in time. ")
        + tries.join("; ")));
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
                   {"--reuid=65534",
                    "--regid=65534",
                    "--clear-groups",
                    OLVEX_CLI,
                    "scan",
                    QString::fromLatin1(line),
                    "-q"});
    QVERIFY(process->waitForFinished(RunMs));
    QCOMPARE(process->exitCode(), 3);
    QCOMPARE(QString::fromUtf8(process->readAllStandardError()),
             QString("olvex-cli: no permission to use %1: add your user to the group 'dialout' "
                     "(sudo usermod -aG dialout $USER), then log out and back in\n")
                 .arg(QString::fromLatin1(line)));
}

QTEST_GUILESS_MAIN(CliProcessTest)
#include "tst_cliprocess.moc"
