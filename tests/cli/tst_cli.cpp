// olvex-cli run in-process (so the waits can be shortened) against simulated
// devices on a real pseudo-terminal: what it prints, what it writes into the
// devices, what it refuses, and how it ends.

#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/portcheck.h"
#include "registry/exchange.h"
#include "registry/registry.h"
#include "serial/serialthread.h"

#include "support/fixtures.h"
#include "support/linerig.h"

#include "runcli.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

using DevSim::FaultRule;
using Id = std::array<quint8, 8>;

const Id IdA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
const Id IdB = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const Id IdB2 = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xAA, 0xBB}; // B's six bytes
const Id IdC = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7};
const Id IdP = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};

// A line slow enough for a transfer to be cut in the middle.
DevSim::Options at9600()
{
    DevSim::Options options;
    options.baud = 9600;
    return options;
}

// (stage, part) pairs as "1/1 2/2 ...", for a failure to show.
QString framesText(const std::vector<std::pair<int, int>> &frames)
{
    QStringList text;
    for (const auto &[stage, part] : frames)
        text << QStringLiteral("%1/%2").arg(stage).arg(part);
    return text.join(QLatin1Char(' '));
}

// Sends Ctrl-C to this process once the line has seen what `reached` waits
// for, and notes when it went.
std::thread interruptWhen(DevSim::Simulator &sim,
                          std::function<bool()> reached,
                          int delayMs = 0,
                          std::chrono::steady_clock::time_point *sentAt = nullptr)
{
    return std::thread([&sim, reached, delayMs, sentAt] {
        if (!sim.waitFor(reached, 30000))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        if (sentAt)
            *sentAt = std::chrono::steady_clock::now();
        ::kill(::getpid(), SIGINT);
    });
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void scanPrintsTheInventoryAndTheLogGoesWhereAsked();
    void flashWritesTheNamedDevicesOnly();
    void silentDeviceFailsTheRunAndQuietPrintsOnlyTheResult();
    void failedDeviceSaysWhy();
    void typeLeavesTheOtherTypesAlone();
    void secondMasterIsCountedAndTheUpdateStaysExact();
    void liveLinesFitTheTerminalAsItIsResized();
    void refusalsComeBeforeAnythingIsWritten_data();
    void refusalsComeBeforeAnythingIsWritten();
    void imageIsCheckedWithoutALine();
    void usageErrors_data();
    void usageErrors();
    void portTroubleIsSaidInWords();
    void lostPortEndsTheRunAndSaysSo();
    void interruptGivesUpTheDeviceUnderTransfer();
    void interruptDuringAScanEndsWithinASecond();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedLineTiming> m_timing;
};

void CliTest::init()
{
    resetSharedStateForTests();
    TransactionPhase = PhaseReady;
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
}

void CliTest::cleanup()
{
    m_timing.reset();
}

