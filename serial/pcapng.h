#pragma once

// Line captures in pcapng, Wireshark's own format (the IETF pcapng draft), on
// bytes alone: no file here. A capture holds one interface per line, of link
// type LINKTYPE_RTAC_SERIAL (250): each packet is a 12-byte serial header
// (time stamp, the event type that tells sent from received, control lines,
// footer) followed by the bytes one write or one read carried. The direction
// is in the packet block's flags too.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace Pcapng {

constexpr quint16 LinkTypeRtacSerial = 250;
constexpr int RtacHeaderBytes = 12;

enum class Direction : quint8 { Sent, Received };

// Blocks as the capture writes them, little-endian, nanosecond time stamps
// (nanoseconds since the epoch).
QByteArray sectionHeader(const QString &application);
QByteArray interfaceDescription(const QString &name, const QString &description);
QByteArray packet(quint32 interface, qint64 nanoseconds, Direction direction, const QByteArray &bytes);

// What a capture carried: each write or read with its time, in file order.
struct Record
{
    int number = 0;          // the packet's number in the file, from 1, as Wireshark counts
    quint32 interface = 0;
    qint64 nanoseconds = 0;  // since the epoch
    Direction direction = Direction::Sent;
    QByteArray bytes;
};

struct Interface
{
    quint16 linkType = 0;
    QString name;
    QString description;
};

struct Capture
{
    std::vector<Interface> interfaces;
    std::vector<Record> records; // the serial line's data packets only
    QString problem;             // empty when the whole file was read
};

// Reads any pcapng: either byte order, any time resolution, options or none;
// the packets of interfaces of other link types, and status events without
// data, are skipped. A file that is no pcapng, or is cut or malformed, gives
// a problem in words naming where.
Capture read(const QByteArray &file);

} // namespace Pcapng
