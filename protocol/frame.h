#pragma once

// CPD frames: 8-byte address, command word (type, block, number), payload,
// CRC-8. There is no start byte and no length field: a frame is what one
// write of its sender carries.

#include <QtGlobal>

namespace Cpd {

constexpr int IdSize = 8;
constexpr int HeaderSize = IdSize + 2;                     // address and command word
constexpr int MinFrameSize = HeaderSize + 1;               // no payload, then the checksum
constexpr int PartSize = 197;                              // firmware bytes per frame
constexpr int FirmwareHeaderSize = HeaderSize + 3;         // then the stage and the part number
constexpr int MaxHostBody = FirmwareHeaderSize + PartSize; // a firmware frame with a full part
constexpr int BufferSize = 1000; // the worker's buffer for both directions

// Payload bytes of the answers the host asks for.
constexpr int VersionPayload = 2; // major (bit 7: boot loader), minor
constexpr int AckPayload = 3;     // stage echo, part number high, low
constexpr int ErrorPayload = 4;   // error code, signed 32-bit little-endian

enum FrameType : int {
    TypeRequest = 0,
    TypeResponse = 2, // answers from a device, confirmations from the host
    TypeError = 6,
};

enum CommandBlock : int {
    BlockDevice = 20, // version query and firmware
    BlockSearch = 30,
};

enum CommandNumber : int {
    NumberSearchNext = 0,
    NumberSearchFirst = 1,
    NumberVersion = 3,
    NumberFirmware = 50,
};

// Device kinds, carried in the command number of a search answer.
enum DeviceKind : int {
    KindProbe = 0,
    KindTally8 = 10,
    KindTally16 = 11,
};

struct CommandWord
{
    int type = 0;   // bits 15..13
    int block = 0;  // bits 12..8
    int number = 0; // bits 7..0
};

// Writes the command word at offsets 8 and 9, high byte first. The block is
// placed at bit 8 unmasked, as the devices expect for blocks 0..31.
void packCommand(quint8 *frame, int type, quint8 block, quint8 number);
CommandWord unpackCommand(const quint8 *frame);

// CRC-8/MAXIM (reflected polynomial 0x8C, initial 0, no final XOR), bit by bit.
// The count is 8 bits wide: a body of L bytes is covered for L mod 256 bytes.
quint8 crc8(const quint8 *data, quint8 length);

// The same CRC over any number of bytes, continuing from crc.
quint8 crc8Update(quint8 crc, const quint8 *data, int length);

// Stores the checksum of the body's first bodyLength bytes right behind it and
// returns the frame length to transmit.
int appendChecksum(quint8 *frame, int bodyLength);

// True when the block's last byte is the checksum of every byte before it.
// A block of one byte is checked against the checksum of nothing, which is 0.
bool checksumMatches(const quint8 *block, int length);

} // namespace Cpd
