// What an update pass refuses before anything goes on the line, on the line
// core alone: images the transfer could not carry to their end, files that
// are no image at all, and ticked devices of more than one type.

#include "protocol/image.h"
#include "protocol/regularfile.h"
#include "protocol/typerule.h"

#include "support/fixtures.h"
#include "support/nonregularfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

using ImageFile::Problem;
Q_DECLARE_METATYPE(Problem)

class RefusalsTest : public QObject
{
    Q_OBJECT
private slots:
    void imagesAreTakenOrRefusedBySize_data();
    void imagesAreTakenOrRefusedBySize();
    void onlyARegularFileIsRead_data();
    void onlyARegularFileIsRead();
    void onlyARegularFileOpens_data();
    void onlyARegularFileOpens();
    void imageIsReadWholeWhateverItsPathLooksLike();
    void ticksOfMoreThanOneTypeConflict_data();
    void ticksOfMoreThanOneTypeConflict();

private:
    QTemporaryDir m_dir;
};

void RefusalsTest::imagesAreTakenOrRefusedBySize_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<int>("parts");
    QTest::newRow("empty") << qint64(0) << Problem::Empty << 0;
    QTest::newRow("one byte") << qint64(1) << Problem::TooSmall << 1;
    QTest::newRow("two full parts") << qint64(394) << Problem::TooSmall << 2;
    QTest::newRow("two parts and a byte") << qint64(395) << Problem::None << 3;
    QTest::newRow("1000 bytes") << qint64(1000) << Problem::None << 6;
    QTest::newRow("65535 full parts") << qint64(65535) * 197 << Problem::None << 65535;
    QTest::newRow("a byte beyond") << qint64(65535) * 197 + 1 << Problem::TooLarge << 65536;
    QTest::newRow("four gigabytes") << (qint64(4) << 30) << Problem::TooLarge << 0;
}

void RefusalsTest::imagesAreTakenOrRefusedBySize()
{
    QFETCH(qint64, size);
    QFETCH(Problem, problem);
    QFETCH(int, parts);
    const QString path = m_dir.filePath(QStringLiteral("image-%1.bin").arg(size));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size)); // sparse: nothing is written
    }
    QElapsedTimer clock;
    clock.start();
    const ImageFile::Loaded loaded = ImageFile::load(path);
    QCOMPARE(loaded.problem, problem);
    QCOMPARE(bool(loaded.image), problem == Problem::None);
    if (loaded.image)
        QCOMPARE(qint64(loaded.image->bytes.size()), size);
    else // refused by its size before a byte is read
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    if (size <= 0xFFFFFFFF && parts > 0)
        QCOMPARE(ImageFile::partsFor(quint32(size)), quint32(parts));
    QFile::remove(path);
}

void RefusalsTest::onlyARegularFileIsRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Problem>("problem");
    QTest::newRow("no such file") << "missing" << Problem::Missing;
    QTest::newRow("empty path") << "empty" << Problem::Missing;
    QTest::newRow("a folder") << "folder" << Problem::Unreadable;
#ifdef Q_OS_UNIX // Windows' own names are below; its links are shortcut files
    QTest::newRow("a FIFO nobody writes") << "pipe" << Problem::Unreadable;
    QTest::newRow("a link to a FIFO") << "pipe link" << Problem::Unreadable;
    QTest::newRow("a character device") << "/dev/zero" << Problem::Unreadable;
    QTest::newRow("a link to an image") << "image link" << Problem::None;
#endif
}

void RefusalsTest::onlyARegularFileIsRead()
{
    QFETCH(QString, kind);
    QFETCH(Problem, problem);
    const SilentPipe pipe(m_dir);
    QVERIFY(pipe.ok());
    const QString image = writeFile(m_dir, "image.bin", firmwareImage(1000));
    QString path = kind; // a device's name
    if (kind == "missing") {
        path = m_dir.filePath("no-such.bin");
    } else if (kind == "empty") {
        path.clear();
    } else if (kind == "folder") {
        path = m_dir.filePath("folder");
        QVERIFY(QDir(m_dir.path()).mkpath("folder"));
    } else if (kind == "pipe") {
        path = pipe.path();
    } else if (kind == "pipe link" || kind == "image link") {
        path = m_dir.filePath(kind.left(kind.indexOf(' ')) + ".link");
        QFile::remove(path);
        QVERIFY(QFile::link(kind == "pipe link" ? pipe.path() : image, path));
    }
    QElapsedTimer clock;
    clock.start();
    const ImageFile::Loaded loaded = ImageFile::load(path);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(loaded.problem, problem);
    if (problem == Problem::None)
        QCOMPARE(loaded.image->bytes, firmwareImage(1000));
}

