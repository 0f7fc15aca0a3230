// olvex-cli as a process on lines behind a serial device server: ser2net
// serving a simulated line, raw and with RFC 2217, with the product's own
// waits; a server stopped during an update; and servers that cannot serve
// (nothing listening, one that never answers the negotiation, one that
// floods options, one that floods bytes), each said in words in bounded time
// and memory.

#include "support/deviceserver.h"
#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/ser2net.h"
#include "support/traffic.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

using Id = std::array<quint8, 8>;
const Id IdA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
const Id IdB = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

struct Finished
{
    int code = -1;
    QString out;
    QString err;
    qint64 ms = 0;
    qint64 peakRssKb = 0;
    qint64 cpuMs = -1; // user and system time, as last seen while it ran
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

std::unique_ptr<QProcess> startCli(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains("TSAN_OPTIONS"))
        environment.insert("TSAN_OPTIONS",
                           environment.value("TSAN_OPTIONS") + " atexit_sleep_ms=0");
    // What the address checker keeps of freed memory would hide what the
    // program itself keeps.
    if (environment.contains("ASAN_OPTIONS"))
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":quarantine_size_mb=1");
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(OLVEX_CLI), arguments);
    process->waitForStarted();
    return process;
}

// The processor time a running process has used, user and system, in ms.
qint64 cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // User and system time are the 12th and 13th fields after the command's
    // name (in parentheses), in clock ticks.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toLongLong() + fields[12].toLongLong()) * 1000 / ::sysconf(_SC_CLK_TCK);
}

// Waits for the process, watching its memory and its processor time.
Finished finish(QProcess &process, int timeoutMs, const QElapsedTimer &since)
{
    Finished done;
    while (!process.waitForFinished(50) && since.elapsed() < timeoutMs) {
        done.peakRssKb = qMax(done.peakRssKb, residentKb(process.processId()));
        done.cpuMs = qMax(done.cpuMs, cpuMs(process.processId()));
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    done.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    done.out = QString::fromUtf8(process.readAllStandardOutput());
    done.err = QString::fromUtf8(process.readAllStandardError());
    done.ms = since.elapsed();
    return done;
}

Finished runCli(const QStringList &arguments, int timeoutMs = 120000)
{
    QElapsedTimer clock;
    clock.start();
    auto process = startCli(arguments);
    return finish(*process, timeoutMs, clock);
}

// An image full of 0xFF, the byte telnet doubles, with a pattern between.
QByteArray imageOfFFs(int size)
{
    QByteArray image = firmwareImage(size, 17);
    for (int i = 0; i < size; i += 3)
        image[i] = char(0xFF);
    for (int i = 100; i < 300 && i < size; ++i)
        image[i] = char(0xFF);
    return image;
}

} // namespace

class NetworkTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void linesBehindADeviceServerAreUpdatedByteExact_data();
    void linesBehindADeviceServerAreUpdatedByteExact();
    void stoppedServerIsALostPort();
    void serversThatCannotServeAreSaidInWords_data();
    void serversThatCannotServeAreSaidInWords();
    void interruptWhileTheServerHoldsTheOpenEndsAtOnce();
    void noiseDuringTheStartPauseIsAFloodNotASpin();

private:
    QTemporaryDir m_dir;
};

void NetworkTest::initTestCase()
{
    QVERIFY2(!Ser2net::program().isEmpty(), "ser2net is not installed (scripts/setup.sh --tests)");
}

void NetworkTest::linesBehindADeviceServerAreUpdatedByteExact_data()
{
    QTest::addColumn<int>("ser2net"); // a Ser2net::Mode, or -1: our own server
    QTest::addColumn<int>("habit");   // our own server's
    QTest::newRow("ser2net, raw TCP") << int(Ser2net::Mode::Raw) << 0;
    // By name: the name looked up off the worker, its addresses tried in turn.
    QTest::newRow("ser2net, RFC 2217, by name") << int(Ser2net::Mode::Rfc2217) << 0;
    QTest::newRow("purge never answered (ser2net 4.0 to 4.3)")
        << -1 << int(DeviceServer::Habit::NoPurgeAnswer);
    QTest::newRow("the server offers COM-PORT itself")
        << -1 << int(DeviceServer::Habit::OffersComPort);
}

