// pcapng blocks written and read, on bytes.

#include "serial/pcapng.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

namespace Pcapng {

namespace {

constexpr quint32 SectionHeaderBlock = 0x0A0D0D0A;
constexpr quint32 InterfaceBlock = 1;
constexpr quint32 SimplePacketBlock = 3;
constexpr quint32 EnhancedPacketBlock = 6;
constexpr quint32 ByteOrderMagic = 0x1A2B3C4D;
constexpr quint32 ObsoletePacketBlock = 2;

// Options.
constexpr quint16 OptEnd = 0;
constexpr quint16 ShbUserAppl = 4;
constexpr quint16 IfName = 2;
constexpr quint16 IfDescription = 3;
constexpr quint16 IfTsResol = 9;
constexpr quint16 IfTsOffset = 14;
constexpr quint16 EpbFlags = 2;
constexpr quint32 FlagInbound = 1;
constexpr quint32 FlagOutbound = 2;

// The serial header's event types.
constexpr quint8 DataTxStart = 0x01;
constexpr quint8 DataRxStart = 0x02;
constexpr quint8 DataTxEnd = 0x03;
constexpr quint8 DataRxEnd = 0x04;

constexpr qint64 NsPerSecond = 1000000000;
// No block is longer than this: a line's write or read is a few KiB at most,
// and a longer length is a corrupt file, not a reason to allocate.
constexpr quint32 MaxBlockBytes = 16 * 1024 * 1024;

void put16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void pad(QByteArray &out)
{
    while (out.size() % 4 != 0)
        out.append('\0');
}

void option(QByteArray &out, quint16 code, const QByteArray &value)
{
    put16(out, code);
    put16(out, quint16(value.size()));
    out.append(value);
    pad(out);
}

void endOfOptions(QByteArray &out)
{
    put16(out, OptEnd);
    put16(out, 0);
}

// A block around its body: type, total length, body, total length again.
QByteArray block(quint32 type, const QByteArray &body)
{
    const quint32 total = quint32(body.size() + 12);
    QByteArray out;
    out.reserve(int(total));
    put32(out, type);
    put32(out, total);
    out.append(body);
    put32(out, total);
    return out;
}

} // namespace

QByteArray sectionHeader(const QString &application)
{
    QByteArray body;
    put32(body, ByteOrderMagic);
    put16(body, 1); // version 1.0
    put16(body, 0);
    body.append(QByteArray(8, '\xff')); // section length not given
    option(body, ShbUserAppl, application.toUtf8());
    endOfOptions(body);
    return block(SectionHeaderBlock, body);
}

QByteArray interfaceDescription(const QString &name, const QString &description)
{
    QByteArray body;
    put16(body, LinkTypeRtacSerial);
    put16(body, 0);
    put32(body, 0); // no snapshot length: every byte is kept
    option(body, IfName, name.toUtf8());
    option(body, IfDescription, description.toUtf8());
    option(body, IfTsResol, QByteArray(1, char(9))); // nanoseconds
    endOfOptions(body);
    return block(InterfaceBlock, body);
}

QByteArray packet(quint32 interface, qint64 nanoseconds, Direction direction, const QByteArray &bytes)
{
    // The serial header: the time again, in seconds and microseconds, big-endian.
    QByteArray data;
    char word[4];
    qToBigEndian(quint32(nanoseconds / NsPerSecond), word);
    data.append(word, 4);
    qToBigEndian(quint32(nanoseconds % NsPerSecond / 1000), word);
    data.append(word, 4);
    data.append(char(direction == Direction::Sent ? DataTxStart : DataRxStart));
    data.append(char(0)); // control lines: none known
    data.append(2, char(0)); // footer
    data.append(bytes);

    QByteArray body;
    put32(body, interface);
    put32(body, quint32(quint64(nanoseconds) >> 32));
    put32(body, quint32(quint64(nanoseconds) & 0xFFFFFFFFu));
    put32(body, quint32(data.size()));
    put32(body, quint32(data.size()));
    body.append(data);
    pad(body);
    QByteArray flags;
    put32(flags, direction == Direction::Sent ? FlagOutbound : FlagInbound);
    option(body, EpbFlags, flags);
    endOfOptions(body);
    return block(EnhancedPacketBlock, body);
}

namespace {

// Reads one section's numbers in its own byte order.
class Reader
{
public:
    explicit Reader(const QByteArray &file)
        : m_file(file)
    {}

