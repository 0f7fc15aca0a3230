// The simulator, driven from the host's end of a real pseudo-terminal.

#include "tst_devsim.h"

#include "devsim/simulator.h"
#include "peer.h"

#include <QtTest>

#include <memory>
#include <thread>

using namespace DevSim;
using std::chrono::milliseconds;

namespace {

DeviceConfig device(int n, int kind = Cpd::KindTally8, const std::string &spec = {})
{
    DeviceConfig config;
    std::string error;
    if (!parseDevice(spec, &config, &error))
        qFatal("bad device spec in a test: %s", error.c_str());
    config.id = idOf(n);
    config.kind = kind;
    return config;
}

// A running simulator and the host's end of its line.
struct Line
{
    explicit Line(std::vector<DeviceConfig> devices, Options options = {})
        : sim(std::move(devices), options)
    {
        if (sim.openPty())
            peer = std::make_unique<Peer>(sim.path());
        sim.start();
    }
    bool ok() const { return peer && peer->isOpen(); }
    Bytes exchange(const Bytes &request, size_t answer, int timeoutMs = 1000)
    {
        peer->send(request);
        return joined(peer->read(answer, timeoutMs));
    }
    Simulator sim;
    std::unique_ptr<Peer> peer;
};

Bytes imagePart(const Bytes &image, int part)
{
    const size_t begin = size_t(part - 1) * Cpd::PartSize;
    const size_t end = std::min(image.size(), begin + Cpd::PartSize);
    return Bytes(image.begin() + std::ptrdiff_t(begin), image.begin() + std::ptrdiff_t(end));
}

Bytes testImage(size_t size)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = quint8(i * 7 + i / 251);
    return image;
}

long long msSince(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<milliseconds>(to - from).count();
}

const Bytes SearchFirst = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x1E, 0x01, 0x68};
const Bytes VersionQuery = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x14, 0x03, 0x4F};

} // namespace

void TstDevsim::searchAndConfirm()
{
    Line line({device(0)});
    QVERIFY(line.ok());
    const Bytes answer = frame(idOf(0), Cpd::TypeResponse, Cpd::BlockSearch, 10);
    QCOMPARE(qba(line.exchange(SearchFirst, 11)), qba(answer));

    // A confirmation with another number or for another address changes nothing.
    line.peer->send(frame(idOf(0), Cpd::TypeResponse, Cpd::BlockSearch, 11));
    line.peer->send(frame(idOf(1), Cpd::TypeResponse, Cpd::BlockSearch, 10));
    const Bytes next = frame(Broadcast, Cpd::TypeRequest, Cpd::BlockSearch, 0);
    QCOMPARE(qba(line.exchange(next, 11)), qba(answer));
    QVERIFY(!line.sim.confirmed(0));

    line.peer->send(frame(idOf(0), Cpd::TypeResponse, Cpd::BlockSearch, 10));
    QVERIFY(line.sim.waitFor([&] { return line.sim.confirmed(0); }, 1000));
    QVERIFY(line.exchange(next, 11, 150).empty());
    QCOMPARE(qba(line.exchange(SearchFirst, 11)), qba(answer));
    QVERIFY(!line.sim.confirmed(0));
}

void TstDevsim::staggeredAnswers_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("baud");
    QTest::newRow("32 devices paced at 9600") << 32 << 9600;
    QTest::newRow("3 devices unpaced") << 3 << 0;
}