void CliTest::scanPrintsTheInventoryAndTheLogGoesWhereAsked()
{
    auto sim = startSimulator({simDevice(IdA, 10, 2, 7),
                               simDevice(IdP, 0, 0x81, 2),
                               simDevice(IdB, 10, 1, 4),
                               simDevice(IdB2, 11, 0, 0)});
    const Run table = runCli({"scan", port(*sim)});
    QCOMPARE(table.code, 0);
    // Six bytes as the window shows them, all eight where two devices share six.
    QCOMPARE(table.out,
             QString("ADDRESS                  TYPE         VERSION  BOOT\n"
                     "00:1a:2b:3c:4d:5e        VT-TALLY-8   2.7      no\n"
                     "10:20:30:40:50:60        VT-PROBE     1.2      yes\n"
                     "01:02:03:04:05:06:07:08  VT-TALLY-8   1.4      no\n"
                     "01:02:03:04:05:06:aa:bb  VT-TALLY-16  unknown  no\n"
                     "4 devices\n"));
    QCOMPARE(table.err, QString("searching %1\n").arg(port(*sim)));

    const QString logPath = m_dir.filePath("scan.log");
    // Addresses given to a scan are matched as a flash would match them, and
    // the JSON says which devices each names, by their whole address.
    const Run json = runCli({"scan",
                             port(*sim),
                             "--json",
                             "--log",
                             logPath,
                             "--device",
                             "01-02-03-04-05-06,10:20:30:40:50:60:70:80",
                             "-d",
                             "AA:BB:CC:DD:EE:FF"});
    QCOMPARE(json.code, 0);
    QCOMPARE(
        json.json()["named"].toArray(),
        (QJsonArray{
            QJsonObject{{"address", "01-02-03-04-05-06"},
                        {"ids", QJsonArray{"01:02:03:04:05:06:07:08", "01:02:03:04:05:06:aa:bb"}}},
            QJsonObject{{"address", "10:20:30:40:50:60:70:80"},
                        {"ids", QJsonArray{"10:20:30:40:50:60:70:80"}}},
            QJsonObject{{"address", "AA:BB:CC:DD:EE:FF"}, {"ids", QJsonArray{}}}}));
    QVERIFY2(json.err.contains("AA:BB:CC:DD:EE:FF names no device found\n"), qPrintable(json.err));
    QCOMPARE(json.json()["exitCode"].toInt(), 0);
    QCOMPARE(json.json()["exitMeaning"].toString(), QString("devices found"));
    QCOMPARE(json.json()["portForm"].toString(), QString("serial"));
    QCOMPARE(json.json()["devices"].toArray().size(), 4);
    QCOMPARE(json.device(1),
             (QJsonObject{{"address", "10:20:30:40:50:60"},
                          {"id", "10:20:30:40:50:60:70:80"},
                          {"type", "VT-PROBE"},
                          {"typeCode", 10},
                          {"version", "1.2"},
                          {"bootLoader", true}}));
    QVERIFY(json.device(3)["version"].isNull());
    QVERIFY(!json.err.contains("SerialP"));
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QVERIFY(logged.contains("SerialP: new id: 01:02:03:04:05:06\n"));
    QVERIFY(logged.contains("SerialP: CPDevice [10:20:30:40:50:60:70:80], cmd_t 0x2, cmd_b 20"));

    const Run verbose = runCli({"scan", port(*sim), "-v"});
    QCOMPARE(verbose.code, 0);
    QCOMPARE(verbose.err.count("SerialP: new id: "), 4);
}

void CliTest::flashWritesTheNamedDevicesOnly()
{
    const QByteArray image = firmwareImage(9 * 197 + 100, 21); // ten parts
    const QString path = writeFile(m_dir, "image.bin", image);
    auto sim
        = startSimulator({simDevice(IdA, 10, 1, 0),
                          simDevice(IdB, 10, 1, 0),
                          simDevice(IdC, 10, 1, 0, {FaultRule{FaultRule::WrongPart, 1, 3, 0}})});
    const Run run = runCli({"flash",
                            port(*sim),
                            path,
                            "--json",
                            "--device",
                            "00:1a:2b:3c:4d:5e",
                            "-d",
                            "C0-C1-C2-C3-C4-C5-C6-C7"});
    QCOMPARE(run.code, 0);

    QCOMPARE(imageOf(*sim, 0), image);
    QCOMPARE(sim->firmwareFramesReceived(1), 0);
    QCOMPARE(imageOf(*sim, 2), image);
    const QJsonObject a = run.device(0);
    QCOMPARE(a["outcome"].toString(), QString("updated"));
    QCOMPARE(a["partsAcknowledged"].toInt(), 10);
    QCOMPARE(a["partsTotal"].toInt(), 10);
    QCOMPARE(a["repeats"].toInt(), 0);
    QVERIFY(a["seconds"].toDouble() > 0);
    QCOMPARE(run.device(1)["selected"].toBool(), false);
    QVERIFY(!run.device(1).contains("outcome"));
    QCOMPARE(run.device(2)["outcome"].toString(), QString("updated"));
    QCOMPARE(run.device(2)["repeats"].toInt(), 1); // the wrong acknowledgement of part 3
    QCOMPARE(run.json()["imageBytes"].toInt(), image.size());

    // Off a terminal: a line when a device starts, one per ten percent, one at its end.
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts).filter("00:1a:2b:3c:4d:5e  ");
    QVERIFY2(lines.size() >= 3 && lines.size() <= 11, qPrintable(run.err));
    QVERIFY(lines.first().startsWith("00:1a:2b:3c:4d:5e  preparing  0/10 parts"));
    QVERIFY(lines.last().startsWith("00:1a:2b:3c:4d:5e  updated  10/10 parts  0 repeats"));
    int last = 0;
    for (const QString &l : lines.mid(1, lines.size() - 2)) {
        const int percent = l.mid(19, 3).trimmed().toInt();
        QVERIFY2(percent >= last + 10 && percent < 100, qPrintable(l));
        last = percent;
    }
    QVERIFY(!run.err.contains("01:02:03:04:05:06"));
}