// The product's waits, through a device server: both devices found, the
// named one written byte for byte with an image full of 0xFF, the other left
// alone.
void NetworkTest::linesBehindADeviceServerAreUpdatedByteExact()
{
    QFETCH(int, ser2net);
    QFETCH(int, habit);
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 2, 3)});
    std::unique_ptr<Ser2net> server;
    std::unique_ptr<DeviceServer> ours;
    QString url;
    if (ser2net >= 0) {
        server = std::make_unique<Ser2net>(sim->path(), Ser2net::Mode(ser2net));
        QString why;
        QVERIFY2(server->start(&why), qPrintable(why));
        url = server->url();
        if (server->url().startsWith("rfc2217"))
            url.replace("127.0.0.1", "localhost");
    } else {
        ours = std::make_unique<DeviceServer>(DeviceServer::Habit(habit), sim->path());
        url = ours->url();
    }
    const QByteArray image = imageOfFFs(5 * 197 + 61);
    const QString path = writeFile(m_dir, "ffs.bin", image);

    const QString capture = m_dir.filePath(QTest::currentDataTag()).replace(' ', '-') + ".pcapng";
    const Finished run = runCli(
        {"flash", url, path, "--device", "01:02:03:04:05:06", "--json", "--capture", capture});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    // The capture holds the line's bytes, whatever the telnet stream was: the
    // search request first, the image's 0xFF single.
    QFile file(capture);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const Pcapng::Capture captured = Pcapng::read(file.readAll());
    QVERIFY2(captured.problem.isEmpty() && !captured.records.empty(), qPrintable(captured.problem));
    QCOMPARE(captured.records.front().bytes.toHex(' '),
             QByteArray("ff ff ff ff ff ff ff ff 1e 01 68"));
    const auto carried = imagesCarried(captured);
    QCOMPARE(int(carried.size()), 1);
    QCOMPARE(carried.begin()->second, image);
    const QJsonArray devices = run.json()["devices"].toArray();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices[1].toObject()["version"].toString(), QString("2.3"));
    QCOMPARE(imageOf(*sim, 1), image);
    QCOMPARE(sim->firmwareFramesReceived(1), 6); // not one part repeated
    QCOMPARE(sim->firmwareFramesReceived(0), 0);
    QVERIFY(sim->imageState(0) == DevSim::ImageState::None);
}

// The device server goes away in the middle of an update: the device being
// written is reported lost with its port, within about a second, exit 3.
void NetworkTest::stoppedServerIsALostPort()
{
    DevSim::Options options;
    options.baud = 9600;
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0)}, options);
    Ser2net server(sim->path(), Ser2net::Mode::Raw);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));
    const QString path = writeFile(m_dir, "long.bin", firmwareImage(40 * 197, 3));

    QElapsedTimer clock;
    clock.start();
    auto process = startCli({"flash", server.url(), path, "--all", "--json"});
    QVERIFY(sim->waitFor([&sim] { return sim->firmwareFramesReceived(0) >= 3; }, 40000));
    QElapsedTimer sinceStop;
    sinceStop.start();
    server.stop();
    const Finished run = finish(*process, 60000, clock);
    QVERIFY2(sinceStop.elapsed() < 1500, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains("lost " + server.url()), qPrintable(run.err));
    const QJsonObject device = run.json()["devices"].toArray()[0].toObject();
    QCOMPARE(device["outcome"].toString(), QString("failed"));
    QCOMPARE(device["reason"].toString(), QString("port lost"));
}

void NetworkTest::serversThatCannotServeAreSaidInWords_data()
{
    QTest::addColumn<int>("server"); // a DeviceServer::Habit, or -1: nothing listens
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("nothing listens") << -1 << "connection refused" << 1000;
    QTest::newRow("never answers the negotiation")
        << int(DeviceServer::Habit::Silent) << "RFC 2217 negotiation" << 4500;
    QTest::newRow("options without end")
        << int(DeviceServer::Habit::OptionFlood) << "RFC 2217 negotiation" << 4500;
    QTest::newRow("a flood of bytes") << int(DeviceServer::Habit::ByteFlood) << "floods" << 4500;
    // What follows the refusal, answers with a NUL after each CR, is no
    // answer: the line is gone at once.
    QTest::newRow("binary mode withdrawn after the start")
        << int(DeviceServer::Habit::WithdrawsBinary) << "lost rfc2217://" << 4500;
}

