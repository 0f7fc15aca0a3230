// What the worker keeps of the answers to one request, decided on bytes alone,
// without a port: in a search every answer is kept and a new device is news;
// in an inventory the device asked ends the wait; during an update only the
// device being written is heard. Frames are written out by hand.

#include "protocol/handle.h"
#include "registry/registry.h"
#include "serial/answers.h"

#include "support/fixtures.h"
#include "support/logcapture.h"
#include "support/vectors.h"

#include <QtTest>

using namespace Vectors;
using Bytes = std::vector<quint8>;

namespace {

const DeviceId IdA = deviceId(1, 2, 3, 4, 5, 6, 7, 8);
const DeviceId IdB = deviceId(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70);
const DeviceId Broadcast = deviceId(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF);

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Gives the bytes to the answers in pieces of `piece` bytes.
void feed(Answers &answers, const Bytes &bytes, size_t piece)
{
    for (size_t at = 0; at < bytes.size(); at += piece)
        answers.take(bytes.data() + at, std::min(piece, bytes.size() - at));
}

std::vector<Bytes> kept(Answers &answers)
{
    std::vector<Bytes> frames;
    while (answers.hasFrame())
        frames.push_back(answers.nextFrame());
    return frames;
}

} // namespace

class AnswersTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { resetSharedStateForTests(); }
    void cleanupTestCase() { resetSharedStateForTests(); }

    void searchKeepsEveryAnswerAndOnlyANewDeviceIsNews_data();
    void searchKeepsEveryAnswerAndOnlyANewDeviceIsNews();
    void inventoryWaitEndsWithTheDeviceAsked();
    void updateHearsOnlyTheDeviceBeingWritten();
    void garbledBytesAreToldFromAnUnfinishedFrame();
    void ourOwnFramesComingBackAreDropped_data();
    void ourOwnFramesComingBackAreDropped();
    void lateCopyOfAnAcknowledgementDoesNotEndTheWait();
};

void AnswersTest::searchKeepsEveryAnswerAndOnlyANewDeviceIsNews_data()
{
    QTest::addColumn<int>("piece");
    for (int piece : {1, 5, 11, 64})
        QTest::newRow(qPrintable(QStringLiteral("pieces of %1").arg(piece))) << piece;
}

void AnswersTest::searchKeepsEveryAnswerAndOnlyANewDeviceIsNews()
{
    QFETCH(int, piece);
    WorkMode = ModeSearch;
    DeviceList.append(deviceRecord(IdB, TypeProbe)); // listed by an earlier round
    Answers answers;
    answers.expect(Broadcast);
    answers.beginRound();

    feed(answers, SearchB, size_t(piece));
    QVERIFY(!answers.news()); // a listed device answering again is no news
    feed(answers, SearchA + SearchA, size_t(piece));
    QVERIFY(answers.news());
    answers.clearNews();
    feed(answers, SearchA, size_t(piece));
    QVERIFY(!answers.news()); // heard already in this round
    QCOMPARE(answers.bytesThisRound(), qint64(4 * 11));
    QVERIFY(!answers.garbled());
    // Every answer is kept: each one is confirmed.
    QCOMPARE(kept(answers), (std::vector<Bytes>{SearchB, SearchA, SearchA, SearchA}));

    answers.beginRound();
    feed(answers, SearchA, size_t(piece));
    QVERIFY(answers.news()); // a new round hears it anew until it is listed
}

void AnswersTest::inventoryWaitEndsWithTheDeviceAsked()
{
    WorkMode = ModeInventory;
    Answers answers;
    answers.expect(IdB);
    answers.beginRound();
    feed(answers, VersionA, 3); // a late answer of the device asked before
    QVERIFY(!answers.news());
    feed(answers, ErrorB, 4);
    QVERIFY(answers.news());
    QCOMPARE(kept(answers), (std::vector<Bytes>{VersionA, ErrorB}));
}

void AnswersTest::updateHearsOnlyTheDeviceBeingWritten()
{
    WorkMode = ModeUpdate;
    LogCapture log;
    Answers answers;
    answers.expect(IdA);
    answers.beginRound();
    feed(answers, SearchB + ErrorB + VersionA + Unknown, 7);
    answers.settle();
    QVERIFY(!answers.news());
    QVERIFY(!answers.hasFrame());
    QCOMPARE(
        log.countStartingWith("SerialP: CPDevice [00:1A:2B:3C:4D:5E:6F:70], cmd_t 0x2, cmd_b 30, "
                              "cmd_n 0: not the answer awaited, dropped"),
        1);
    QCOMPARE(
        log.countStartingWith("SerialP: CPDevice [01:02:03:04:05:06:07:08], cmd_t 0x2, cmd_b 20, "
                              "cmd_n 3: not the answer awaited, dropped"),
        1);
    QCOMPARE(log.count("crc_error"), 0);

    answers.beginRound();
    feed(answers, AckA, 2);
    QVERIFY(answers.news());
    answers.beginRound();
    feed(answers, ErrorA, 15);
    QVERIFY(answers.news());
    QCOMPARE(kept(answers), (std::vector<Bytes>{AckA, ErrorA}));
}