void CliTest::silentDeviceFailsTheRunAndQuietPrintsOnlyTheResult()
{
    const QByteArray image = firmwareImage(1000, 22);
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::Silent, -1, 1, 0}}),
                               simDevice(IdB, 10, 1, 0)});
    const Run run
        = runCli({"flash", port(*sim), writeFile(m_dir, "i.bin", image), "--all", "--json", "-q"});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.err, QString());
    const QJsonObject a = run.device(0);
    QCOMPARE(a["outcome"].toString(), QString("failed"));
    QCOMPARE(a["partsAcknowledged"].toInt(), 0);
    QCOMPARE(a["partsTotal"].toInt(), 6);
    QCOMPARE(a["repeats"].toInt(), 4);
    QCOMPARE(a["reason"].toString(), QString("no answer"));
    QVERIFY(!a.contains("errorCode"));
    const std::vector<std::pair<int, int>> toA{{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {0, 1}};
    QCOMPARE(firmwareFramesTo(*sim, IdA), toA);
    QCOMPARE(run.device(1)["outcome"].toString(), QString("updated"));
    QVERIFY(!run.device(1).contains("reason"));
    QCOMPARE(imageOf(*sim, 1), image);
}

// A failed device says why: the last thing it answered before it was given up.
void CliTest::failedDeviceSaysWhy()
{
    const QByteArray image = firmwareImage(1000, 25);
    const QString path = writeFile(m_dir, "i.bin", image);
    auto sim
        = startSimulator({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::ErrorReport, -1, 2, -6}}),
                          simDevice(IdB, 10, 1, 0, {FaultRule{FaultRule::WrongPart, -1, 3, 0}}),
                          simDevice(IdC, 10, 1, 0)});
    const Run run = runCli({"flash", port(*sim), path, "--all", "--json", "-q"});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.device(0)["reason"].toString(), QString("error answer"));
    QCOMPARE(run.device(0)["errorCode"].toInt(), -6);
    QCOMPARE(run.device(0)["partsAcknowledged"].toInt(), 1);
    QCOMPARE(run.device(1)["reason"].toString(), QString("wrong acknowledgement"));
    QCOMPARE(run.device(1)["partsAcknowledged"].toInt(), 2);
    QCOMPARE(run.device(2)["outcome"].toString(), QString("updated"));

    sim->clearHostFrames();
    const Run table = runCli({"flash", port(*sim), path, "-d", "00:1a:2b:3c:4d:5e", "-q"});
    QCOMPARE(table.code, 1);
    const QString row = table.out.section('\n', 1, 1);
    QVERIFY2(row.startsWith("00:1a:2b:3c:4d:5e  VT-TALLY-8  failed   1/6    4        "),
             qPrintable(table.out));
    QVERIFY(row.endsWith("  error answer (code -6)"));
}

