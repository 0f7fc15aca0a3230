// olvex-cli as a process on lines behind a serial device server: ser2net
// serving a simulated line, raw and with RFC 2217, with the product's own
// waits; a server stopped during an update; and servers that cannot serve
// (nothing listening, one that never answers the negotiation, one that
// floods options, one that floods bytes), each said in words in bounded time
// and memory.

#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/ser2net.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
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

// Waits for the process, watching its memory.
Finished finish(QProcess &process, int timeoutMs, const QElapsedTimer &since)
{
    Finished done;
    while (!process.waitForFinished(50) && since.elapsed() < timeoutMs)
        done.peakRssKb = qMax(done.peakRssKb, residentKb(process.processId()));
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

// A server on the loopback that cannot serve a line: it accepts, then says
// nothing, or floods telnet options, or floods bytes, and reads whatever
// comes. On a thread of its own, with plain sockets.
class BadServer
{
public:
    enum class Kind { Silent, OptionFlood, ByteFlood };

    explicit BadServer(Kind kind)
        : m_kind(kind)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length);
        ::listen(m_listener, 4);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~BadServer()
    {
        m_quit = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    void serve()
    {
        pollfd wait{m_listener, POLLIN, 0};
        while (!m_quit && ::poll(&wait, 1, 50) >= 0) {
            if (!(wait.revents & POLLIN))
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                continue;
            talk(client);
            ::close(client);
        }
    }
    void talk(int client)
    {
        std::mt19937 random(7);
        std::vector<char> chunk(4096);
        quint8 option = 1;
        while (!m_quit) {
            pollfd io{client, short(POLLIN | (m_kind == Kind::Silent ? 0 : POLLOUT)), 0};
            if (::poll(&io, 1, 20) < 0)
                return;
            if (io.revents & POLLIN) {
                if (::read(client, chunk.data(), chunk.size()) <= 0)
                    return;
            }
            if (!(io.revents & POLLOUT))
                continue;
            size_t size = 0;
            if (m_kind == Kind::OptionFlood) {
                // Options without end, none of them binary mode or COM-PORT.
                for (; size + 3 <= chunk.size(); size += 3) {
                    option = option % 40 + 1;
                    chunk[size] = char(0xFF);
                    chunk[size + 1] = char(size % 2 ? 0xFB : 0xFD);
                    chunk[size + 2] = char(option);
                }
            } else {
                for (char &c : chunk)
                    c = char(random());
                size = chunk.size();
            }
            if (::send(client, chunk.data(), size, MSG_NOSIGNAL) < 0)
                return;
        }
    }

    Kind m_kind;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};

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

private:
    QTemporaryDir m_dir;
};

void NetworkTest::initTestCase()
{
    QVERIFY2(!Ser2net::program().isEmpty(), "ser2net is not installed (scripts/setup.sh --tests)");
}

void NetworkTest::linesBehindADeviceServerAreUpdatedByteExact_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("raw TCP") << int(Ser2net::Mode::Raw);
    QTest::newRow("RFC 2217") << int(Ser2net::Mode::Rfc2217);
}

// The product's waits, through ser2net: both devices found, the named one
// written byte for byte with an image full of 0xFF, the other left alone.
void NetworkTest::linesBehindADeviceServerAreUpdatedByteExact()
{
    QFETCH(int, mode);
    auto sim = startSimulator({simDevice(IdA, 10, 1, 0), simDevice(IdB, 10, 2, 3)});
    Ser2net server(sim->path(), Ser2net::Mode(mode));
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));
    const QByteArray image = imageOfFFs(5 * 197 + 61);
    const QString path = writeFile(m_dir, "ffs.bin", image);

    const Finished run = runCli({"flash", server.url(), path, "--device", "01:02:03:04:05:06", "--json"});
    QVERIFY2(run.code == 0, qPrintable(run.err));
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
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("server"); // a BadServer kind, or -1: nothing listens
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("nothing listens") << "tcp" << -1 << 3 << "connection refused" << 1000;
    QTest::newRow("never answers the negotiation")
        << "rfc2217" << int(BadServer::Kind::Silent) << 3 << "RFC 2217 negotiation" << 4500;
    QTest::newRow("options without end")
        << "rfc2217" << int(BadServer::Kind::OptionFlood) << 3 << "RFC 2217 negotiation" << 4500;
    QTest::newRow("a flood of bytes") << "tcp" << int(BadServer::Kind::ByteFlood) << 3 << "floods"
                                      << 4500;
}

void NetworkTest::serversThatCannotServeAreSaidInWords()
{
    QFETCH(QString, scheme);
    QFETCH(int, server);
    QFETCH(int, code);
    QFETCH(QString, words);
    QFETCH(int, withinMs);
    std::unique_ptr<BadServer> bad;
    quint16 port = Ser2net::freePort();
    if (server >= 0) {
        bad = std::make_unique<BadServer>(BadServer::Kind(server));
        port = bad->port();
    }
    const Finished run
        = runCli({"scan", QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port), "--json"});
    QVERIFY2(run.code == code,
             qPrintable(QStringLiteral("exit %1 after %2 ms: %3").arg(run.code).arg(run.ms).arg(run.err)));
    QVERIFY2(run.err.contains(words), qPrintable(run.err));
    QVERIFY2(run.ms < withinMs, qPrintable(QString::number(run.ms)));
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

QTEST_GUILESS_MAIN(NetworkTest)
#include "tst_network.moc"