void TstDevsim::staggeredAnswers()
{
    QFETCH(int, devices);
    QFETCH(int, baud);
    std::vector<DeviceConfig> configs;
    for (int i = 0; i < devices; ++i)
        configs.push_back(device(i, i % 3 == 2 ? 0 : 10 + i % 2));
    Options options;
    options.baud = baud;
    options.slotMs = 30;
    Line line(configs, options);
    QVERIFY(line.ok());
    const Clock::time_point sent = Clock::now();
    line.peer->send(SearchFirst);
    const std::vector<Chunk> chunks = line.peer->read(size_t(devices) * 11, 2000, 300);
    const Bytes all = joined(chunks);
    QCOMPARE(int(all.size()), devices * 11);
    for (int i = 0; i < devices; ++i) {
        const Bytes expected
            = frame(idOf(i), Cpd::TypeResponse, Cpd::BlockSearch, configs[size_t(i)].kind);
        QCOMPARE(qba(Bytes(all.begin() + i * 11, all.begin() + i * 11 + 11)), qba(expected));
    }
    if (baud) {
        // One request and 32 answers cross the wire in 378 ms; all inside the pause.
        QVERIFY(msSince(sent, chunks.back().at) >= (11 + devices * 11) * 10 * 1000 / baud);
        QVERIFY(msSince(sent, chunks.back().at) < 500);
    } else {
        QCOMPARE(int(chunks.size()), devices);
        for (size_t i = 1; i < chunks.size(); ++i)
            QVERIFY(msSince(chunks[i - 1].at, chunks[i].at) >= options.slotMs - 5);
    }
}

void TstDevsim::versionAnswer_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("application") << "version=2.7" << QByteArray("\x02\x07", 2);
    QTest::newRow("boot loader") << "version=0.9,boot" << QByteArray("\x80\x09", 2);
}

void TstDevsim::versionAnswer()
{
    QFETCH(QString, spec);
    QFETCH(QByteArray, payload);
    Line line({device(0, 10, spec.toStdString())});
    QVERIFY(line.ok());
    const Bytes expected = frame(idOf(0),
                                 Cpd::TypeResponse,
                                 Cpd::BlockDevice,
                                 Cpd::NumberVersion,
                                 Bytes(payload.begin(), payload.end()));
    QCOMPARE(qba(line.exchange(VersionQuery, 13)), qba(expected));
}

void TstDevsim::firmwareTransfer_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("parts");
    QTest::newRow("short last part") << 3 * Cpd::PartSize + 50 << 4;
    QTest::newRow("empty last part") << 2 * Cpd::PartSize << 3;
    QTest::newRow("single part") << 120 << 1;
}

void TstDevsim::firmwareTransfer()
{
    QFETCH(int, size);
    QFETCH(int, parts);
    Line line({device(0), device(1)});
    QVERIFY(line.ok());
    const Bytes image = testImage(size_t(size));
    Bytes sent;
    const auto transfer = [&](int stage, int part) {
        const Bytes request = firmwareFrame(idOf(0), stage, part, imagePart(image, part));
        sent.insert(sent.end(), request.begin(), request.end());
        return qba(line.exchange(request, 14));
    };
    for (int part = 1; part <= parts; ++part) {
        const int stage = part == parts ? 3 : part == 1 ? 1 : 2;
        QCOMPARE(transfer(stage, part), qba(ack(idOf(0), stage, part)));
        if (part == 2 || part == parts) // the host lost our answer and repeats
            QCOMPARE(transfer(stage, part), qba(ack(idOf(0), stage, part)));
    }
    QCOMPARE(qba(line.sim.image(0)), qba(image));
    QCOMPARE(line.sim.imageState(0), ImageState::Complete);
    QCOMPARE(line.sim.imageState(1), ImageState::None);
    Bytes recorded;
    for (const HostFrame &hostFrame : line.sim.hostFrames())
        recorded.insert(recorded.end(), hostFrame.bytes.begin(), hostFrame.bytes.end());
    QCOMPARE(qba(recorded), qba(sent));
    QCOMPARE(line.sim.firmwareFramesReceived(0), int(line.sim.hostFrames().size()));
}

