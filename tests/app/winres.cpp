#include "winres.h"

namespace WinRes {
namespace {
int align4(int offset)
{
    return (offset + 3) & ~3;
}

// A UTF-16 string up to its zero; *offset moves past the zero.
bool readZString(const QByteArray &bytes, int *offset, int end, QString *out)
{
    QString text;
    for (int at = *offset; at + 1 < end; at += 2) {
        const quint16 unit = u16(bytes, at);
        if (unit == 0) {
            *offset = at + 2;
            *out = text;
            return true;
        }
        text.append(QChar(unit));
    }
    return false;
}

// A type or name field: 0xFFFF and a number, or a string.
bool readNameField(const QByteArray &bytes, int *offset, int end, QString *out)
{
    if (*offset + 4 <= end && u16(bytes, *offset) == 0xFFFF) {
        *out = idName(u16(bytes, *offset + 2));
        *offset += 4;
        return true;
    }
    return readZString(bytes, offset, end, out);
}

bool readNode(const QByteArray &data, int offset, VersionNode *node, int *next, QString *error)
{
    if (offset + 6 > data.size()) {
        *error = QStringLiteral("version block header cut short at %1").arg(offset);
        return false;
    }
    const int length = u16(data, offset);
    const int valueLength = u16(data, offset + 2);
    node->type = u16(data, offset + 4);
    const int end = offset + length;
    if (length < 6 || end > data.size()) {
        *error = QStringLiteral("version block at %1 has length %2").arg(offset).arg(length);
        return false;
    }
    int at = offset + 6;
    if (!readZString(data, &at, end, &node->key)) {
        *error = QStringLiteral("version block at %1 has no key").arg(offset);
        return false;
    }
    at = align4(at);
    // Text values count UTF-16 units, binary ones bytes.
    const int valueBytes = node->type == 1 ? 2 * valueLength : valueLength;
    if (at + valueBytes > end) {
        *error = QStringLiteral("value of %1 runs past its block").arg(node->key);
        return false;
    }
    node->value = data.mid(at, valueBytes);
    if (node->type == 1) {
        while (node->value.size() >= 2 && node->value.endsWith(QByteArray(2, '\0')))
            node->value.chop(2);
    }
    at = align4(at + valueBytes);
    while (at < end) {
        VersionNode child;
        if (!readNode(data, at, &child, &at, error))
            return false;
        node->children.push_back(child);
    }
    *next = align4(end);
    return true;
}
} // namespace

quint16 u16(const QByteArray &bytes, int offset)
{
    return quint16(quint8(bytes[offset]) | quint8(bytes[offset + 1]) << 8);
}

quint32 u32(const QByteArray &bytes, int offset)
{
    return u16(bytes, offset) | quint32(u16(bytes, offset + 2)) << 16;
}

QString idName(quint16 id)
{
    return QStringLiteral("#%1").arg(id);
}

std::vector<Resource> readResFile(const QByteArray &bytes, QString *error)
{
    std::vector<Resource> out;
    int at = 0;
    while (at < bytes.size()) {
        if (at + 8 > bytes.size()) {
            *error = QStringLiteral("entry header cut short at %1").arg(at);
            return out;
        }
        const quint32 dataSize = u32(bytes, at);
        const quint32 headerSize = u32(bytes, at + 4);
        const qint64 end = qint64(at) + headerSize + dataSize;
        if (headerSize < 32 || end > bytes.size()) {
            *error = QStringLiteral("entry at %1 runs past the file").arg(at);
            return out;
        }
        const int headerEnd = at + int(headerSize);
        int field = at + 8;
        Resource resource;
        if (!readNameField(bytes, &field, headerEnd, &resource.type)
            || !readNameField(bytes, &field, headerEnd, &resource.name)) {
            *error = QStringLiteral("entry at %1 has a broken type or name").arg(at);
            return out;
        }
        // DataVersion (4), MemoryFlags (2), LanguageId (2), Version, Characteristics.
        field = align4(field);
        if (field + 16 > headerEnd) {
            *error = QStringLiteral("entry at %1 has a short header").arg(at);
            return out;
        }
        resource.language = u16(bytes, field + 6);
        resource.data = bytes.mid(headerEnd, int(dataSize));
        // The file starts with an empty entry of type 0 that marks it as 32-bit.
        if (!(at == 0 && dataSize == 0 && resource.type == idName(0)))
            out.push_back(resource);
        at = align4(int(end));
    }
    return out;
}

bool readIconGroup(const QByteArray &data, std::vector<IconGroupEntry> *entries, QString *error)
{
    if (data.size() < 6 || u16(data, 0) != 0 || u16(data, 2) != 1) {
        *error = QStringLiteral("not an icon group directory");
        return false;
    }
    const int count = u16(data, 4);
    if (data.size() != 6 + 14 * count) {
        *error = QStringLiteral("icon group of %1 entries is %2 bytes").arg(count).arg(data.size());
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const int at = 6 + 14 * i;
        IconGroupEntry entry;
        entry.width = quint8(data[at]) == 0 ? 256 : quint8(data[at]);
        entry.height = quint8(data[at + 1]) == 0 ? 256 : quint8(data[at + 1]);
        entry.colourCount = quint8(data[at + 2]);
        entry.planes = u16(data, at + 4);
        entry.bitCount = u16(data, at + 6);
        entry.bytesInRes = u32(data, at + 8);
        entry.iconId = u16(data, at + 12);
        entries->push_back(entry);
    }
    return true;
}

QByteArray singleImageIco(const IconGroupEntry &entry, const QByteArray &image)
{
    QByteArray out;
    const auto put16 = [&out](quint16 v) {
        out.append(char(v & 0xff)).append(char(v >> 8));
    };
    const auto put32 = [&put16](quint32 v) {
        put16(quint16(v & 0xffff));
        put16(quint16(v >> 16));
    };
    put16(0);
    put16(1);
    put16(1);
    out.append(char(entry.width & 0xff)).append(char(entry.height & 0xff));
    out.append(char(entry.colourCount)).append('\0');
    put16(quint16(entry.planes));
    put16(quint16(entry.bitCount));
    put32(quint32(image.size()));
    put32(6 + 16);
    return out + image;
}

QString VersionNode::text() const
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(value.constData()),
                              value.size() / 2);
}

const VersionNode *VersionNode::child(const QString &childKey) const
{
    for (const VersionNode &node : children) {
        if (node.key == childKey)
            return &node;
    }
    return nullptr;
}

bool readVersionNode(const QByteArray &data, VersionNode *root, QString *error)
{
    int next = 0;
    if (!readNode(data, 0, root, &next, error))
        return false;
    if (next < data.size()) {
        *error = QStringLiteral("%1 bytes after the version block").arg(data.size() - next);
        return false;
    }
    return true;
}

} // namespace WinRes
