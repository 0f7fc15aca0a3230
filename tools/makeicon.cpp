// olvex-makeicon: the platform icons, drawn from the application's artwork
// (app/icons/ruvo_olvex.png, 35 x 32). At each size the artwork is scaled to
// the square's side and centred on it, the rest transparent, so the Windows
// .ico and the Linux icon theme show the same picture.
//
//   olvex-makeicon ARTWORK --ico FILE         writes the Windows icon
//   olvex-makeicon ARTWORK --check-ico FILE   fails if FILE differs from what --ico writes
//   olvex-makeicon ARTWORK --png-dir DIR --name NAME --sizes N,N,...
//                                             writes DIR/NxN/apps/NAME.png for each size
//
// The .ico's sizes are fixed here; the icon theme's come from the build
// (packaging/CMakeLists.txt), which also installs them.
//
// The scaling is integer arithmetic only, so the same artwork gives the same
// bytes with any compiler, flags or Qt version; --check-ico relies on that.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int IcoSizes[] = {16, 32, 48, 64, 128};
constexpr int MaxPngSize = 1024;

qint64 overlap(qint64 a0, qint64 a1, qint64 b0, qint64 b1)
{
    return std::max<qint64>(0, std::min(a1, b1) - std::max(a0, b0));
}

// The artwork centred on a square canvas as wide as its longer side, that
// canvas averaged down (or up) to size x size. Lengths are counted in units of
// 1/(2 * size) of an artwork pixel, which makes every boundary, the half-pixel
// centring included, a whole number.
QImage squareIcon(const QImage &artwork, int size)
{
    const QImage src = artwork.convertToFormat(QImage::Format_ARGB32);
    const int w = src.width();
    const int h = src.height();
    const int side = std::max(w, h);
    const qint64 cell = 2 * side;  // one icon pixel
    const qint64 texel = 2 * size; // one artwork pixel
    const qint64 left = qint64(side - w) * size;
    const qint64 top = qint64(side - h) * size;
    const qint64 area = cell * cell;

    QImage out(size, size, QImage::Format_ARGB32);
    for (int ty = 0; ty < size; ++ty) {
        const qint64 y0 = ty * cell;
        const qint64 y1 = y0 + cell;
        for (int tx = 0; tx < size; ++tx) {
            const qint64 x0 = tx * cell;
            const qint64 x1 = x0 + cell;
            qint64 sumA = 0, sumR = 0, sumG = 0, sumB = 0;
            for (int sy = 0; sy < h; ++sy) {
                const qint64 oy = overlap(y0, y1, top + sy * texel, top + (sy + 1) * texel);
                if (oy == 0)
                    continue;
                const QRgb *line = reinterpret_cast<const QRgb *>(src.constScanLine(sy));
                for (int sx = 0; sx < w; ++sx) {
                    const qint64 ox = overlap(x0, x1, left + sx * texel, left + (sx + 1) * texel);
                    if (ox == 0)
                        continue;
                    // Colours weigh by their alpha, so transparent pixels
                    // do not darken the edges.
                    const qint64 weight = ox * oy * qAlpha(line[sx]);
                    sumA += weight;
                    sumR += weight * qRed(line[sx]);
                    sumG += weight * qGreen(line[sx]);
                    sumB += weight * qBlue(line[sx]);
                }
            }
            const auto colour = [sumA](qint64 sum) {
                return sumA == 0 ? 0 : int((sum + sumA / 2) / sumA);
            };
            out.setPixel(
                tx,
                ty,
                qRgba(colour(sumR), colour(sumG), colour(sumB), int((sumA + area / 2) / area)));
        }
    }
    return out;
}

void put16(QByteArray *out, quint16 value)
{
    out->append(char(value & 0xff));
    out->append(char(value >> 8));
}

void put32(QByteArray *out, quint32 value)
{
    put16(out, quint16(value & 0xffff));
    put16(out, quint16(value >> 16));
}