void TstDevsim::sequenceErrors_data()
{
    QTest::addColumn<int>("accepted"); // parts sent correctly before
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("part");
    QTest::addColumn<int>("dataSize");
    QTest::addColumn<int>("code");
    const int full = Cpd::PartSize;
    QTest::newRow("middle before first") << 0 << 2 << 2 << full << int(ErrorNotStarted);
    QTest::newRow("first not numbered 1") << 0 << 1 << 2 << full << int(ErrorOutOfSequence);
    QTest::newRow("skipped part") << 2 << 2 << 4 << full << int(ErrorOutOfSequence);
    QTest::newRow("old part") << 3 << 2 << 2 << full << int(ErrorOutOfSequence);
    QTest::newRow("short middle") << 1 << 2 << 2 << 100 << int(ErrorBadLength);
    QTest::newRow("short first") << 0 << 1 << 1 << 100 << int(ErrorBadLength);
    QTest::newRow("unknown stage") << 1 << 5 << 2 << full << int(ErrorBadStage);
}

void TstDevsim::sequenceErrors()
{
    QFETCH(int, accepted);
    QFETCH(int, stage);
    QFETCH(int, part);
    QFETCH(int, dataSize);
    QFETCH(int, code);
    Line line({device(0)});
    QVERIFY(line.ok());
    const Bytes image = testImage(10 * Cpd::PartSize);
    for (int p = 1; p <= accepted; ++p) {
        const Bytes request = firmwareFrame(idOf(0), p == 1 ? 1 : 2, p, imagePart(image, p));
        QCOMPARE(qba(line.exchange(request, 14)), qba(ack(idOf(0), p == 1 ? 1 : 2, p)));
    }
    const Bytes before = line.sim.image(0);
    const ImageState state = line.sim.imageState(0);
    const Bytes request = firmwareFrame(idOf(0), stage, part, testImage(size_t(dataSize)));
    const Bytes expected = errorReport(idOf(0), Cpd::BlockDevice, Cpd::NumberFirmware, code);
    QCOMPARE(qba(line.exchange(request, 15)), qba(expected));
    QCOMPARE(qba(line.sim.image(0)), qba(before));
    QCOMPARE(line.sim.imageState(0), state);
}

void TstDevsim::abortKeepsQuiet()
{
    Line line({device(0)});
    QVERIFY(line.ok());
    line.exchange(firmwareFrame(idOf(0), 1, 1, testImage(Cpd::PartSize)), 14);
    QVERIFY(line.exchange(firmwareFrame(idOf(0), 0, 2, {}), 1, 150).empty());
    QCOMPARE(line.sim.imageState(0), ImageState::Aborted);
    QCOMPARE(line.sim.firmwareFramesReceived(0), 2);
    const Bytes refused = line.exchange(firmwareFrame(idOf(0), 2, 2, testImage(197)), 15);
    QCOMPARE(qba(refused), qba(errorReport(idOf(0), 20, 50, ErrorNotStarted)));
}

void TstDevsim::faults_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QByteArray>("expected"); // all bytes received, checksum aside
    QTest::addColumn<bool>("checksumOk");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("earliestMs"); // of the first byte, after the request
    QTest::addColumn<int>("gapMs");      // at least, between the first two chunks
    QTest::addColumn<bool>("stored");
    const QByteArray good = qba(ack(idOf(0), 1, 1));
    const QByteArray stray = QByteArray("\x00\xA5\x5A", 3);
    QTest::newRow("none") << ""
                          << QByteArray::fromHex("0102030405060708543201"
                                                 "0001b5")
                          << true << 1 << 0 << 0 << true;
    QTest::newRow("silent") << "fault=silent" << QByteArray() << true << 0 << 0 << 0 << true;
    QTest::newRow("late") << "fault=late:300" << good << true << 1 << 300 << 0 << true;
    QTest::newRow("wrong part") << "fault=wrongpart" << qba(ack(idOf(0), 1, 0)) << true << 1 << 0
                                << 0 << true;
    QTest::newRow("error report") << "fault=error"
                                  << qba(errorReport(idOf(0), 20, 50, ErrorWriteFailed)) << true
                                  << 1 << 0 << 0 << false;
    QTest::newRow("error code") << "fault=error:code=77" << qba(errorReport(idOf(0), 20, 50, 77))
                                << true << 1 << 0 << 0 << false;
    QTest::newRow("bad checksum") << "fault=badcrc" << good << false << 1 << 0 << 0 << true;
    QTest::newRow("split") << "fault=split:60" << good << true << 2 << 0 << 40 << true;
    QTest::newRow("garbage") << "fault=garbage:60" << stray + good << true << 2 << 0 << 40 << true;
}