// --type: only devices of that type are written. --all reports the others as
// left alone; a named device of another type, or no device of the type, writes
// nothing.
void CliTest::typeLeavesTheOtherTypesAlone()
{
    const QByteArray image = firmwareImage(1000, 27);
    const QString path = writeFile(m_dir, "i.bin", image);
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0),
                               simDevice(IdB2, 11, 1, 0),
                               simDevice(IdP, 0, 1, 0),
                               simDevice(IdC, 10, 1, 0)});
    const Run all = runCli({"flash", port(*sim), path, "--all", "--type", "VT-TALLY-8", "-q"});
    QCOMPARE(all.code, 0);
    QCOMPARE(imageOf(*sim, 0), image);
    QCOMPARE(imageOf(*sim, 3), image);
    QCOMPARE(sim->firmwareFramesReceived(1), 0);
    QCOMPARE(sim->firmwareFramesReceived(2), 0);
    const QStringList rows = all.out.split('\n');
    QVERIFY2(rows.size() == 7 && rows[0].endsWith("SECONDS  REASON"), qPrintable(all.out));
    QVERIFY(rows[1].startsWith("00:1a:2b:3c:4d:5e  VT-TALLY-8   updated       6/6    0        "));
    QCOMPARE(
        rows[2],
        QString(
            "01:02:03:04:05:06  VT-TALLY-16  not selected  -      -        -        other type"));
    QCOMPARE(
        rows[3],
        QString(
            "10:20:30:40:50:60  VT-PROBE     not selected  -      -        -        other type"));
    QVERIFY(rows[4].startsWith("c0:c1:c2:c3:c4:c5  VT-TALLY-8   updated       6/6    0        "));
    QCOMPARE(rows[5], QString("2 updated, 0 failed, 0 not started, 2 not selected (other type)"));

    // No device of the type: nothing to do, nothing written, the others reported.
    const Run none = runCli({"flash", port(*sim), path, "--all", "--type", "vt-relay", "--json"});
    QCOMPARE(none.code, 0);
    QVERIFY2(none.err.contains("4 devices found, none of type VT-RELAY: nothing to update\n"),
             qPrintable(none.err));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(none.device(i)["selected"].toBool(), false);
        QCOMPARE(none.device(i)["outcome"].toString(), QString("not selected"));
        QCOMPARE(none.device(i)["reason"].toString(), QString("other type"));
    }
    // A named device of another type is refused, for all the ones named.
    const Run named = runCli({"flash",
                              port(*sim),
                              path,
                              "-d",
                              "00:1a:2b:3c:4d:5e,01:02:03:04:05:06,10:20:30:40:50:60",
                              "--type",
                              "VT-TALLY-8",
                              "-q"});
    QCOMPARE(named.code, 2);
    QCOMPARE(named.err,
             QString("olvex-cli: --type VT-TALLY-8, but 01:02:03:04:05:06 is VT-TALLY-16, "
                     "10:20:30:40:50:60 is VT-PROBE\n"));
    QCOMPARE(named.out, QString());
    for (size_t i = 0; i < sim->deviceCount(); ++i)
        QCOMPARE(sim->firmwareFramesReceived(i), i == 0 || i == 3 ? 6 : 0); // the first run's
}

// Another master polls the same bus (Modbus, and CPD to a device of its
// own): nothing of it is taken for an answer, the run says so once, and the
// JSON counts it. A plain line says nothing.
void CliTest::secondMasterIsCountedAndTheUpdateStaysExact()
{
    const QByteArray image = firmwareImage(8 * 197 + 9, 31);
    const QString path = writeFile(m_dir, "image.bin", image);
    DevSim::Options options;
    options.masterMs = 120;
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 2, 0)}, options);
    const Run run = runCli({"flash", port(*sim), path, "--all", "--json"});
    QCOMPARE(run.code, 0);
    QCOMPARE(imageOf(*sim, 0), image);
    QCOMPARE(imageOf(*sim, 1), image);
    const QJsonObject foreign = run.json()["foreignTraffic"].toObject();
    QVERIFY2(foreign["frames"].toInt() >= 3, qPrintable(run.out));
    QVERIFY2(foreign["bytes"].toInt() >= 8, qPrintable(run.out));
    QCOMPARE(run.err.count("the line carries traffic that is not ours"), 1);
    QCOMPARE(run.device(1)["version"].toString(), QString("2.0")); // no foreign answer taken

    auto plain = startSimulator({simDevice(IdA, 10, 1, 0)});
    const Run quiet = runCli({"scan", port(*plain), "--json"});
    QCOMPARE(quiet.code, 0);
    QCOMPARE(quiet.json()["foreignTraffic"].toObject()["frames"].toInt(), 0);
    QVERIFY(!quiet.err.contains("not ours"));
}

