// The simulator, driven from the host's end of a real pseudo-terminal.

#include "testline.h"

#include <QtTest>

#include <thread>

using namespace DevSim;

class TstDevsim : public QObject
{
    Q_OBJECT
private slots:
    void confirmedDeviceKeepsQuietUntilANewSearch()
    {
        SimLine line({device(0)});
        QVERIFY(line.ok());
        const Bytes answer = searchWord(0, 10);
        QCOMPARE(qba(line.exchange(SearchFirst, 11)), qba(answer));
        line.peer->send(searchWord(0, 11)); // wrong number: no confirmation
        line.peer->send(searchWord(1, 10)); // another device's
        const Bytes next = frame(Broadcast, Cpd::TypeRequest, Cpd::BlockSearch, 0);
        QCOMPARE(qba(line.exchange(next, 11)), qba(answer));
        line.peer->send(answer);
        QVERIFY(line.sim.waitFor([&] { return line.sim.confirmed(0); }, 1000));
        QVERIFY(line.exchange(next, 11, 150).empty());
        QCOMPARE(qba(line.exchange(SearchFirst, 11)), qba(answer));
        QVERIFY(!line.sim.confirmed(0));
    }

    void answersToOneSearchFollowOneAnother_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<int>("baud");
        QTest::newRow("32 devices paced at 9600") << 32 << 9600;
        QTest::newRow("3 devices unpaced") << 3 << 0;
    }
    void answersToOneSearchFollowOneAnother()
    {
        QFETCH(int, devices);
        QFETCH(int, baud);
        std::vector<DeviceConfig> configs;
        for (int i = 0; i < devices; ++i)
            configs.push_back(device(i, i % 3 == 2 ? 0 : 10 + i % 2));
        Options options;
        options.baud = baud;
        options.slotMs = 30;
        SimLine line(configs, options);
        QVERIFY(line.ok());
        const Clock::time_point sent = Clock::now();
        line.peer->send(SearchFirst);
        const std::vector<Chunk> chunks = line.peer->read(size_t(devices) * 11, 2000, 300);
        const Bytes all = joined(chunks);
        QCOMPARE(int(all.size()), devices * 11);
        for (int i = 0; i < devices; ++i) {
            const Bytes got(all.begin() + i * 11, all.begin() + i * 11 + 11);
            QCOMPARE(qba(got), qba(searchWord(i, configs[size_t(i)].kind)));
        }
        if (baud) { // one request and 32 answers take 378 ms on the wire, inside the pause
            QVERIFY(msSince(sent, chunks.back().at) >= (11 + devices * 11) * 10 * 1000 / baud);
            QVERIFY(msSince(sent, chunks.back().at) < 500);
        } else {
            QCOMPARE(int(chunks.size()), devices);
            for (size_t i = 1; i < chunks.size(); ++i)
                QVERIFY(msSince(chunks[i - 1].at, chunks[i].at) >= options.slotMs - 5);
        }
    }

    void versionIsToldAndUnknownRequestsRefused()
    {
        SimLine line({device(0, 10, "version=0.9,boot")});
        QVERIFY(line.ok());
        const Bytes version = frame(idOf(0), Cpd::TypeResponse, 20, 3, {0x80, 0x09});
        QCOMPARE(qba(line.exchange(VersionQuery, 13)), qba(version));
        const Bytes unknown = frame(idOf(0), Cpd::TypeRequest, 20, 9);
        QCOMPARE(qba(line.exchange(unknown, 15)), qba(errorReport(ErrorUnknownCommand, 9)));
    }

    void imageIsStoredPartByPartAndAcknowledged_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("parts");
        QTest::newRow("short last part") << 3 * Cpd::PartSize + 50 << 4;
        QTest::newRow("empty last part") << 2 * Cpd::PartSize << 3;
        QTest::newRow("single part") << 120 << 1;
    }
    void imageIsStoredPartByPartAndAcknowledged()
    {
        QFETCH(int, size);
        QFETCH(int, parts);
        SimLine line({device(0), device(1)});
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
            QCOMPARE(transfer(stage, part), qba(ack(stage, part)));
            if (part == 2 || part == parts) // the host lost our answer and repeats
                QCOMPARE(transfer(stage, part), qba(ack(stage, part)));
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

    void partsOutOfSequenceAreRefusedWithTheirCode_data()
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
    void partsOutOfSequenceAreRefusedWithTheirCode()
    {
        QFETCH(int, accepted);
        QFETCH(int, stage);
        QFETCH(int, part);
        QFETCH(int, dataSize);
        QFETCH(int, code);
        SimLine line({device(0)});
        QVERIFY(line.ok());
        const Bytes image = testImage(10 * Cpd::PartSize);
        for (int p = 1; p <= accepted; ++p) {
            const Bytes request = firmwareFrame(idOf(0), p == 1 ? 1 : 2, p, imagePart(image, p));
            QCOMPARE(qba(line.exchange(request, 14)), qba(ack(p == 1 ? 1 : 2, p)));
        }
        const Bytes before = line.sim.image(0);
        const ImageState state = line.sim.imageState(0);
        const Bytes request = firmwareFrame(idOf(0), stage, part, testImage(size_t(dataSize)));
        QCOMPARE(qba(line.exchange(request, 15)), qba(errorReport(code)));
        QCOMPARE(qba(line.sim.image(0)), qba(before));
        QCOMPARE(line.sim.imageState(0), state);
    }

    void givenUpTransferIsAbortedWithoutAnAnswer()
    {
        SimLine line({device(0)});
        QVERIFY(line.ok());
        line.exchange(firmwareFrame(idOf(0), 1, 1, testImage(Cpd::PartSize)), 14);
        QVERIFY(line.exchange(firmwareFrame(idOf(0), 0, 2, {}), 1, 150).empty());
        QCOMPARE(line.sim.imageState(0), ImageState::Aborted);
        QCOMPARE(line.sim.firmwareFramesReceived(0), 2);
        const Bytes refused = line.exchange(firmwareFrame(idOf(0), 2, 2, testImage(197)), 15);
        QCOMPARE(qba(refused), qba(errorReport(ErrorNotStarted)));
    }

    void eachFaultSpoilsTheAnswerAsDescribed_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QByteArray>("expected"); // all bytes received, checksum aside
        QTest::addColumn<bool>("checksumOk");
        QTest::addColumn<int>("chunks");
        QTest::addColumn<int>("earliestMs"); // of the first byte, after the request
        QTest::addColumn<int>("gapMs");      // at least, between the first two chunks
        QTest::addColumn<bool>("stored");
        const QByteArray good = QByteArray::fromHex("0102030405060708543201"
                                                    "0001b5");
        const QByteArray stray("\x00\xA5\x5A", 3);
        QTest::newRow("none") << "" << good << true << 1 << 0 << 0 << true;
        QTest::newRow("silent") << "fault=silent" << QByteArray() << true << 0 << 0 << 0 << true;
        QTest::newRow("late") << "fault=late:300" << good << true << 1 << 300 << 0 << true;
        QTest::newRow("wrong part")
            << "fault=wrongpart" << qba(ack(1, 0)) << true << 1 << 0 << 0 << true;
        QTest::newRow("error report")
            << "fault=error" << qba(errorReport(ErrorWriteFailed)) << true << 1 << 0 << 0 << false;
        QTest::newRow("error code")
            << "fault=error:code=77" << qba(errorReport(77)) << true << 1 << 0 << 0 << false;
        QTest::newRow("bad checksum") << "fault=badcrc" << good << false << 1 << 0 << 0 << true;
        QTest::newRow("split") << "fault=split:60" << good << true << 2 << 0 << 40 << true;
        QTest::newRow("garbage") << "fault=garbage:60" << stray + good << true << 2 << 0 << 40
                                 << true;
    }
    void eachFaultSpoilsTheAnswerAsDescribed()
    {
        QFETCH(QString, description);
        QFETCH(QByteArray, expected);
        QFETCH(bool, checksumOk);
        QFETCH(int, chunks);
        QFETCH(int, earliestMs);
        QFETCH(int, gapMs);
        QFETCH(bool, stored);
        SimLine line({device(0, 10, description.toStdString())});
        QVERIFY(line.ok());
        const Bytes data = testImage(Cpd::PartSize);
        const Clock::time_point sent = Clock::now();
        line.peer->send(firmwareFrame(idOf(0), 1, 1, data));
        const std::vector<Chunk> got = line.peer->read(0, earliestMs + 400, 150);
        Bytes all = joined(got);
        QCOMPARE(int(got.size()), chunks);
        if (!all.empty()) {
            const int start = qba(all).lastIndexOf(QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08"));
            QVERIFY(start >= 0);
            QCOMPARE(Cpd::checksumMatches(all.data() + start, int(all.size()) - start), checksumOk);
            all.back() = quint8(expected.back());
            QVERIFY(msSince(sent, got.front().at) >= earliestMs);
        }
        QCOMPARE(qba(all), expected);
        if (chunks == 2)
            QVERIFY(msSince(got[0].at, got[1].at) >= gapMs);
        QCOMPARE(qba(line.sim.image(0)), stored ? qba(data) : QByteArray());
        QCOMPARE(line.sim.hostFrames().size(), size_t(1));
    }

    void faultsSpoilOnlyTheirCountOfAnswersAndTheirPart()
    {
        SimLine line({device(0, 10, "fault=silent:times=1,fault=wrongpart:part=2")});
        QVERIFY(line.ok());
        QVERIFY(line.exchange(VersionQuery, 13, 150).empty());
        QCOMPARE(int(line.exchange(VersionQuery, 13).size()), 13);
        const Bytes image = testImage(3 * Cpd::PartSize);
        for (int part = 1; part <= 3; ++part) {
            // Stages 1, 2 and 3 carry parts 1, 2 and 3 here.
            const Bytes request = firmwareFrame(idOf(0), part, part, imagePart(image, part));
            QCOMPARE(qba(line.exchange(request, 14)), qba(ack(part, part == 2 ? 1 : part)));
        }
        QCOMPARE(qba(line.sim.image(0)), qba(image));
    }

    void answersAreTimedAsOnALineOfTheGivenRate_data()
    {
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<int>("idealMs");
        QTest::newRow("version query") << false << (11 + 13) * 10 * 1000 / 9600;
        QTest::newRow("first part") << true << (211 + 14) * 10 * 1000 / 9600;
    }
    void answersAreTimedAsOnALineOfTheGivenRate()
    {
        QFETCH(bool, firmware);
        QFETCH(int, idealMs);
        Options options;
        options.baud = 9600;
        SimLine line({device(0)}, options);
        QVERIFY(line.ok());
        const Clock::time_point sent = Clock::now();
        line.peer->send(firmware ? firmwareFrame(idOf(0), 1, 1, testImage(197)) : VersionQuery);
        const std::vector<Chunk> got = line.peer->read(firmware ? 14 : 13, 2000);
        QVERIFY(!got.empty());
        QVERIFY(msSince(sent, got.back().at) >= idealMs);
        QVERIFY(msSince(sent, got.back().at) < idealMs + 150); // a loaded machine's margin
    }

    void framesNotMeantForADeviceGetNoAnswer_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("valid");
        Bytes corrupt = VersionQuery;
        corrupt.back() ^= 0x01;
        QTest::newRow("bad checksum") << qba(corrupt) << false;
        QTest::newRow("other address") << qba(frame(idOf(5), 0, 20, 3)) << true;
        QTest::newRow("stray bytes") << QByteArray("\x01\x02\x03", 3) << false;
    }
    void framesNotMeantForADeviceGetNoAnswer()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, valid);
        SimLine line({device(0)});
        QVERIFY(line.ok());
        const Clock::time_point before = Clock::now();
        QVERIFY(line.exchange(Bytes(request.begin(), request.end()), 1, 150).empty());
        const std::vector<HostFrame> frames = line.sim.hostFrames();
        QCOMPARE(frames.size(), size_t(1));
        QCOMPARE(qba(frames[0].bytes), request);
        QCOMPARE(frames[0].valid, valid);
        QVERIFY(frames[0].at >= before && frames[0].at <= Clock::now());
        QCOMPARE(int(line.exchange(VersionQuery, 13).size()), 13); // the next one is understood
        line.sim.clearHostFrames();
        QVERIFY(line.sim.hostFrames().empty());
    }

    void confirmationsInOneWriteAreEachTaken()
    {
        SimLine line({device(0), device(1), device(2)});
        QVERIFY(line.ok());
        QCOMPARE(int(line.exchange(SearchFirst, 33).size()), 33);
        Bytes confirmations;
        for (int i = 0; i < 3; ++i) {
            const Bytes one = searchWord(i, 10);
            confirmations.insert(confirmations.end(), one.begin(), one.end());
        }
        line.peer->send(confirmations);
        QVERIFY(line.sim.waitFor(
            [&] { return line.sim.confirmed(0) && line.sim.confirmed(1) && line.sim.confirmed(2); },
            1000));
    }

    // A USB adapter may hand a frame over in pieces. A firmware piece that
    // happens to end in a matching checksum must not be taken for a frame.
    void framesArrivingInPiecesAreJoined()
    {
        Options options;
        options.quietGapMs = 50;
        SimLine line({device(0)}, options);
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
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const Bytes answer = line.exchange(Bytes(request.begin() + cut, request.end()), 14);
        QCOMPARE(qba(answer), qba(ack(1, 1)));
        QCOMPARE(qba(line.sim.image(0)), qba(data));
    }

    void portReopenedByTheHostStillWorksAndStopIsPrompt()
    {
        auto line = std::make_unique<SimLine>(
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

    void descriptionsAreParsedOrRefused_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("id"); // empty: made up
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<QString>("faults"); // kind/times/part/parameter each
        const QByteArray id = QByteArray::fromHex("001a2b3c4d5e6f70");
        QTest::newRow("full") << "id=00:1a:2b:3c:4d:5e:6f:70,kind=11,version=2.7" << true << id
                              << 11 << 2 << 7 << "";
        QTest::newRow("bare hex, boot, named kind")
            << "id=001A2B3C4D5E6F70,kind=tally8,version=0.3,boot" << true << id << 10 << 0x80 << 3
            << "";
        QTest::newRow("defaults") << "" << true << QByteArray() << 0 << 1 << 0 << "";
        QTest::newRow("faults")
            << "fault=silent,fault=late:1500,fault=wrongpart:times=2:part=3,fault=split" << true
            << QByteArray() << 0 << 1 << 0 << "0/-1/0/0 1/-1/0/1500 2/2/3/0 5/-1/0/5";
        QTest::newRow("fault options")
            << "fault=error:code=-9:times=all,fault=garbage:ms=7:part=4,fault=late,fault=badcrc:3"
            << true << QByteArray() << 0 << 1 << 0 << "3/-1/0/-9 6/-1/4/7 1/-1/0/1500 4/-1/0/3";
        const QString bad = "id=00:1a:2b id=00:1a:2b:3c:4d:5e:6f:7g id=00:1a:2b:3c:4d:5e:6f:70:81 "
                            "kind=256 kind=-1 kind=big kind version=2 version=128.0 version=1.x "
                            "boot=1 colour=red kind=10,,version=1.0 fault=sleepy fault=late:soon "
                            "fault=late:-5 fault=silent:times=-2 fault=split:part=x "
                            "fault=silent:color=3 fault=late:5:9";
        for (const QString &description : bad.split(' '))
            QTest::newRow(qPrintable(description))
                << description << false << QByteArray() << 0 << 0 << 0 << "";
    }
    void descriptionsAreParsedOrRefused()
    {
        QFETCH(QString, description);
        QFETCH(bool, ok);
        QFETCH(QByteArray, id);
        QFETCH(int, kind);
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(QString, faults);
        DeviceConfig config;
        std::string error;
        QCOMPARE(DevSim::parseDevice(description.toStdString(), &config, &error), ok);
        QCOMPARE(error.empty(), ok);
        if (!ok)
            return;
        QCOMPARE(config.kind, kind);
        QCOMPARE(int(config.verMajor), major);
        QCOMPARE(int(config.verMinor), minor);
        QStringList got;
        for (const FaultRule &r : config.faults)
            got << QString("%1/%2/%3/%4").arg(r.kind).arg(r.times).arg(r.onPart).arg(r.delayMs);
        QCOMPARE(got.join(' '), faults);
        DeviceConfig again;
        QVERIFY(DevSim::parseDevice(description.toStdString(), &again, &error));
        if (id.isEmpty())
            QVERIFY(again.id != config.id); // a made-up address is never handed out twice
        else
            QCOMPARE(qba(Bytes(config.id.begin(), config.id.end())), id);
    }
};

QTEST_GUILESS_MAIN(TstDevsim)
#include "tst_devsim.moc"