void TstDevsim::faults()
{
    QFETCH(QString, spec);
    QFETCH(QByteArray, expected);
    QFETCH(bool, checksumOk);
    QFETCH(int, chunks);
    QFETCH(int, earliestMs);
    QFETCH(int, gapMs);
    QFETCH(bool, stored);
    Line line({device(0, 10, spec.toStdString())});
    QVERIFY(line.ok());
    const Bytes data = testImage(Cpd::PartSize);
    const Clock::time_point sent = Clock::now();
    line.peer->send(firmwareFrame(idOf(0), 1, 1, data));
    const std::vector<Chunk> got = line.peer->read(0, earliestMs + 400, 150);
    Bytes all = joined(got);
    QCOMPARE(int(got.size()), chunks);
    if (!all.empty()) {
        const Id address = idOf(0);
        const int start = qba(all).lastIndexOf(qba(Bytes(address.begin(), address.end())));
        QVERIFY(start >= 0);
        QCOMPARE(Cpd::checksumMatches(all.data() + start, int(all.size()) - start), checksumOk);
        if (!checksumOk)
            all.back() = expected.back();
        QVERIFY(msSince(sent, got.front().at) >= earliestMs);
    }
    QCOMPARE(qba(all), expected);
    if (chunks == 2)
        QVERIFY(msSince(got[0].at, got[1].at) >= gapMs);
    QCOMPARE(qba(line.sim.image(0)), stored ? qba(data) : QByteArray());
    QCOMPARE(line.sim.hostFrames().size(), size_t(1));
}

void TstDevsim::faultCountsAndParts()
{
    Line line({device(0, 10, "fault=silent:times=1,fault=wrongpart:part=2")});
    QVERIFY(line.ok());
    QVERIFY(line.exchange(VersionQuery, 13, 150).empty());
    QCOMPARE(int(line.exchange(VersionQuery, 13).size()), 13);
    const Bytes image = testImage(3 * Cpd::PartSize);
    for (int part = 1; part <= 3; ++part) {
        const int stage = part == 1 ? 1 : part == 3 ? 3 : 2;
        const Bytes answer
            = line.exchange(firmwareFrame(idOf(0), stage, part, imagePart(image, part)), 14);
        QCOMPARE(qba(answer), qba(ack(idOf(0), stage, part == 2 ? 1 : part)));
    }
    QCOMPARE(qba(line.sim.image(0)), qba(image));
}

void TstDevsim::pacing_data()
{
    QTest::addColumn<bool>("firmware");
    QTest::addColumn<int>("idealMs");
    QTest::newRow("version query") << false << (11 + 13) * 10 * 1000 / 9600;
    QTest::newRow("first part") << true << (211 + 14) * 10 * 1000 / 9600;
}

void TstDevsim::pacing()
{
    QFETCH(bool, firmware);
    QFETCH(int, idealMs);
    Options options;
    options.baud = 9600;
    Line line({device(0)}, options);
    QVERIFY(line.ok());
    const Bytes request
        = firmware ? firmwareFrame(idOf(0), 1, 1, testImage(Cpd::PartSize)) : VersionQuery;
    const Clock::time_point sent = Clock::now();
    line.peer->send(request);
    const std::vector<Chunk> got = line.peer->read(firmware ? 14 : 13, 2000);
    QVERIFY(!got.empty());
    QVERIFY(msSince(sent, got.back().at) >= idealMs);
    QVERIFY(msSince(sent, got.back().at) < idealMs + 150); // a loaded machine's margin
}