void AnswersTest::garbledBytesAreToldFromAnUnfinishedFrame()
{
    WorkMode = ModeInventory;
    LogCapture log;
    Answers answers;
    answers.expect(IdA);
    answers.beginRound();
    feed(answers, BadSearchB, 11);
    QVERIFY(answers.garbled());
    QVERIFY(!answers.garbledAndQuiet()); // its tail may yet start a frame
    feed(answers, VersionA, 13);
    QVERIFY(answers.news());
    QVERIFY(answers.garbledAndQuiet()); // nothing left that may still become one
    QCOMPARE(kept(answers), std::vector<Bytes>{VersionA});
    answers.beginRound();
    QVERIFY(!answers.garbled()); // counted per round

    const Bytes half(VersionA.begin(), VersionA.begin() + 6);
    feed(answers, half, 6);
    QVERIFY(!answers.garbled());
    QVERIFY(answers.frameBegun()); // not even its header is here
    feed(answers, Bytes(VersionA.begin() + 6, VersionA.end() - 1), 6);
    QVERIFY(answers.frameBegun()); // its header tells 13 bytes, 12 are here
    answers.settle(); // the rest will not come: dropped, nothing handed on
    QVERIFY(!answers.hasFrame());

    answers.beginRound();
    feed(answers, Unknown, 13);
    QVERIFY(!answers.hasFrame()); // its length is not told: it waits for the quiet line
    QVERIFY(!answers.frameBegun());
    answers.settle();
    QCOMPARE(kept(answers), std::vector<Bytes>{Unknown});
    QCOMPARE(log.count("crc_error"), 2); // the bad answer and the unfinished one

    answers.beginRound();
    feed(answers, VersionA, 13);
    answers.clear();
    QVERIFY(!answers.hasFrame());
}

void AnswersTest::ourOwnFramesComingBackAreDropped_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<Bytes>("sent");
    QTest::addColumn<Bytes>("answer");
    QTest::newRow("first search") << int(ModeSearch) << HostSearchFirst << SearchA;
    QTest::newRow("next search") << int(ModeSearch) << HostSearchNext << SearchB;
    QTest::newRow("confirmation") << int(ModeSearch) << HostConfirmA << SearchA;
    QTest::newRow("version query") << int(ModeInventory) << HostVersionA << VersionA;
    QTest::newRow("firmware part") << int(ModeUpdate) << HostLastPartA << AckA;
}

// Every frame the host sends comes back once on an echoing line, before any
// answer, in pieces of any size: it is dropped, counts as no byte of the
// round, and the answer behind it is taken as always. The confirmation has
// the bytes of the device's own answer: once the line has shown that it
// echoes, its echo is dropped once and the device's answer that follows is
// kept; on a plain line the device's answer is never mistaken for an echo.
void AnswersTest::ourOwnFramesComingBackAreDropped()
{
    QFETCH(int, mode);
    QFETCH(Bytes, sent);
    QFETCH(Bytes, answer);
    WorkMode = mode;
    UpdateStage = StageLast;
    PartNumber = 2;
    Answers plain;
    plain.sent(HostConfirmA.data(), HostConfirmA.size());
    plain.beginRound();
    feed(plain, SearchA, 11);
    QCOMPARE(plain.bytesThisRound(), qint64(SearchA.size())); // a device's answer

    LogCapture log;
    Answers answers;
    answers.expect(mode == ModeSearch ? Broadcast : IdA);
    answers.sent(HostSearchFirst.data(), HostSearchFirst.size());
    answers.beginRound();
    feed(answers, HostSearchFirst, 11); // the line echoes
    answers.endRound();

    answers.sent(HostSearchNext.data(), HostSearchNext.size()); // sent, never came back
    answers.sent(sent.data(), sent.size());
    answers.beginRound();
    feed(answers, Bytes(sent.begin(), sent.begin() + 4), 4);
    QVERIFY(answers.frameBegun()); // our own frame, not all back yet
    feed(answers, Bytes(sent.begin() + 4, sent.end()) + answer, 5);
    answers.settle();
    QCOMPARE(kept(answers), std::vector<Bytes>{answer});
    QCOMPARE(answers.bytesThisRound(), qint64(answer.size()));
    QVERIFY(!answers.garbled());
    QCOMPARE(log.lines().filter("our own frame coming back, dropped").size(), 2);
    QCOMPARE(log.count("crc_error"), 0);

    // The round is over: what was sent then is no echo any more.
    answers.endRound();
    answers.beginRound();
    feed(answers, answer, 3);
    answers.settle();
    QCOMPARE(kept(answers), std::vector<Bytes>{answer});
}

// An acknowledgement sent twice: the copy comes while the next part is
// awaited. It must not end that wait (the answer to the part in hand is
// still to come), and the handling takes it as no answer at all.
void AnswersTest::lateCopyOfAnAcknowledgementDoesNotEndTheWait()
{
    WorkMode = ModeUpdate;
    UpdateStage = StageBody;
    PartNumber = 3;
    PartsTotal = 5;
    NextPart = 0;
    DeviceList.append(deviceRecord(IdA, TypeTally8));
    DeviceCursor = 1;
    LogCapture log;
    Answers answers;
    answers.expect(IdA);
    answers.beginRound();
    feed(answers, AckA2 + AckA, 5); // the copies of parts 2 and 1
    QVERIFY(!answers.news());
    feed(answers, AckA3, 5);
    QVERIFY(answers.news());
    const std::vector<Bytes> frames = kept(answers);
    QCOMPARE(frames, (std::vector<Bytes>{AckA2, AckA, AckA3}));
    for (Bytes frame : frames)
        QCOMPARE(handleFrame(frame.data(), quint16(frame.size() - 1)), quint16(0));
    QCOMPARE(int(PartNumber), 4); // part 3 taken, nothing repeated
    QCOMPARE(int(NextPart), 1);
    QCOMPARE(log.countStartingWith("CPD_Wrlss: late copy of the acknowledgement of part"), 2);

    // An error report is never a late copy, whatever its code's bytes.
    Answers next;
    next.expect(IdA);
    next.beginRound();
    feed(next, ErrorLikeAckA2, 5);
    QVERIFY(next.news());
}

QTEST_GUILESS_MAIN(AnswersTest)
#include "tst_answers.moc"
