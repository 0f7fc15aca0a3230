// The one-type rule of an update pass.

#include "protocol/typerule.h"

namespace TypeRule {

std::optional<Conflict> findConflict(const std::vector<DeviceRecord> &devices)
{
    qint32 reference = TypeUnknown;
    int first = -1;
    for (int pos = 0; pos < int(devices.size()); ++pos) {
        const DeviceRecord &record = devices[size_t(pos)];
        if (record.selected != 1 || record.devType == reference)
            continue;
        if (reference == TypeUnknown) {
            reference = record.devType;
            first = pos;
            continue;
        }
        return Conflict{first, pos};
    }
    return std::nullopt;
}

} // namespace TypeRule
