// The Windows resources of olvex-updater.exe, as a resource compiler leaves
// them: app/olvex-updater.rc compiled by MinGW's windres into a .res file
// (tests/app/CMakeLists.txt), read back here byte by byte.

#include "app/startup.h"

#include "winres.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

using namespace WinRes;

namespace {
const int IconSizes[] = {16, 32, 48, 64, 128};

// The artwork centred on a transparent square, scaled by Qt itself: what
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

// Largest difference of any premultiplied channel once both are averaged
// down to 8 x 8: small for the same picture, large for a flipped, shifted or
// colour-swapped one.
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
    void iconImagesShowTheArtwork_data();
    void iconImagesShowTheArtwork();
    void fixedVersionIsAllZeroForAnApplication();
    void versionStrings_data();
    void versionStrings();
    void stringTableHoldsExactlyTheStandardNames();
    void translationMatchesTheStringTable();

private:
    const Resource *find(const QString &type, const QString &name) const;
    std::vector<Resource> of(quint16 type) const;
    const VersionNode *stringTable() const;

    std::vector<Resource> m_resources;
    VersionNode m_version;
};

void WinResTest::initTestCase()
{
    QFile file(QStringLiteral(OLVEX_RES_FILE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QString error;
    m_resources = readResFile(file.readAll(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const Resource *version = find(idName(Version), idName(1));
    QVERIFY(version);
    QVERIFY2(readVersionNode(version->data, &m_version, &error), qPrintable(error));
}

const Resource *WinResTest::find(const QString &type, const QString &name) const
{
    for (const Resource &resource : m_resources) {
        if (resource.type == type && resource.name == name)
            return &resource;
    }
    return nullptr;
}

std::vector<Resource> WinResTest::of(quint16 type) const
{
    std::vector<Resource> found;
    std::copy_if(m_resources.begin(),
                 m_resources.end(),
                 std::back_inserter(found),
                 [type](const Resource &r) { return r.type == idName(type); });
    return found;
}

const VersionNode *WinResTest::stringTable() const
{
    const VersionNode *info = m_version.child(QStringLiteral("StringFileInfo"));
    return info ? info->child(QStringLiteral("040904B0")) : nullptr;
}

void WinResTest::holdsOneIconGroupAndOneVersionBlock()
{
    QCOMPARE(int(m_resources.size()), 1 + 5 + 1);
    QCOMPARE(int(of(GroupIcon).size()), 1);
    // Qt's own name for an application's icon group.
    QCOMPARE(of(GroupIcon).front().name, QStringLiteral("IDI_ICON1"));
    QCOMPARE(int(of(Icon).size()), 5);
    QCOMPARE(int(of(Version).size()), 1);
    for (const Resource &resource : m_resources)
        QCOMPARE(resource.language, quint16(0x0409));
}

void WinResTest::iconGroupHasFiveSizesAt32Bits()
{
    std::vector<IconGroupEntry> entries;
    QString error;
    QVERIFY2(readIconGroup(of(GroupIcon).front().data, &entries, &error), qPrintable(error));

    QList<int> sizes;
    for (const IconGroupEntry &entry : entries) {
        sizes << entry.width;
        QCOMPARE(entry.height, entry.width);
        QCOMPARE(entry.bitCount, 32);
        QCOMPARE(entry.planes, 1);
        QCOMPARE(entry.colourCount, 0);

        // The image itself: a BITMAPINFOHEADER of the same size and depth,
        // twice as high for the AND mask, uncompressed, then the pixels and
        // the mask.
        const Resource *image = find(idName(Icon), idName(entry.iconId));
        QVERIFY(image);
        QCOMPARE(quint32(image->data.size()), entry.bytesInRes);
        const QByteArray &dib = image->data;
        QCOMPARE(u32(dib, 0), 40u);
        QCOMPARE(int(u32(dib, 4)), entry.width);
        QCOMPARE(int(u32(dib, 8)), 2 * entry.height);
        QCOMPARE(u16(dib, 14), quint16(32));
        QCOMPARE(u32(dib, 16), 0u);
        const int maskStride = (entry.width + 31) / 32 * 4;
        QCOMPARE(dib.size(), 40 + entry.width * entry.height * 4 + maskStride * entry.height);
    }
    QCOMPARE(sizes, (QList<int>{16, 32, 48, 64, 128}));
}

void WinResTest::iconImagesShowTheArtwork_data()
{
    QTest::addColumn<int>("size");
    for (int size : IconSizes)
        QTest::addRow("%dx%d", size, size) << size;
}

void WinResTest::iconImagesShowTheArtwork()
{
    QFETCH(int, size);
    std::vector<IconGroupEntry> entries;
    QString error;
    QVERIFY2(readIconGroup(of(GroupIcon).front().data, &entries, &error), qPrintable(error));
    const auto entry = std::find_if(
        entries.begin(), entries.end(), [size](const auto &e) { return e.width == size; });
    QVERIFY(entry != entries.end());
    const Resource *image = find(idName(Icon), idName(entry->iconId));
    QVERIFY(image);

    // Decoded by Qt's ICO reader, the way Windows puts group entry and image
    // back together.
    const QImage icon = QImage::fromData(singleImageIco(*entry, image->data), "ICO");
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    // The artwork is wider than high: the corners above and below are padding.
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(size - 1, size - 1)), 0);
    QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);

    const int difference = coarseDifference(icon, expectedIcon(size));
    QVERIFY2(difference <= 8, qPrintable(QStringLiteral("differs by %1").arg(difference)));
}

void WinResTest::fixedVersionIsAllZeroForAnApplication()
{
    QCOMPARE(m_version.key, QStringLiteral("VS_VERSION_INFO"));
    QCOMPARE(m_version.type, quint16(0));
    const QByteArray &fixed = m_version.value;
    QCOMPARE(fixed.size(), 52);
    QCOMPARE(u32(fixed, 0), 0xFEEF04BDu); // signature
    QCOMPARE(u32(fixed, 8), 0u);          // FILEVERSION, high and low halves
    QCOMPARE(u32(fixed, 12), 0u);
    QCOMPARE(u32(fixed, 16), 0u); // PRODUCTVERSION
    QCOMPARE(u32(fixed, 20), 0u);
    QCOMPARE(u32(fixed, 32), 0x40004u); // VOS_NT_WINDOWS32
    QCOMPARE(u32(fixed, 36), 1u);       // VFT_APP
}

void WinResTest::versionStrings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("ProductName") << "ProductName"
                                 << "Olvex_Updater";
    QTest::newRow("OriginalFilename") << "OriginalFilename"
                                      << "Olvex_Updater.exe";
    QTest::newRow("FileVersion") << "FileVersion"
                                 << "0.0.0.0";
    QTest::newRow("ProductVersion") << "ProductVersion"
                                    << "0.0.0.0";
    for (const char *empty : {"Comments",
                              "CompanyName",
                              "FileDescription",
                              "InternalName",
                              "LegalCopyright",
                              "LegalTrademarks",
                              "PrivateBuild",
                              "SpecialBuild"}) {
        QTest::newRow(empty) << empty << "";
    }
}

