// Composing the body of the next frame the host sends.

#include "protocol/compose.h"

#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "registry/exchange.h"
#include "registry/registry.h"

#include <algorithm>

quint16 composeFrame(quint8 *buffer, int type)
{
    const DeviceId id = TargetId;
    std::copy(id.cbegin(), id.cend(), buffer);
    const qint32 block = CmdBlock;
    const quint8 number = CmdNumber;
    Cpd::packCommand(buffer, type, quint8(block), number);
    qDebug("ID: %X:%X:%X:%X:%X:%X:%X:%X", id[0], id[1], id[2], id[3], id[4], id[5], id[6], id[7]);
    qDebug("cmd_b:%d cmd_n:%d", int(block), int(number));
    if (WorkMode != ModeUpdate)
        return Cpd::HeaderSize;
    return FirmwareTransfer::composePart(buffer);
}
