// Cutting answers out of the byte stream, on frames written out by hand.

#include "protocol/stream.h"

#include "support/fixtures.h"
#include "support/logcapture.h"
#include "support/vectors.h"

#include <QtTest>

#include <random>

namespace {

using Bytes = std::vector<quint8>;

using namespace Vectors;

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QByteArray qba(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

// Feeds the stream in the given pieces, taking frames after each, then once
// more with the line quiet.
std::vector<Bytes> cut(FrameStream &stream, const Bytes &all, const std::vector<size_t> &pieces)
{
    std::vector<Bytes> frames;
    Bytes frame;
    size_t at = 0;
    for (size_t piece : pieces) {
        stream.append(all.data() + at, piece);
        at += piece;
        while (stream.takeFrame(&frame, false))
            frames.push_back(frame);
    }
    while (stream.takeFrame(&frame, true))
        frames.push_back(frame);
    return frames;
}

Bytes junk(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(size);
    for (quint8 &b : out)
        b = quint8(random());
    return out;
}

} // namespace

class StreamTest : public QObject
{
    Q_OBJECT
private slots:
    void everyGoodFrameOnceWhereverTheReadsCut();
    void junkBlockOfTwelveHundredBytesHidesNothing();
    void answerOfUntoldLengthWaitsForTheQuietLine();
    void unfinishedFrameIsDroppedOnlyWhenToldSo();
};

void StreamTest::everyGoodFrameOnceWhereverTheReadsCut()
{
    const Bytes all = hex("00 A5 5A") + SearchA + VersionA + hex("FF") + AckA + BadSearchB + ErrorA
                      + hex("13 37") + SearchB + ErrorB + Unknown;
    const std::vector<Bytes> expected{SearchA, VersionA, AckA, ErrorA, SearchB, ErrorB, Unknown};
    const quint64 junkBytes = 3 + 1 + BadSearchB.size() + 2;

    LogCapture log;
    std::vector<std::vector<size_t>> feeds{{all.size()}, std::vector<size_t>(all.size(), 1)};
    for (size_t split = 1; split < all.size(); ++split)
        feeds.push_back({split, all.size() - split});
    for (const auto &pieces : feeds) {
        FrameStream stream;
        const std::vector<Bytes> frames = cut(stream, all, pieces);
        const QByteArray where = "pieces " + QByteArray::number(int(pieces.size())) + ", first "
                                 + QByteArray::number(int(pieces.front()));
        QVERIFY2(frames == expected, where);
        QVERIFY2(stream.skippedBytes() == junkBytes, where);
        QVERIFY2(stream.skippedStretches() == 4, where);
        QVERIFY2(stream.pending() == 0, where);
    }
    QCOMPARE(log.count("crc_error"), int(4 * feeds.size()));
}

void StreamTest::junkBlockOfTwelveHundredBytesHidesNothing()
{
    const Bytes block = junk(1200, 42);
    const Bytes all = AckA + block + AckA + VersionA;
    for (size_t chunk : {size_t(1), size_t(64), all.size()}) {
        FrameStream stream;
        std::vector<size_t> pieces(all.size() / chunk, chunk);
        if (all.size() % chunk)
            pieces.push_back(all.size() % chunk);
        const std::vector<Bytes> frames = cut(stream, all, pieces);
        QCOMPARE(int(frames.size()), 3);
        QCOMPARE(qba(frames[0]), qba(AckA));
        QCOMPARE(qba(frames[1]), qba(AckA));
        QCOMPARE(qba(frames[2]), qba(VersionA));
        QCOMPARE(stream.skippedBytes(), quint64(block.size()));
        QCOMPARE(stream.skippedStretches(), quint64(1));
    }
}

void StreamTest::answerOfUntoldLengthWaitsForTheQuietLine()
{
    FrameStream stream;
    Bytes frame;
    stream.append(Unknown.data(), Unknown.size());
    QVERIFY(!stream.takeFrame(&frame, false)); // more may belong to it
    QVERIFY(stream.takeFrame(&frame, true));
    QCOMPARE(qba(frame), qba(Unknown));

    // Where no frame may begin (after skipped bytes) its length cannot be
    // told, so it is never taken on a checksum it might pass by chance.
    const Bytes afterJunk = hex("77") + Unknown;
    stream.append(afterJunk.data(), afterJunk.size());
    QVERIFY(!stream.takeFrame(&frame, true));
    stream.discard();
    QCOMPARE(stream.skippedBytes(), quint64(afterJunk.size()));
}

void StreamTest::unfinishedFrameIsDroppedOnlyWhenToldSo()
{
    FrameStream stream;
    Bytes frame;
    stream.append(AckA.data(), 9);
    QVERIFY(!stream.takeFrame(&frame, true));
    QCOMPARE(stream.pending(), size_t(9));
    stream.append(AckA.data() + 9, AckA.size() - 9); // the rest came after all
    QVERIFY(stream.takeFrame(&frame, false));
    QCOMPARE(qba(frame), qba(AckA));

    stream.append(VersionA.data(), 12);
    stream.discard();
    QCOMPARE(stream.skippedBytes(), quint64(12));
    stream.append(SearchB.data(), SearchB.size());
    QVERIFY(stream.takeFrame(&frame, false));
    QCOMPARE(qba(frame), qba(SearchB));
}

QTEST_GUILESS_MAIN(StreamTest)
#include "tst_stream.moc"
