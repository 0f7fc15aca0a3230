// The Windows resources of olvex-updater.exe as a resource compiler leaves
// them: app/olvex-updater.rc compiled by MinGW's windres into a .res file
// (tests/app/CMakeLists.txt), read back here byte by byte.

#include "ui/startup.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace {
QString id(int number)
{
    return QStringLiteral("#%1").arg(number);
}

// Little-endian fields from a byte array; reading past the end clears ok.
struct Reader
{
    QByteArray bytes;
    int at = 0;
    bool ok = true;

    quint32 take(int size)
    {
        if (at < 0 || at + size > bytes.size()) {
            ok = false;
            return 0;
        }
        quint32 value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = value << 8 | quint8(bytes[at + i]);
        at += size;
        return value;
    }
    quint16 u16() { return quint16(take(2)); }
    quint32 u32() { return take(4); }
    void align() { at = (at + 3) & ~3; }
    QString text() // UTF-16 up to its zero
    {
        QString out;
        for (quint16 unit = u16(); ok && unit != 0; unit = u16())
            out.append(QChar(unit));
        return out;
    }
    QString nameOrId() // a type or name: 0xFFFF and a number ("#3"), or a text
    {
        if (at + 2 <= bytes.size() && quint8(bytes[at]) == 0xFF && quint8(bytes[at + 1]) == 0xFF) {
            at += 2;
            return id(u16());
        }
        return text();
    }
};

// The entries of a .res file, keyed "type/name" ("#3/#1", "#14/IDI_ICON1"):
// DataSize, HeaderSize, type, name, then DataVersion, MemoryFlags,
// LanguageId, Version, Characteristics; the data.
struct Resource
{
    quint16 language;
    QByteArray data;
};
std::map<QString, Resource> readRes(const QByteArray &bytes, bool *ok)
{
    std::map<QString, Resource> out;
    Reader r{bytes};
    while (r.ok && r.at < bytes.size()) {
        const int start = r.at;
        const quint32 dataSize = r.u32();
        const quint32 headerSize = r.u32();
        const QString type = r.nameOrId();
        const QString key = type + QLatin1Char('/') + r.nameOrId();
        r.align();
        r.at += 6;
        const quint16 language = r.u16();
        r.at = start + int(headerSize);
        const QByteArray data = bytes.mid(r.at, int(dataSize));
        r.ok = r.ok && data.size() == int(dataSize) && !out.count(key);
        r.at += int(dataSize);
        r.align();
        if (type != id(0)) // the leading empty entry marks a 32-bit file
            out[key] = Resource{language, data};
    }
    *ok = r.ok;
    return out;
}

// A version block: wLength, wValueLength, wType (1: text, counted in UTF-16
// units), key, value, children, each on a four-byte boundary.
struct VersionNode
{
    QString key;
    QByteArray value;
    QString text;
    std::map<QString, VersionNode> children;
};
VersionNode readNode(Reader &r)
{
    VersionNode node;
    const int start = r.at;
    const int end = start + r.u16();
    const int valueLength = r.u16();
    const bool isText = r.u16() == 1;
    node.key = r.text();
    r.align();
    const int valueSize = isText ? 2 * valueLength : valueLength;
    node.value = r.bytes.mid(r.at, valueSize);
    r.ok = r.ok && node.value.size() == valueSize;
    if (isText) {
        Reader value{node.value};
        node.text = value.text();
    }
    r.at += node.value.size();
    r.align();
    while (r.ok && r.at < end) {
        VersionNode child = readNode(r);
        node.children[child.key] = child;
    }
    r.ok = r.ok && r.at >= end && end > start;
    return node;
}