void CliTest::refusalsComeBeforeAnythingIsWritten_data()
{
    QTest::addColumn<QString>("image"); // a size, "dir" or "missing"
    QTest::addColumn<QStringList>("choice");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("error"); // %1: the image's path, %2: the port
    const QStringList all{"--all"};
    QTest::newRow("empty") << "0" << all << 2 << "image refused, the file is empty: %1";
    QTest::newRow("394 bytes") << "394" << all << 2
                               << "image refused, too small (394 bytes or less): %1";
    QTest::newRow("65536 parts") << QString::number(65535 * 197 + 1) << all << 2
                                 << "image refused, too large (more than 65535 parts): %1";
    QTest::newRow("a directory")
        << "dir" << all << 2
        << "image refused, it cannot be read (not a readable regular file): %1";
    QTest::newRow("no file") << "missing" << all << 2 << "no such image file: %1";
    QTest::newRow("mixed types")
        << "1000" << QStringList{"-d", "00:1a:2b:3c:4d:5e", "-d", "01:02:03:04:05:06:aa:bb"} << 2
        << "devices of different types: 00:1a:2b:3c:4d:5e is VT-TALLY-8, "
           "01:02:03:04:05:06:aa:bb is VT-TALLY-16";
    QTest::newRow("unknown address")
        << "1000" << QStringList{"-d", "00:1a:2b:3c:4d:5e,0a:0b:0c:0d:0e:0f"} << 4
        << "not found on %2: 0a:0b:0c:0d:0e:0f";
    QTest::newRow("one address, two devices")
        << "1000" << QStringList{"-d", "01:02:03:04:05:06"} << 2
        << "01:02:03:04:05:06 names 2 devices (01:02:03:04:05:06:07:08, 01:02:03:04:05:06:aa:bb); "
           "give all eight bytes";
}

void CliTest::refusalsComeBeforeAnythingIsWritten()
{
    QFETCH(QString, image);
    QFETCH(QStringList, choice);
    QFETCH(int, code);
    QFETCH(QString, error);
    QString path = m_dir.filePath(image);
    if (image == "dir") {
        QVERIFY(QDir(m_dir.path()).mkpath("dir"));
    } else if (image != "missing") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(image.toLongLong())); // sparse
    }
    auto sim = startSimulator(
        {simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 1, 0), simDevice(IdB2, 11, 1, 0)});
    const Run run = runCli(QStringList{"flash", port(*sim), path, "-q"} + choice);
    QCOMPARE(run.code, code);
    error.replace("%1", path).replace("%2", port(*sim));
    QCOMPARE(run.err, "olvex-cli: " + error + "\n");
    QCOMPARE(run.out, QString());
    int firmware = 0;
    for (size_t i = 0; i < sim->deviceCount(); ++i)
        firmware += sim->firmwareFramesReceived(i);
    QCOMPARE(firmware, 0);
    // A refused image does not even search, and the image check refuses it alike.
    if (choice == QStringList{"--all"}) {
        QVERIFY(sim->hostFrames().empty());
        const Run checked = runCli({"image", path, "--json"});
        QCOMPARE(checked.code, 2);
        QCOMPARE(checked.err, run.err);
        QCOMPARE(checked.json()["error"].toString(), error);
        QVERIFY(!checked.json().contains("partsTotal"));
    }
}

void CliTest::imageIsCheckedWithoutALine()
{
    // The smallest image taken is one byte into the third part.
    const QString path = writeFile(m_dir, "smallest.bin", firmwareImage(2 * 197 + 1, 25));
    const Run run = runCli({"image", path});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, path + ": 395 bytes, 3 parts\nnot signed\n");
    QCOMPARE(run.err, QString());

    const QString largest = m_dir.filePath("largest.bin");
    QFile file(largest);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(65535 * 197)); // sparse
    file.close();
    const Run json = runCli({"image", largest, "--json"});
    QCOMPARE(json.code, 0);
    QCOMPARE(json.json()["imageBytes"].toInt(), 65535 * 197);
    QCOMPARE(json.json()["partsTotal"].toInt(), 65535);
    QCOMPARE(json.json()["exitCode"].toInt(), 0);
    QCOMPARE(json.json()["exitMeaning"].toString(), QString("image taken"));
}

void CliTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing") << QStringList{} << "no command given";
    QTest::newRow("unknown command") << QStringList{"erase", "/dev/x"} << "unknown command 'erase'";
    QTest::newRow("scan without port") << QStringList{"scan"} << "scan needs a PORT";
    QTest::newRow("image without image") << QStringList{"image"} << "image needs an IMAGE";
    QTest::newRow("image with a log")
        << QStringList{"image", "i.bin", "--log", "x.log"} << "image keeps no log";
    QTest::newRow("flash without image")
        << QStringList{"flash", "/dev/x", "--all"} << "flash needs a PORT and an IMAGE";
    QTest::newRow("no choice") << QStringList{"flash", "/dev/x", "i.bin"}
                               << "flash needs either --all or --device ADDRESS";
    QTest::newRow("both")
        << QStringList{"flash", "/dev/x", "i.bin", "--all", "-d", "01:02:03:04:05:06"}
        << "--all and --device cannot be used together";
    QTest::newRow("bad address") << QStringList{"flash", "/dev/x", "i.bin", "-d", "01:02:03"}
                                 << "'01:02:03' is not a device address";
    QTest::newRow("more addresses, one bad")
        << QStringList{"flash", "/dev/x", "i.bin", "-d", "01:02:03:04:05:06", "0g:02:03:04:05:06"}
        << "'0g:02:03:04:05:06' is not a device address";
    QTest::newRow("stray argument")
        << QStringList{"scan", "/dev/x", "more"} << "unexpected argument 'more'";
    QTest::newRow("--all on a scan")
        << QStringList{"scan", "/dev/x", "--all"} << "--all belongs to flash";
    QTest::newRow("--device on image") << QStringList{"image", "i.bin", "-d", "01:02:03:04:05:06"}
                                       << "--device belongs to scan and flash";
    QTest::newRow("--type on a scan")
        << QStringList{"scan", "/dev/x", "--type", "VT-PROBE"} << "--type belongs to flash";
    QTest::newRow("unknown type")
        << QStringList{"flash", "/dev/x", "i.bin", "--all", "--type", "VT-TALLY-32"}
        << "'VT-TALLY-32' is not a device type (VT-PROBE, VT-TALLY-8, VT-TALLY-16, VT-RELAY)";
    QTest::newRow("--skip-current on image")
        << QStringList{"image", "i.bin", "--skip-current"} << "--skip-current belongs to flash";
    QTest::newRow("--trusted-key on a scan")
        << QStringList{"scan", "/dev/x", "--trusted-key", "k.pub"}
        << "--signature, --trusted-key and --require-signed belong to flash and image";
    QTest::newRow("unknown option")
        << QStringList{"scan", "/dev/x", "--frobnicate"} << "Unknown option 'frobnicate'.";
}

void CliTest::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const Run run = runCli(arguments);
    QCOMPARE(run.code, 2);
    QCOMPARE(run.err, "olvex-cli: " + error + " (see --help)\n");
    QCOMPARE(run.out, QString());
}

void CliTest::portTroubleIsSaidInWords()
{
    const Run missing = runCli({"scan", "/dev/olvex-no-such-port", "-q", "--json"});
    QCOMPARE(missing.code, 3);
    QVERIFY2(missing.err.startsWith("olvex-cli: no such port: /dev/olvex-no-such-port ("),
             qPrintable(missing.err));
    QVERIFY(missing.err.contains(Cli::listedPortsText()));
    QCOMPARE(missing.json()["exitCode"].toInt(), 3);
    QCOMPARE(missing.json()["exitMeaning"].toString(),
             QString("the port cannot be opened, or it was lost"));
    QCOMPARE(runCli({"scan", "", "-q"}).err, QString("olvex-cli: no port named\n"));

    const QString file = writeFile(m_dir, "notes.txt", "not a port");
    QCOMPARE(runCli({"scan", file, "-q"}).err,
             QString("olvex-cli: %1 is a regular file, not a serial port\n").arg(file));
    QCOMPARE(runCli({"scan", m_dir.path(), "-q"}).err,
             QString("olvex-cli: %1 is a folder, not a serial port\n").arg(m_dir.path()));

    // Another program has the port: it is named.
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0)});
    {
        QSerialPort other(port(*sim));
        QVERIFY(other.open(QIODevice::ReadWrite));
        const Run busy = runCli({"scan", port(*sim), "-q"});
        QCOMPARE(busy.code, 3);
        QVERIFY2(busy.err.contains(QRegularExpression(
                     QString("^olvex-cli: %1 is in use by another program \\(tst_cli, PID %2\\); "
                             "close it and try again\n$")
                         .arg(QRegularExpression::escape(port(*sim)))
                         .arg(QCoreApplication::applicationPid()))),
                 qPrintable(busy.err));
    }
    QCOMPARE(runCli({"scan", port(*sim), "-q"}).code, 0); // free again
}