// One icon image as Windows keeps it: a BITMAPINFOHEADER, 32-bit BGRA rows
// bottom-up, then the 1-bit AND mask (set where fully transparent) for old
// readers. The header's height counts both, hence twice the side.
QByteArray dibImage(const QImage &icon)
{
    const int side = icon.width();
    const int maskStride = (side + 31) / 32 * 4;
    QByteArray out;
    put32(&out, 40);       // biSize
    put32(&out, side);     // biWidth
    put32(&out, 2 * side); // biHeight
    put16(&out, 1);        // biPlanes
    put16(&out, 32);       // biBitCount
    put32(&out, 0);        // biCompression: BI_RGB
    put32(&out, quint32(side * side * 4 + maskStride * side));
    put32(&out, 0); // biXPelsPerMeter
    put32(&out, 0); // biYPelsPerMeter
    put32(&out, 0); // biClrUsed
    put32(&out, 0); // biClrImportant
    for (int y = side - 1; y >= 0; --y) {
        for (int x = 0; x < side; ++x) {
            const QRgb pixel = icon.pixel(x, y);
            out.append(char(qBlue(pixel)));
            out.append(char(qGreen(pixel)));
            out.append(char(qRed(pixel)));
            out.append(char(qAlpha(pixel)));
        }
    }
    for (int y = side - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < side; ++x) {
            if (qAlpha(icon.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

// ICONDIR, one ICONDIRENTRY per image, then the images.
QByteArray icoFile(const std::vector<QImage> &icons)
{
    std::vector<QByteArray> images;
    for (const QImage &icon : icons)
        images.push_back(dibImage(icon));

    QByteArray out;
    put16(&out, 0); // reserved
    put16(&out, 1); // type: icon
    put16(&out, quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int side = icons[i].width();
        out.append(char(side < 256 ? side : 0)); // width, 0 meaning 256
        out.append(char(side < 256 ? side : 0)); // height
        out.append('\0');                        // colours in a palette: none
        out.append('\0');                        // reserved
        put16(&out, 1);                          // planes
        put16(&out, 32);                         // bits per pixel
        put32(&out, quint32(images[i].size()));
        put32(&out, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray &image : images)
        out.append(image);
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "olvex-makeicon: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}
// The sides --sizes lists; false, with the message said, when one is no side.
bool parseSizes(const QString &list, std::vector<int> *sizes)
{
    for (const QString &field : list.split(QLatin1Char(','))) {
        bool ok = false;
        const int size = field.toInt(&ok);
        if (!ok || size < 1 || size > MaxPngSize) {
            std::fprintf(stderr,
                         "olvex-makeicon: --sizes: '%s' is not a side from 1 to %d\n",
                         qPrintable(field),
                         MaxPngSize);
            return false;
        }
        sizes->push_back(size);
    }
    return true;
}

// The file must hold exactly what --ico writes from the artwork.
bool checkIcoFile(const QString &path, const QByteArray &icoBytes, const QString &artworkPath)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.readAll() == icoBytes)
        return true;
    std::fprintf(stderr,
                 "olvex-makeicon: %s is not what %s gives; remake it with "
                 "scripts/make-icon.sh\n",
                 qPrintable(path),
                 qPrintable(artworkPath));
    return false;
}

// The icon theme's PNGs: folder/NxN/apps/name.png for each side.
bool writePngs(const QImage &artwork,
               const std::vector<int> &sizes,
               const QString &folder,
               const QString &name)
{
    for (int size : sizes) {
        const QImage icon = squareIcon(artwork, size);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(dir) || !icon.save(path, "PNG")) {
            std::fprintf(stderr, "olvex-makeicon: cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Platform icons of Olvex Updater, drawn from its artwork."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("artwork"), QStringLiteral("The artwork (PNG)."));
    const QCommandLineOption ico(
        QStringLiteral("ico"), QStringLiteral("Write the Windows icon."), QStringLiteral("file"));
    const QCommandLineOption checkIco(QStringLiteral("check-ico"),
                                      QStringLiteral("Fail if the file is not what --ico writes."),
                                      QStringLiteral("file"));
    const QCommandLineOption pngDir(
        QStringLiteral("png-dir"),
        QStringLiteral("Write the icon theme's PNGs under this folder."),
        QStringLiteral("folder"));
    const QCommandLineOption name(
        QStringLiteral("name"), QStringLiteral("Icon name of the PNGs."), QStringLiteral("name"));
    const QCommandLineOption sizes(QStringLiteral("sizes"),
                                   QStringLiteral("Sides of the PNGs in pixels, comma-separated."),
                                   QStringLiteral("list"));
    parser.addOptions({ico, checkIco, pngDir, name, sizes});
    parser.process(app);

    if (parser.positionalArguments().size() != 1
        || !(parser.isSet(ico) || parser.isSet(checkIco) || parser.isSet(pngDir))
        || parser.isSet(pngDir) != parser.isSet(name)
        || parser.isSet(pngDir) != parser.isSet(sizes)) {
        parser.showHelp(2);
    }
    std::vector<int> pngSizes;
    if (parser.isSet(sizes) && !parseSizes(parser.value(sizes), &pngSizes))
        return 2;
    const QString artworkPath = parser.positionalArguments().constFirst();
    const QImage artwork(artworkPath);
    if (artwork.isNull()) {
        std::fprintf(stderr, "olvex-makeicon: cannot read %s\n", qPrintable(artworkPath));
        return 1;
    }

    std::vector<QImage> icons;
    for (int size : IcoSizes)
        icons.push_back(squareIcon(artwork, size));
    const QByteArray icoBytes = icoFile(icons);
    if (parser.isSet(ico) && !writeFile(parser.value(ico), icoBytes))
        return 1;
    if (parser.isSet(checkIco) && !checkIcoFile(parser.value(checkIco), icoBytes, artworkPath))
        return 1;
    if (parser.isSet(pngDir)
        && !writePngs(artwork, pngSizes, parser.value(pngDir), parser.value(name)))
        return 1;
    return 0;
}
