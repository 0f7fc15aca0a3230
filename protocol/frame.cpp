// The CPD frame's command word and its CRC-8.

#include "protocol/frame.h"

namespace Cpd {

void packCommand(quint8 *frame, int type, quint8 block, quint8 number)
{
    const quint16 word = quint16(type * 8192 + block * 256 + number);
    frame[8] = quint8(word >> 8);
    frame[9] = quint8(word & 0xFF);
}

CommandWord unpackCommand(const quint8 *frame)
{
    const quint16 word = quint16((frame[8] << 8) | frame[9]);
    return CommandWord{word >> 13, (word >> 8) & 0x1F, word & 0xFF};
}

quint8 crc8Update(quint8 crc, const quint8 *data, int length)
{
    for (int i = 0; i < length; ++i) {
        quint8 byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = (crc ^ byte) & 1;
            crc >>= 1;
            if (mix)
                crc ^= 0x8C;
            byte >>= 1;
        }
    }
    return crc;
}

quint8 crc8(const quint8 *data, quint8 length)
{
    return crc8Update(0, data, length);
}

int appendChecksum(quint8 *frame, int bodyLength)
{
    frame[bodyLength] = crc8(frame, quint8(bodyLength));
    return bodyLength + 1;
}

bool checksumMatches(const quint8 *block, int length)
{
    if (length < 1)
        return false;
    return crc8Update(0, block, length - 1) == block[length - 1];
}

} // namespace Cpd