void CliTest::lostPortEndsTheRunAndSaysSo()
{
    // The adapter is pulled in the middle of the first device.
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 1, 0)}, at9600());
    const QString path = writeFile(m_dir, "i.bin", firmwareImage(40 * 197, 23));
    std::thread pull([&sim] {
        if (sim->waitFor([&sim] { return sim->firmwareFramesReceived(0) >= 4; }, 30000))
            sim->stop();
    });
    const Run lost = runCli({"flash", port(*sim), path, "--all", "-q"});
    pull.join();
    QCOMPARE(lost.code, 3);
    QCOMPARE(lost.err,
             QString("olvex-cli: lost %1: it is gone, the adapter was unplugged; plug it back in "
                     "and try again\n")
                 .arg(port(*sim)));
    const QStringList rows = lost.out.split('\n');
    QVERIFY2(rows.size() == 5, qPrintable(lost.out));
    QVERIFY(rows[0].endsWith("SECONDS  REASON"));
    QVERIFY(rows[1].startsWith("00:1a:2b:3c:4d:5e  VT-TALLY-8  failed       "));
    QVERIFY(rows[1].endsWith("  port lost"));
    QVERIFY(rows[2].startsWith("01:02:03:04:05:06  VT-TALLY-8  not started  0/40"));
    QCOMPARE(rows[3], QString("0 updated, 1 failed, 1 not started"));
}

void CliTest::interruptGivesUpTheDeviceUnderTransfer()
{
    // A answers part 6 a second and a half late, inside a longer answer
    // window: Ctrl-C, sent as part 6 arrives, comes while the worker waits
    // for that answer, however slowly this machine gets it there.
    constexpr int LateMs = 1500;
    LineTiming timing = quickTiming();
    timing.answerWait = 2 * LateMs;
    m_timing.reset();
    m_timing = std::make_unique<ScopedLineTiming>(timing);
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::Late, 1, 6, LateMs}}),
                               simDevice(IdB, 10, 1, 0)},
                              at9600());
    const QString path = writeFile(m_dir, "i.bin", firmwareImage(40 * 197, 24));
    std::thread ctrlC = interruptWhen(*sim, [&sim] { return sim->firmwareFramesReceived(0) >= 6; });
    const Run run = runCli({"flash", port(*sim), path, "--all"}, [] { return 0; });
    ctrlC.join();
    QCOMPARE(run.code, 130);
    // Parts 1 to 6, then the frame that gives the device up: written before
    // the run ended, taken by the simulator a moment later.
    QVERIFY(
        sim->waitFor([&sim] { return sim->imageState(0) == DevSim::ImageState::Aborted; }, 5000));
    const std::vector<std::pair<int, int>> toA{
        {1, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {2, 6}, {0, 6}};
    QVERIFY2(firmwareFramesTo(*sim, IdA) == toA,
             qPrintable(framesText(firmwareFramesTo(*sim, IdA))));
    QCOMPARE(sim->firmwareFramesReceived(1), 0);
    QVERIFY2(run.out.contains("\n00:1a:2b:3c:4d:5e  VT-TALLY-8  failed       5/40 "),
             qPrintable(run.out));
    QVERIFY2(
        run.out.contains("\n01:02:03:04:05:06  VT-TALLY-8  not started  0/40   0        0.0\n"),
        qPrintable(run.out));
    QVERIFY(run.out.endsWith("0 updated, 1 failed, 1 not started\n"));
    QVERIFY(run.out.contains(QRegularExpression("\n00:1a:2b:3c:4d:5e .* interrupted\n")));
    // On a terminal: the live line of the device, with its time left and the batch's.
    QVERIFY2(
        run.err.contains(QRegularExpression(
            "\r\033\\[K00:1a:2b:3c:4d:5e   1\\d%  [4-9]/40 parts  0:0\\d elapsed  0:\\d\\d left  "
            "batch 0:\\d\\d left")),
        qPrintable(run.err));
    // The message starts a line of its own below the live line.
    QVERIFY(run.err.contains(
        QRegularExpression("left\n(\r\033\\[K)?olvex-cli: interrupted, giving up the device "
                           "being written\n")));
}