void NetworkTest::serversThatCannotServeAreSaidInWords()
{
    QFETCH(int, server);
    QFETCH(QString, words);
    QFETCH(int, withinMs);
    // A device whose answers carry a carriage return.
    auto sim = startSimulator({simDevice({0x0D, 0x0A, 0x0D, 0x0A, 0x01, 0x02, 0x03, 0x04}, 10, 1, 0)});
    std::unique_ptr<DeviceServer> ours;
    QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(Ser2net::freePort());
    if (server >= 0) {
        ours = std::make_unique<DeviceServer>(DeviceServer::Habit(server), sim->path());
        url = ours->url();
    }
    const Finished run = runCli({"scan", url, "--json"});
    QVERIFY2(run.code == 3,
             qPrintable(QStringLiteral("exit %1 after %2 ms: %3").arg(run.code).arg(run.ms).arg(run.err)));
    QVERIFY2(run.err.contains(words), qPrintable(run.err));
    QVERIFY2(run.ms < withinMs, qPrintable(QString::number(run.ms)));
    QVERIFY2(run.json()["devices"].toArray().isEmpty(), qPrintable(run.out));
    QCOMPARE(run.json()["portForm"].toString(), url.section(QLatin1String("://"), 0, 0));
    QCOMPARE(run.json()["exitMeaning"].toString(),
             QString("the device server cannot be reached, or the connection was lost"));
    // What a server sends never grows the program beyond a bounded size (the
    // race checker's shadow memory is several times the program's own).
#if defined(__SANITIZE_THREAD__)
    constexpr qint64 BoundKb = 400 * 1024;
#else
    constexpr qint64 BoundKb = 120 * 1024;
#endif
    // A program that ran this long was looked at every 50 ms.
    if (run.ms > 500)
        QVERIFY2(run.peakRssKb > 0, "the program's memory was never read");
    QVERIFY2(run.peakRssKb < BoundKb, qPrintable(QString::number(run.peakRssKb)));
}

// Ctrl-C while a silent server holds the negotiation: the program ends at
// once, as interrupted, not when the negotiation's time is over.
void NetworkTest::interruptWhileTheServerHoldsTheOpenEndsAtOnce()
{
    DeviceServer silent(DeviceServer::Habit::Silent);
    QElapsedTimer clock;
    clock.start();
    auto process = startCli({"scan", silent.url()});
    QTest::qWait(800);
    QElapsedTimer sinceInterrupt;
    sinceInterrupt.start();
    ::kill(pid_t(process->processId()), SIGINT);
    const Finished run = finish(*process, 10000, clock);
    QVERIFY2(sinceInterrupt.elapsed() < 1000, qPrintable(QString::number(sinceInterrupt.elapsed())));
    QCOMPARE(run.code, 130);
    QVERIFY2(run.err.contains("interrupted"), qPrintable(run.err));
}

// 160 KiB of noise while the host sits out the pause after a device's first
// part (the product's ten seconds): a flood, said as a port failure within a
// few seconds, with the processor all but idle meanwhile.
void NetworkTest::noiseDuringTheStartPauseIsAFloodNotASpin()
{
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0)});
    DeviceServer server(DeviceServer::Habit::FloodsStartPause, sim->path());
    const QString path = writeFile(m_dir, "noise.bin", firmwareImage(4 * 197, 5));
    QElapsedTimer clock;
    clock.start();
    auto process = startCli({"flash", server.url(), path, "--all", "--json"});
    QVERIFY(sim->waitFor([&sim] { return sim->firmwareFramesReceived(0) >= 1; }, 30000));
    QVERIFY(QTest::qWaitFor([&server] { return server.noiseSent() > 0; }, 5000));
    QElapsedTimer sinceNoise;
    sinceNoise.start();
    const qint64 cpuBefore = cpuMs(process->processId());
    const Finished run = finish(*process, 60000, clock);
    QVERIFY2(sinceNoise.elapsed() < 3000, qPrintable(QString::number(sinceNoise.elapsed())));
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains("floods"), qPrintable(run.err));
    QCOMPARE(run.json()["devices"].toArray()[0].toObject()["reason"].toString(), QString("port lost"));
    // A program that ended before it was looked at again spent next to nothing.
    QVERIFY2(cpuBefore >= 0, "the program's processor time was never read");
    const qint64 spent = qMax(run.cpuMs, cpuBefore) - cpuBefore;
    QVERIFY2(spent < 500, qPrintable(QString::number(spent)));
}

QTEST_GUILESS_MAIN(NetworkTest)
#include "tst_network.moc"