// The artwork centred on a transparent square and scaled by Qt itself: what
// each icon image should look like, drawn independently of the tool that made
// the .ico. Doubled first, so that a half-pixel centring stays exact.
QImage expectedIcon(int size)
{
    const QImage artwork = QImage(Identity::iconPath()).convertToFormat(QImage::Format_ARGB32);
    const int w = artwork.width();
    const int h = artwork.height();
    const int side = std::max(w, h);
    QImage square(2 * side, 2 * side, QImage::Format_ARGB32);
    square.fill(Qt::transparent);
    QPainter painter(&square);
    painter.drawImage(side - w, side - h, artwork.scaled(2 * w, 2 * h));
    painter.end();
    return square.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Largest difference of any premultiplied channel once both are averaged down
// to 8 x 8: 1 or 2 for the same picture, 90 and more for a flipped, mirrored
// or colour-swapped one.
int coarseDifference(const QImage &a, const QImage &b)
{
    const auto coarse = [](const QImage &image) {
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
            .scaled(8, 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    const QImage ca = coarse(a);
    const QImage cb = coarse(b);
    int worst = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const QRgb p = ca.pixel(x, y);
            const QRgb q = cb.pixel(x, y);
            worst = std::max({worst,
                              std::abs(qRed(p) - qRed(q)),
                              std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)),
                              std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return worst;
}
} // namespace

class WinResTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void holdsOneIconGroupAndOneVersionBlock();
    void iconGroupHasFiveSizesAt32Bits();
    void iconImagesShowTheArtwork();
    void fixedVersionIsAllZeroForAnApplication();
    void versionStrings();
    void translationNamesTheStringTable();

private:
    QByteArray icon(int number) const
    {
        const auto found = m_res.find(QStringLiteral("#3/") + id(number)); // RT_ICON
        return found == m_res.end() ? QByteArray() : found->second.data;
    }

    std::map<QString, Resource> m_res;
    QByteArray m_group;
    VersionNode m_version;
};

void WinResTest::initTestCase()
{
    QFile file(QStringLiteral(OLVEX_RES_FILE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    bool ok = false;
    m_res = readRes(file.readAll(), &ok);
    QVERIFY2(ok, "the .res file is cut short or inconsistent");
    m_group = m_res[QStringLiteral("#14/IDI_ICON1")].data; // RT_GROUP_ICON, Qt's usual name
    Reader r{m_res[QStringLiteral("#16/#1")].data};        // RT_VERSION, VS_VERSION_INFO
    m_version = readNode(r);
    QVERIFY2(r.ok && r.at >= r.bytes.size(), "the version block is cut short or inconsistent");
}

void WinResTest::holdsOneIconGroupAndOneVersionBlock()
{
    QStringList keys;
    for (const auto &resource : m_res) {
        keys << resource.first;
        QCOMPARE(resource.second.language, quint16(0x0409));
    }
    QCOMPARE(keys,
             (QStringList{"#14/IDI_ICON1", "#16/#1", "#3/#1", "#3/#2", "#3/#3", "#3/#4", "#3/#5"}));
}

void WinResTest::iconGroupHasFiveSizesAt32Bits()
{
    // GRPICONDIR, then per image: width, height, colours, reserved, planes,
    // bit count, size, RT_ICON id.
    Reader r{m_group};
    QCOMPARE(r.u16(), quint16(0));
    QCOMPARE(r.u16(), quint16(1));
    QCOMPARE(r.u16(), quint16(5));
    QList<int> sizes;
    for (int i = 0; i < 5; ++i) {
        const int width = int(r.take(1));
        sizes << width;
        QCOMPARE(int(r.take(1)), width);
        QCOMPARE(r.u16(), quint16(0)); // no palette
        QCOMPARE(r.u16(), quint16(1));
        QCOMPARE(r.u16(), quint16(32));
        const quint32 size = r.u32();
        const QByteArray image = icon(r.u16());
        QCOMPARE(quint32(image.size()), size);
        // The image's BITMAPINFOHEADER: the same size and depth, twice as
        // high for the AND mask, uncompressed.
        Reader dib{image};
        QCOMPARE(dib.u32(), 40u);
        QCOMPARE(int(dib.u32()), width);
        QCOMPARE(int(dib.u32()), 2 * width);
        QCOMPARE(dib.u16(), quint16(1));
        QCOMPARE(dib.u16(), quint16(32));
        QCOMPARE(dib.u32(), 0u);
    }
    QVERIFY(r.ok && r.at == r.bytes.size());
    QCOMPARE(sizes, (QList<int>{16, 32, 48, 64, 128}));
}

void WinResTest::iconImagesShowTheArtwork()
{
    for (int i = 0; i < 5; ++i) {
        // A one-image .ico of the group entry and its image, decoded by Qt's
        // ICO reader: the way Windows puts the two back together.
        const QByteArray entry = m_group.mid(6 + 14 * i, 14);
        const QByteArray image = icon(Reader{entry, 12}.u16());
        QVERIFY(!image.isEmpty());
        const QByteArray ico = QByteArray::fromHex("000001000100") + entry.left(12)
                               + QByteArray::fromHex("16000000") + image;
        const QImage decoded = QImage::fromData(ico, "ICO");
        const int size = quint8(entry[0]);
        QCOMPARE(decoded.size(), QSize(size, size));
        // The artwork is wider than high: corners above and below are padding.
        QCOMPARE(qAlpha(decoded.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(decoded.pixel(size - 1, size - 1)), 0);
        QCOMPARE(qAlpha(decoded.pixel(size / 2, size / 2)), 255);
        const int difference = coarseDifference(decoded, expectedIcon(size));
        QVERIFY2(difference <= 8,
                 qPrintable(QStringLiteral("%1 px differs by %2").arg(size).arg(difference)));
    }
}

void WinResTest::fixedVersionIsAllZeroForAnApplication()
{
    // VS_FIXEDFILEINFO: signature, structure version, FILEVERSION and
    // PRODUCTVERSION in two halves each, flags mask, flags, OS, type.
    QCOMPARE(m_version.key, QStringLiteral("VS_VERSION_INFO"));
    QCOMPARE(m_version.value.size(), 52);
    Reader r{m_version.value};
    QCOMPARE(r.u32(), 0xFEEF04BDu);
    r.u32();
    for (int half = 0; half < 4; ++half)
        QCOMPARE(r.u32(), 0u);
    r.at += 8;
    QCOMPARE(r.u32(), 0x40004u); // VOS_NT_WINDOWS32
    QCOMPARE(r.u32(), 1u);       // VFT_APP
}

void WinResTest::versionStrings()
{
    const auto info = m_version.children.find(QStringLiteral("StringFileInfo"));
    QVERIFY(info != m_version.children.end());
    QCOMPARE(int(info->second.children.size()), 1);
    QStringList found;
    for (const auto &entry : info->second.children.begin()->second.children)
        found << entry.first + QLatin1Char('=') + entry.second.text;
    // Every standard name is there, the ones without a value empty.
    QCOMPARE(found,
             (QStringList{"Comments=",
                          "CompanyName=",
                          "FileDescription=",
                          "FileVersion=0.0.0.0",
                          "InternalName=",
                          "LegalCopyright=",
                          "LegalTrademarks=",
                          "OriginalFilename=Olvex_Updater.exe",
                          "PrivateBuild=",
                          "ProductName=Olvex_Updater",
                          "ProductVersion=0.0.0.0",
                          "SpecialBuild="}));
}

void WinResTest::translationNamesTheStringTable()
{
    // Explorer shows the string table that the translation names by language
    // and code page: 0x0409 and 1200 (UTF-16) for "040904B0".
    VersionNode &var = m_version.children[QStringLiteral("VarFileInfo")];
    QCOMPARE(var.children[QStringLiteral("Translation")].value.toHex(), QByteArray("0904b004"));
    QVERIFY(m_version.children[QStringLiteral("StringFileInfo")].children.count(
        QStringLiteral("040904B0")));
}

QTEST_MAIN(WinResTest)
#include "tst_winres.moc"