    Capture run();

private:
    struct Scale
    {
        qint64 unitsPerSecond = 1000000; // microseconds unless the interface says
        qint64 offsetSeconds = 0;
    };

    quint16 u16(qint64 at) const
    {
        const uchar *p = reinterpret_cast<const uchar *>(m_file.constData()) + at;
        return m_bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }
    quint32 u32(qint64 at) const
    {
        const uchar *p = reinterpret_cast<const uchar *>(m_file.constData()) + at;
        return m_bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }
    bool fail(qint64 at, const QString &what)
    {
        m_capture.problem = QStringLiteral("%1 at byte %2").arg(what).arg(at);
        return false;
    }
    Capture failed(qint64 at, const QString &what)
    {
        fail(at, what);
        return m_capture;
    }
    bool sectionStart(qint64 at);
    bool interfaceBlock(qint64 at, quint32 length);
    void packetBlock(qint64 at, quint32 type, quint32 length);
    qint64 toNanoseconds(quint64 stamp, const Scale &scale) const;
    void takeRecord(Record record, quint32 interface, const QByteArray &data, quint32 flags);

    const QByteArray &m_file;
    Capture m_capture;
    bool m_bigEndian = false;
    std::vector<Scale> m_scales;  // of this section's interfaces
    std::vector<int> m_kept;      // this section's interface i is m_capture.interfaces[m_kept[i]], or -1
    int m_number = 0;
    qint64 m_lastNs = 0;
};

bool Reader::sectionStart(qint64 at)
{
    if (m_file.size() - at < 28)
        return fail(at, QStringLiteral("section header cut short"));
    const uchar *magic = reinterpret_cast<const uchar *>(m_file.constData()) + at + 8;
    if (qFromLittleEndian<quint32>(magic) == ByteOrderMagic)
        m_bigEndian = false;
    else if (qFromBigEndian<quint32>(magic) == ByteOrderMagic)
        m_bigEndian = true;
    else
        return fail(at, QStringLiteral("no pcapng byte-order mark"));
    if (u16(at + 12) != 1)
        return fail(at, QStringLiteral("pcapng version %1 unknown").arg(u16(at + 12)));
    m_scales.clear();
    m_kept.clear();
    return true;
}

bool Reader::interfaceBlock(qint64 at, quint32 length)
{
    if (length < 20)
        return fail(at, QStringLiteral("interface block too short"));
    Interface interface;
    interface.linkType = u16(at + 8);
    Scale scale;
    const qint64 end = at + length - 4;
    for (qint64 o = at + 16; o + 4 <= end;) {
        const quint16 code = u16(o);
        const quint16 size = u16(o + 2);
        if (code == OptEnd || o + 4 + size > end)
            break;
        const QByteArray value = m_file.mid(int(o + 4), size);
        if (code == IfName)
            interface.name = QString::fromUtf8(value);
        else if (code == IfDescription)
            interface.description = QString::fromUtf8(value);
        else if (code == IfTsResol && size >= 1) {
            const quint8 v = quint8(value[0]);
            const int exponent = v & 0x7F;
            // 10^-v, or 2^-v with the top bit set; beyond what 64 bits hold, refused.
            if ((v & 0x80) ? exponent > 62 : exponent > 18)
                return fail(o, QStringLiteral("time resolution out of range"));
            qint64 units = 1;
            for (int i = 0; i < exponent; ++i)
                units *= (v & 0x80) ? 2 : 10;
            scale.unitsPerSecond = units;
        } else if (code == IfTsOffset && size == 8) {
            scale.offsetSeconds = qint64(quint64(u32(o + 4)) | quint64(u32(o + 8)) << 32);
            if (m_bigEndian)
                scale.offsetSeconds = qint64(quint64(u32(o + 8)) | quint64(u32(o + 4)) << 32);
        }
        o += 4 + ((size + 3) & ~3);
    }
    m_scales.push_back(scale);
    if (interface.linkType == LinkTypeRtacSerial) {
        m_kept.push_back(int(m_capture.interfaces.size()));
        m_capture.interfaces.push_back(interface);
    } else {
        m_kept.push_back(-1);
    }
    return true;
}

qint64 Reader::toNanoseconds(quint64 stamp, const Scale &scale) const
{
    // A time beyond some 290 years either side of the epoch is no time a
    // line was captured at: it is held at that bound, not overflowed.
    constexpr qint64 MaxSeconds = std::numeric_limits<qint64>::max() / NsPerSecond - 1;
    const quint64 units = quint64(scale.unitsPerSecond);
    const qint64 seconds = qint64(std::min<quint64>(stamp / units, quint64(MaxSeconds)));
    const qint64 fraction = qint64((unsigned __int128)(stamp % units) * NsPerSecond / units);
    const qint64 total = std::clamp(seconds + std::clamp(scale.offsetSeconds, -MaxSeconds, MaxSeconds),
                                    -MaxSeconds,
                                    MaxSeconds);
    return total * NsPerSecond + fraction;
}

void Reader::takeRecord(Record record, quint32 interface, const QByteArray &data, quint32 flags)
{
    if (interface >= m_kept.size() || m_kept[interface] < 0 || data.size() < RtacHeaderBytes)
        return;
    const quint8 event = quint8(data[8]);
    if (event == DataTxStart || event == DataTxEnd)
        record.direction = Direction::Sent;
    else if (event == DataRxStart || event == DataRxEnd)
        record.direction = Direction::Received;
    else if ((flags & 3) == FlagOutbound)
        record.direction = Direction::Sent;
    else if ((flags & 3) == FlagInbound)
        record.direction = Direction::Received;
    else
        return; // a status event, no data of the line
    record.bytes = data.mid(RtacHeaderBytes);
    if (record.bytes.isEmpty())
        return;
    record.interface = quint32(m_kept[interface]);
    m_capture.records.push_back(record);
}

void Reader::packetBlock(qint64 at, quint32 type, quint32 length)
{
    ++m_number;
    Record record;
    record.number = m_number;
    if (type == SimplePacketBlock) {
        // No interface but the first, no time: it comes with the packet before.
        if (length < 16)
            return;
        const quint32 size = qMin<quint32>(u32(at + 8), length - 16);
        record.nanoseconds = m_lastNs;
        takeRecord(record, 0, m_file.mid(int(at + 12), int(size)), 0);
        return;
    }
    if (length < 32)
        return;
    const quint32 interface = u32(at + 8);
    const quint32 captured = u32(at + 20);
    if (captured > length - 32 || interface >= m_scales.size())
        return;
    const quint64 stamp = quint64(u32(at + 12)) << 32 | u32(at + 16);
    record.nanoseconds = toNanoseconds(stamp, m_scales[interface]);
    m_lastNs = record.nanoseconds;
    quint32 flags = 0;
    const qint64 end = at + length - 4;
    for (qint64 o = at + 28 + ((captured + 3) & ~3u); o + 4 <= end;) {
        const quint16 code = u16(o);
        const quint16 size = u16(o + 2);
        if (code == OptEnd || o + 4 + size > end)
            break;
        if (code == EpbFlags && size == 4)
            flags = u32(o + 4);
        o += 4 + ((size + 3) & ~3);
    }
    takeRecord(record, interface, m_file.mid(int(at + 28), int(captured)), flags);
}

Capture Reader::run()
{
    qint64 at = 0;
    bool started = false;
    while (at < m_file.size()) {
        if (m_file.size() - at < 12)
            return failed(at, QStringLiteral("block cut short"));
        const quint32 rawType = qFromLittleEndian<quint32>(m_file.constData() + at);
        if (rawType == SectionHeaderBlock) {
            if (!sectionStart(at))
                return m_capture;
            started = true;
        } else if (!started) {
            return failed(at, QStringLiteral("not a pcapng file"));
        }
        const quint32 type = u32(at);
        const quint32 length = u32(at + 4);
        if (length < 12 || length % 4 != 0 || length > MaxBlockBytes || length > m_file.size() - at)
            return failed(at, QStringLiteral("block of a wrong length (%1)").arg(length));
        if (u32(at + length - 4) != length)
            return failed(at, QStringLiteral("block lengths differ"));
        if (type == InterfaceBlock) {
            if (!interfaceBlock(at, length))
                return m_capture;
        } else if (type == EnhancedPacketBlock || type == SimplePacketBlock
                   || type == ObsoletePacketBlock) {
            if (type == ObsoletePacketBlock)
                ++m_number; // counted, not read
            else
                packetBlock(at, type, length);
        }
        at += length;
    }
    if (!started)
        return failed(0, QStringLiteral("empty file"));
    return m_capture;
}

} // namespace

Capture read(const QByteArray &file)
{
    return Reader(file).run();
}

} // namespace Pcapng