// What opens as an image, on the platform's own names for things that are no
// file: a pipe, and devices that would read without end or wait.
void RefusalsTest::onlyARegularFileOpens_data()
{
    QTest::addColumn<QString>("path"); // "pipe", "image" or a device's name
    QTest::addColumn<bool>("opens");
    QTest::newRow("an image") << "image" << true;
    QTest::newRow("a pipe nobody writes") << "pipe" << false;
    for (const DeviceName &device : deviceNames())
        QTest::newRow(device.what) << device.path << false;
}

void RefusalsTest::onlyARegularFileOpens()
{
    QFETCH(QString, path);
    QFETCH(bool, opens);
    const SilentPipe pipe(m_dir);
    QVERIFY(pipe.ok());
    if (path == "pipe")
        path = pipe.path();
    else if (path == "image")
        path = writeFile(m_dir, "image.bin", firmwareImage(1000));
    QElapsedTimer clock;
    clock.start();
    QFile file;
    QCOMPARE(openRegularFile(file, path), opens);
    QCOMPARE(file.isOpen(), opens);
    if (opens)
        QCOMPARE(file.readAll(), firmwareImage(1000));
    else // as naming no file, or as one that cannot be read
        QVERIFY(ImageFile::load(path).problem != Problem::None);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

// Spaces, Cyrillic letters, either kind of slash and a file nobody may
// write: what a technician's download folder holds.
void RefusalsTest::imageIsReadWholeWhateverItsPathLooksLike()
{
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Рабочий стол")));
    const QString path
        = writeFile(m_dir, QStringLiteral("Рабочий стол/прошивка 2.8.bin"), firmwareImage(4000, 9));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    QVERIFY(!(QFile::permissions(path) & QFileDevice::WriteOwner));
    for (const QString &spelling : {path, QDir::toNativeSeparators(path)}) {
        const ImageFile::Loaded loaded = ImageFile::load(spelling);
        QCOMPARE(loaded.problem, Problem::None);
        QCOMPARE(loaded.image->bytes, firmwareImage(4000, 9));
    }
}

void RefusalsTest::ticksOfMoreThanOneTypeConflict_data()
{
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<int>("first"); // -1: no conflict
    QTest::addColumn<int>("other");
    QTest::newRow("one type") << QList<int>{50, 50} << QList<int>{1, 1} << -1 << -1;
    QTest::newRow("unknown before a known type")
        << QList<int>{0, 0, 60, 60} << QList<int>{1, 1, 1, 1} << -1 << -1;
    QTest::newRow("unknown after a known type") << QList<int>{60, 0} << QList<int>{1, 1} << 0 << 1;
    QTest::newRow("the second known type names the conflict")
        << QList<int>{0, 10, 10, 50, 60} << QList<int>{1, 1, 1, 1, 1} << 1 << 3;
    QTest::newRow("other type unticked")
        << QList<int>{10, 50, 10} << QList<int>{1, 0, 1} << -1 << -1;
    QTest::newRow("ticked is 1, nothing else")
        << QList<int>{10, 50, 10} << QList<int>{1, 2, 1} << -1 << -1;
    QTest::newRow("only unknown") << QList<int>{0, 0} << QList<int>{1, 1} << -1 << -1;
    QTest::newRow("none ticked") << QList<int>{10, 50} << QList<int>{0, 0} << -1 << -1;
}

void RefusalsTest::ticksOfMoreThanOneTypeConflict()
{
    QFETCH(QList<int>, types);
    QFETCH(QList<int>, ticked);
    QFETCH(int, first);
    QFETCH(int, other);
    std::vector<DeviceRecord> devices;
    for (int i = 0; i < types.size(); ++i)
        devices.push_back(
            deviceRecord(deviceId(1, 2, 3, 4, 5, quint8(i), 0, 0), types[i], 1, 0, ticked[i]));
    const std::optional<TypeRule::Conflict> conflict = TypeRule::findConflict(devices);
    QCOMPARE(conflict.has_value(), first >= 0);
    if (conflict) {
        QCOMPARE(conflict->first, first);
        QCOMPARE(conflict->other, other);
    }
}

QTEST_GUILESS_MAIN(RefusalsTest)
#include "tst_refusals.moc"
