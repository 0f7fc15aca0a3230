// Capture files on bytes written out by hand from the pcapng draft: the
// blocks the capture writes, captures of other tools (another byte order,
// another time resolution, other link types, simple packets, unknown
// blocks), and files that are no capture, each said with where.

#include "serial/pcapng.h"

#include <QtTest>

namespace {

QByteArray bytes(const char *hexText)
{
    return QByteArray::fromHex(hexText);
}

// Big-endian; an interface without options (microseconds); one packet at
// 1.000001 s, received (event type 2), carrying AA BB.
const QByteArray BigEndian = bytes(
    "0a0d0d0a0000001c1a2b3c4d00010000ffffffffffffffff0000001c000000010000001400fa000000000000"
    "0000001400000006000000300000000000000000000f42410000000e0000000e000000010000000102000000"
    "aabb000000000030");
// Little-endian; an Ethernet interface and its packet (skipped), a serial one
// named COM7 with a resolution of 2^-3 s, a block of an unknown type, and a
// packet at 12 units (1.5 s) whose header says only "status" and whose flags
// say outbound, carrying 1E 01.
const QByteArray OtherTools = bytes(
    "0a0d0d0a200000004d3c2b1a01000000ffffffffffffffff0000000020000000010000001800000001000000"
    "0000000000000000180000000100000028000000fa0000000000000002000400434f4d370900010083000000"
    "0000000028000000060000002800000000000000000000000500000004000000040000000102030400000000"
    "28000000ad0b000014000000000000000000000014000000060000003c00000001000000000000000c000000"
    "0e0000000e000000000000010007a120000000001e0100000200040002000000000000003c000000");

} // namespace

class PcapngTest : public QObject
{
    Q_OBJECT
private slots:
    void blocksAreWrittenAsTheDraftLaysThemOut();
    void capturesOfOtherToolsAreRead();
    void filesThatAreNoCaptureAreSaidWithWhere_data();
    void filesThatAreNoCaptureAreSaidWithWhere();
};

void PcapngTest::blocksAreWrittenAsTheDraftLaysThemOut()
{
    QCOMPARE(Pcapng::sectionHeader("olvex-cli 1.0.0").toHex(' '),
             bytes("0a0d0d0a 34000000 4d3c2b1a 01000000 ffffffff ffffffff 04000f00 6f6c7665"
                   "782d636c 6920312e 302e3000 00000000 34000000")
                 .toHex(' '));
    QCOMPARE(Pcapng::interfaceDescription("/dev/ttyUSB0", "9600 8N1").toHex(' '),
             bytes("01000000 3c000000 fa000000 00000000 02000c00 2f646576 2f747479 55534230"
                   "03000800 39363030 20384e31 09000100 09000000 00000000 3c000000")
                 .toHex(' '));
    // 1 700 000 000.123456789 s, sent: the serial header has seconds and
    // microseconds big-endian and DATA_TX_START; the flags say outbound.
    QCOMPARE(Pcapng::packet(0, 1700000000123456789LL, Pcapng::Direction::Sent, bytes("010203"))
                 .toHex(' '),
             bytes("06000000 3c000000 00000000 fe9c9717 15cd853d 0f000000 0f000000 6553f100"
                   "0001e240 01000000 01020300 02000400 02000000 00000000 3c000000")
                 .toHex(' '));

    const Pcapng::Capture back
        = Pcapng::read(Pcapng::sectionHeader("t") + Pcapng::interfaceDescription("/dev/ttyUSB0", "x")
                       + Pcapng::packet(0, 1700000000123456789LL, Pcapng::Direction::Received,
                                        bytes("ff00")));
    QVERIFY2(back.problem.isEmpty(), qPrintable(back.problem));
    QCOMPARE(back.interfaces.at(0).name, QString("/dev/ttyUSB0"));
    QCOMPARE(back.records.at(0).nanoseconds, 1700000000123456789LL);
    QVERIFY(back.records.at(0).direction == Pcapng::Direction::Received);
    QCOMPARE(back.records.at(0).bytes, bytes("ff00"));
}

void PcapngTest::capturesOfOtherToolsAreRead()
{
    const Pcapng::Capture big = Pcapng::read(BigEndian);
    QVERIFY2(big.problem.isEmpty(), qPrintable(big.problem));
    QCOMPARE(int(big.records.size()), 1);
    QCOMPARE(big.records[0].nanoseconds, 1000001000LL);
    QVERIFY(big.records[0].direction == Pcapng::Direction::Received);
    QCOMPARE(big.records[0].bytes, bytes("aabb"));

    const Pcapng::Capture other = Pcapng::read(OtherTools);
    QVERIFY2(other.problem.isEmpty(), qPrintable(other.problem));
    QCOMPARE(int(other.interfaces.size()), 1);
    QCOMPARE(other.interfaces[0].name, QString("COM7"));
    QCOMPARE(int(other.records.size()), 1);
    const Pcapng::Record &r = other.records[0];
    QCOMPARE(r.number, 2); // Wireshark counts the Ethernet packet too
    QCOMPARE(r.interface, 0u);
    QCOMPARE(r.nanoseconds, 1500000000LL);
    QVERIFY(r.direction == Pcapng::Direction::Sent);
    QCOMPARE(r.bytes, bytes("1e01"));
}

void PcapngTest::filesThatAreNoCaptureAreSaidWithWhere_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");
    QTest::newRow("empty") << QByteArray() << "empty file at byte 0";
    QTest::newRow("a classic pcap") << bytes("d4c3b2a102000400") + QByteArray(16, '\0')
                                    << "not a pcapng file at byte 0";
    QTest::newRow("cut in a block") << BigEndian.left(BigEndian.size() - 6)
                                    << "block of a wrong length (48) at byte 48";
    QTest::newRow("lengths that differ")
        << BigEndian.left(BigEndian.size() - 1) + '\x31' << "block lengths differ at byte 48";
    QTest::newRow("a length of four gigabytes")
        << BigEndian.left(52) + bytes("ffffff00") + BigEndian.mid(56)
        << "block of a wrong length (4294967040) at byte 48";
}

void PcapngTest::filesThatAreNoCaptureAreSaidWithWhere()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);
    QCOMPARE(Pcapng::read(file).problem, problem);
}

QTEST_GUILESS_MAIN(PcapngTest)
#include "tst_pcapng.moc"