void CliTest::liveLinesFitTheTerminalAsItIsResized()
{
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0, {FaultRule{FaultRule::WrongPart, 2, 4, 0}}),
                               simDevice(IdB, 10, 1, 0)},
                              at9600());
    const QString path = writeFile(m_dir, "i.bin", firmwareImage(30 * 197, 26));
    std::atomic<int> columns{60};
    std::thread narrow([&sim, &columns] {
        if (sim->waitFor([&sim] { return sim->firmwareFramesReceived(0) >= 15; }, 30000))
            columns = 28;
    });
    const Run run = runCli(
        {"flash", port(*sim), path, "--all"}, [&columns] { return columns.load(); }, 58);
    narrow.join();
    QCOMPARE(run.code, 0);
    // Every draw of a live line, from the sequence that starts it to the next.
    const QStringList draws = run.err.split("\r\033[K");
    int wide = 0;
    int narrowed = 0;
    bool repeatsShown = false;
    for (QString draw : draws.mid(1)) {
        draw = draw.section('\n', 0, 0);
        QVERIFY2(draw.size() < 60, qPrintable(draw));
        if (draw.size() >= 28)
            ++wide;
        else if (draw.startsWith("00:1a:") || draw.startsWith("01:02:"))
            ++narrowed;
        repeatsShown = repeatsShown || draw.contains("2 repeats");
    }
    QVERIFY2(wide > 0 && narrowed > 0,
             qPrintable(QString("%1 wide, %2 narrow").arg(wide).arg(narrowed)));
    QVERIFY(repeatsShown); // the wrong acknowledgements, as they came
    // A settled line takes the live line's place, whole.
    QVERIFY2(run.err.contains("\r\033[K00:1a:2b:3c:4d:5e  updated  30/30 parts  2 repeats  "),
             qPrintable(run.err.right(400)));
    // The report fits the terminal too: its headings are shortened before it wraps.
    QCOMPARE(run.out,
             QString("ADDRESS           TYPE       RESULT  PARTS REP SEC\n"
                     "00:1a:2b:3c:4d:5e VT-TALLY-8 updated 30/30 2   %1\n"
                     "01:02:03:04:05:06 VT-TALLY-8 updated 30/30 0   %2\n"
                     "2 updated, 0 failed, 0 not started\n")
                 .arg(run.out.section('\n', 1, 1).section(' ', -1),
                      run.out.section('\n', 2, 2).section(' ', -1)));
}

void CliTest::interruptDuringAScanEndsWithinASecond()
{
    m_timing.reset(); // the product's waits: a search round's answer window is a second
    auto sim = startSimulator({});
    // 100 ms into the answer window of the first round.
    const int pause = lineTiming().searchPause + 100;
    std::chrono::steady_clock::time_point sentAt;
    std::thread ctrlC = interruptWhen(
        *sim, [&sim] { return !sim->hostFrames().empty(); }, pause, &sentAt);
    const Run run = runCli({"scan", port(*sim)});
    const auto ended = std::chrono::steady_clock::now();
    ctrlC.join();
    QCOMPARE(run.code, 130);
    QCOMPARE(run.err, QString("searching %1\nolvex-cli: interrupted\n").arg(port(*sim)));
    // Counted from the Ctrl-C itself: the start-up before the first request
    // is no part of it. Waiting the window out would take 900 ms.
    const qint64 afterCtrlC
        = std::chrono::duration_cast<std::chrono::milliseconds>(ended - sentAt).count();
    QVERIFY2(afterCtrlC < 500, qPrintable(QString::number(afterCtrlC)));
}

int main(int argc, char *argv[])
{
    // As olvex-cli's main() does, before any thread exists (the test
    // library's watchdog included), so that Ctrl-C is the tool's to take.
    Cli::blockInterruptSignals();
    QCoreApplication app(argc, argv);
    CliTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_cli.moc"
