#pragma once

// Reading back what a resource compiler wrote: the entries of a 32-bit .res
// file, icon group directories and version blocks. Everything is little-endian
// and every header starts on a four-byte boundary.

#include <QByteArray>
#include <QString>

#include <vector>

namespace WinRes {

enum Type : quint16 { Icon = 3, GroupIcon = 14, Version = 16 };

struct Resource
{
    QString type; // "#3" for a numeric type, the name otherwise
    QString name; // "#1" for a numeric id, the name otherwise
    quint16 language = 0;
    QByteArray data;
};

// The entries of a .res file, without its leading empty one. Sets *error and
// returns what was read so far when the file is cut short or inconsistent.
std::vector<Resource> readResFile(const QByteArray &bytes, QString *error);

QString idName(quint16 id);

struct IconGroupEntry
{
    int width = 0; // 256 when the directory says 0
    int height = 0;
    int colourCount = 0;
    int planes = 0;
    int bitCount = 0;
    quint32 bytesInRes = 0;
    quint16 iconId = 0;
};

// GRPICONDIR: reserved, type 1, count, then 14-byte entries.
bool readIconGroup(const QByteArray &data, std::vector<IconGroupEntry> *entries, QString *error);

// A one-image .ico file holding this image, as Windows rebuilds an icon from
// a group entry and its RT_ICON data.
QByteArray singleImageIco(const IconGroupEntry &entry, const QByteArray &image);

// One block of a version resource: VS_VERSIONINFO, StringFileInfo, a string
// table, a string, VarFileInfo, Var.
struct VersionNode
{
    QString key;
    quint16 type = 0; // 1: text value, 0: binary
    QByteArray value; // as stored; text without its terminating zero
    std::vector<VersionNode> children;

    QString text() const;
    const VersionNode *child(const QString &childKey) const;
};

bool readVersionNode(const QByteArray &data, VersionNode *root, QString *error);

quint32 u32(const QByteArray &bytes, int offset);
quint16 u16(const QByteArray &bytes, int offset);

} // namespace WinRes