void TstDevsim::ignoredFrames_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("valid");
    Bytes corrupt = VersionQuery;
    corrupt.back() ^= 0x01;
    QTest::newRow("bad checksum") << qba(corrupt) << false;
    QTest::newRow("other address") << qba(frame(idOf(5), 0, 20, 3)) << true;
    QTest::newRow("stray bytes") << QByteArray("\x01\x02\x03", 3) << false;
}

void TstDevsim::ignoredFrames()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, valid);
    Line line({device(0)});
    QVERIFY(line.ok());
    const Clock::time_point before = Clock::now();
    QVERIFY(line.exchange(Bytes(request.begin(), request.end()), 1, 150).empty());
    const std::vector<HostFrame> frames = line.sim.hostFrames();
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(qba(frames[0].bytes), request);
    QCOMPARE(frames[0].valid, valid);
    QVERIFY(frames[0].at >= before && frames[0].at <= Clock::now());
    // Whatever was dropped, the next frame is understood.
    QCOMPARE(int(line.exchange(VersionQuery, 13).size()), 13);
    line.sim.clearHostFrames();
    QVERIFY(line.sim.hostFrames().empty());
}

void TstDevsim::confirmationsInOneWrite()
{
    Line line({device(0), device(1), device(2)});
    QVERIFY(line.ok());
    QCOMPARE(int(line.exchange(SearchFirst, 33).size()), 33);
    Bytes confirmations;
    for (int i = 0; i < 3; ++i) {
        const Bytes one = frame(idOf(i), Cpd::TypeResponse, Cpd::BlockSearch, 10);
        confirmations.insert(confirmations.end(), one.begin(), one.end());
    }
    line.peer->send(confirmations);
    QVERIFY(line.sim.waitFor(
        [&] { return line.sim.confirmed(0) && line.sim.confirmed(1) && line.sim.confirmed(2); },
        1000));
}

// A USB adapter may hand a frame over in pieces. A firmware piece that
// happens to end in a matching checksum must not be taken for a frame.

void TstDevsim::framesInPieces()
{
    Options options;
    options.quietGapMs = 50;
    Line line({device(0)}, options);
    QVERIFY(line.ok());
    const Clock::time_point sent = Clock::now();
    QCOMPARE(int(line.exchange(VersionQuery, 13).size()), 13);
    QVERIFY(msSince(sent, Clock::now()) < 40); // fixed-size frames never wait for the gap

    Bytes data = testImage(Cpd::PartSize);
    Bytes request = firmwareFrame(idOf(0), 1, 1, data);
    const int cut = Cpd::FirmwareHeaderSize + 21;
    request[cut - 1] = data[20] = Cpd::crc8Update(0, request.data(), cut - 1);
    Cpd::appendChecksum(request.data(), int(request.size()) - 1);
    line.peer->send(Bytes(request.begin(), request.begin() + cut));
    std::this_thread::sleep_for(milliseconds(5));
    QCOMPARE(qba(line.exchange(Bytes(request.begin() + cut, request.end()), 14)),
             qba(ack(idOf(0), 1, 1)));
    QCOMPARE(qba(line.sim.image(0)), qba(data));
}

void TstDevsim::reopenRawAndStop()
{
    auto line = std::make_unique<Line>(
        std::vector<DeviceConfig>{device(0, 10, "fault=late:10000:times=1")});
    QVERIFY(line->ok());
    line->peer.reset(); // the app closes the port and opens it again
    line->peer = std::make_unique<Peer>(line->sim.path());
    line->sim.writeRaw({0x42, 0x43});
    QCOMPARE(qba(joined(line->peer->read(2, 1000))), QByteArray("BC"));
    line->peer->send(VersionQuery); // its answer is due in 10 s
    QVERIFY(line->sim.waitFor([&] { return !line->sim.hostFrames().empty(); }, 1000));
    const Clock::time_point before = Clock::now();
    line.reset();
    QVERIFY(msSince(before, Clock::now()) < 500);
}

QTEST_GUILESS_MAIN(TstDevsim)
