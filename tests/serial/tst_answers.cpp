// What the worker keeps of the answers to one request, decided on bytes alone,
// without a port: in a search every answer is kept and a new device is news;
// in an inventory the device asked ends the wait; during an update only the
// device being written is heard. Frames are written out by hand.

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
    answers.settle(); // the rest will not come: dropped, nothing handed on
    QVERIFY(!answers.hasFrame());

    answers.beginRound();
    feed(answers, Unknown, 13);
    QVERIFY(!answers.hasFrame()); // its length is not told: it waits for the quiet line
    answers.settle();
    QCOMPARE(kept(answers), std::vector<Bytes>{Unknown});
    QCOMPARE(log.count("crc_error"), 2); // the bad answer and the unfinished one

    answers.beginRound();
    feed(answers, VersionA, 13);
    answers.clear();
    QVERIFY(!answers.hasFrame());
}

QTEST_GUILESS_MAIN(AnswersTest)
#include "tst_answers.moc"
