// Frame layout and checksum against the byte vectors the devices are built to.

#include "protocol/frame.h"

#include "support/fixtures.h"

#include <QtTest>

#include <vector>

using Bytes = std::vector<quint8>;
Q_DECLARE_METATYPE(Bytes)

class FrameTest : public QObject
{
    Q_OBJECT
private slots:
    void checksumOfBodies_data();
    void checksumOfBodies();
    void checkValueOfTheCrcFamily();
    void wholeFrameChecksToZero();
    void countIsEightBitsWide();
    void commandWordPacking_data();
    void commandWordPacking();
    void unpackingAnAnswer();
    void receivedBlocksAreCheckedOverAllTheirBytes();
    void appendedChecksumTravelsBehindTheBody();
};

void FrameTest::checksumOfBodies_data()
{
    QTest::addColumn<Bytes>("body");
    QTest::addColumn<int>("crc");
    QTest::newRow("first search request") << hex("FF FF FF FF FF FF FF FF 1E 01") << 0x68;
    QTest::newRow("further search request") << hex("FF FF FF FF FF FF FF FF 1E 00") << 0x36;
    QTest::newRow("version query") << hex("01 02 03 04 05 06 07 08 14 03") << 0x4F;
    QTest::newRow("version answer") << hex("01 02 03 04 05 06 07 08 54 03 02 05") << 0xCD;
    QTest::newRow("firmware acknowledgement")
        << hex("01 02 03 04 05 06 07 08 54 32 01 00 01") << 0xB5;
}

void FrameTest::checksumOfBodies()
{
    QFETCH(Bytes, body);
    QFETCH(int, crc);
    QCOMPARE(int(Cpd::crc8(body.data(), quint8(body.size()))), crc);

    Bytes frame = body;
    frame.push_back(quint8(crc));
    QVERIFY(Cpd::checksumMatches(frame.data(), int(frame.size())));
    frame.back() ^= 0x01;
    QVERIFY(!Cpd::checksumMatches(frame.data(), int(frame.size())));
}

void FrameTest::checkValueOfTheCrcFamily()
{
    const QByteArray text("123456789");
    QCOMPARE(int(Cpd::crc8(reinterpret_cast<const quint8 *>(text.constData()), 9)), 0xA1);
}

void FrameTest::wholeFrameChecksToZero()
{
    Bytes frame = hex("01 02 03 04 05 06 07 08 54 32 01 00 01 B5");
    QCOMPARE(int(Cpd::crc8(frame.data(), quint8(frame.size()))), 0);
    // Two frames back to back pass the check of the last one.
    Bytes two = hex("FF FF FF FF FF FF FF FF 1E 01 68");
    two.insert(two.end(), frame.begin(), frame.end());
    QVERIFY(Cpd::checksumMatches(two.data(), int(two.size())));
}

void FrameTest::countIsEightBitsWide()
{
    Bytes body(256, 0x5A);
    QCOMPARE(int(Cpd::crc8(body.data(), 0)), 0);
    QCOMPARE(int(Cpd::crc8(body.data(), quint8(body.size()))), 0); // 256 mod 256
    QCOMPARE(Cpd::crc8(body.data(), quint8(257)), Cpd::crc8(body.data(), 1));
}

void FrameTest::commandWordPacking_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("byte8");
    QTest::addColumn<int>("byte9");
    QTest::newRow("first search") << 0 << 30 << 1 << 0x1E << 0x01;
    QTest::newRow("version query") << 0 << 20 << 3 << 0x14 << 0x03;
    QTest::newRow("firmware frame") << 0 << 20 << 50 << 0x14 << 0x32;
    QTest::newRow("confirmation of a kind-10 answer") << 2 << 30 << 10 << 0x5E << 0x0A;
    QTest::newRow("error report about block 20") << 6 << 20 << 50 << 0xD4 << 0x32;
    QTest::newRow("highest type and block") << 7 << 31 << 255 << 0xFF << 0xFF;
}

void FrameTest::commandWordPacking()
{
    QFETCH(int, type);
    QFETCH(int, block);
    QFETCH(int, number);
    QFETCH(int, byte8);
    QFETCH(int, byte9);
    quint8 frame[10] = {};
    Cpd::packCommand(frame, type, quint8(block), quint8(number));
    QCOMPARE(int(frame[8]), byte8);
    QCOMPARE(int(frame[9]), byte9);
    const Cpd::CommandWord word = Cpd::unpackCommand(frame);
    QCOMPARE(word.type, type);
    QCOMPARE(word.block, block);
    QCOMPARE(word.number, number);
}

void FrameTest::unpackingAnAnswer()
{
    const Bytes frame = hex("01 02 03 04 05 06 07 08 54 03 02 05 CD");
    QVERIFY(Cpd::checksumMatches(frame.data(), int(frame.size())));
    const Cpd::CommandWord word = Cpd::unpackCommand(frame.data());
    QCOMPARE(word.type, 2);
    QCOMPARE(word.block, 20);
    QCOMPARE(word.number, 3);
    QCOMPARE(int(frame[10]), 0x02);
    QCOMPARE(int(frame[11]), 0x05);
}

void FrameTest::receivedBlocksAreCheckedOverAllTheirBytes()
{
    // A single byte is checked against the checksum of nothing.
    const quint8 zero = 0x00;
    const quint8 one = 0x01;
    QVERIFY(Cpd::checksumMatches(&zero, 1));
    QVERIFY(!Cpd::checksumMatches(&one, 1));
    QVERIFY(!Cpd::checksumMatches(&zero, 0));

    // A block of 300 bytes: a checksum over only the first 299 mod 256 bytes
    // must not let it through.
    Bytes block(300);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = quint8(i * 7 + 3);
    block.back() = Cpd::crc8(block.data(), quint8(299));
    QVERIFY(!Cpd::checksumMatches(block.data(), int(block.size())));
    block.back() = Cpd::crc8Update(0, block.data(), 299);
    QVERIFY(Cpd::checksumMatches(block.data(), int(block.size())));
}

void FrameTest::appendedChecksumTravelsBehindTheBody()
{
    Bytes buffer = hex("FF FF FF FF FF FF FF FF 1E 01 00 00");
    QCOMPARE(Cpd::appendChecksum(buffer.data(), 10), 11);
    QCOMPARE(int(buffer[10]), 0x68);
    QCOMPARE(int(buffer[11]), 0x00); // nothing written past it
}

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frame.moc"