void WinResTest::versionStrings()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    const VersionNode *table = stringTable();
    QVERIFY(table);
    const VersionNode *entry = table->child(name);
    QVERIFY2(entry, qPrintable(name + " is missing"));
    QCOMPARE(entry->type, quint16(1));
    QCOMPARE(entry->text(), value);
}

void WinResTest::stringTableHoldsExactlyTheStandardNames()
{
    const VersionNode *table = stringTable();
    QVERIFY(table);
    QStringList names;
    for (const VersionNode &entry : table->children)
        names << entry.key;
    names.sort();
    QCOMPARE(names,
             (QStringList{"Comments",
                          "CompanyName",
                          "FileDescription",
                          "FileVersion",
                          "InternalName",
                          "LegalCopyright",
                          "LegalTrademarks",
                          "OriginalFilename",
                          "PrivateBuild",
                          "ProductName",
                          "ProductVersion",
                          "SpecialBuild"}));
    QCOMPARE(int(m_version.child(QStringLiteral("StringFileInfo"))->children.size()), 1);
}

void WinResTest::translationMatchesTheStringTable()
{
    // Explorer shows the string table that the translation names by language
    // and code page: 0x0409, 1200 (UTF-16) for "040904B0".
    const VersionNode *varInfo = m_version.child(QStringLiteral("VarFileInfo"));
    QVERIFY(varInfo);
    const VersionNode *translation = varInfo->child(QStringLiteral("Translation"));
    QVERIFY(translation);
    QCOMPARE(translation->value.size(), 4);
    const QString tableName = QStringLiteral("%1%2")
                                  .arg(u16(translation->value, 0), 4, 16, QLatin1Char('0'))
                                  .arg(u16(translation->value, 2), 4, 16, QLatin1Char('0'))
                                  .toUpper();
    QCOMPARE(tableName, QStringLiteral("040904B0"));
    QVERIFY(m_version.child(QStringLiteral("StringFileInfo"))->child(tableName));
}

QTEST_MAIN(WinResTest)
#include "tst_winres.moc"
