// olvex-cli with signed images, run in-process against simulated devices and
// signed at test time with Debian's minisign: what `image` says of a
// signature, the signed type and version choosing the devices, and every
// refusal made before the line is even opened.

#include "registry/exchange.h"
#include "registry/registry.h"

#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/signing.h"
#include "support/traffic.h"

#include "runcli.h"

#include <QDir>
#include <QJsonArray>
#include <QtTest>

namespace {

using Id = std::array<quint8, 8>;

const Id IdA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}; // VT-TALLY-8 2.8
const Id IdB = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}; // VT-TALLY-16
const Id IdC = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7}; // VT-TALLY-8 2.7

} // namespace

class CliSignedTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void imageSaysWhoSignedItAndForWhat();
    void signedTypeAndVersionChooseTheDevices();
    void refusedBeforeTheLineIsOpened_data();
    void refusedBeforeTheLineIsOpened();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Signer> m_maker;
    std::unique_ptr<ScopedKeyFolder> m_folder;
    std::unique_ptr<ScopedLineTiming> m_timing;
    QString m_keys;
};

void CliSignedTest::init()
{
    resetSharedStateForTests();
    TransactionPhase = PhaseReady;
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
    m_dir = std::make_unique<QTemporaryDir>();
    m_maker = std::make_unique<Signer>(*m_dir);
    QVERIFY2(m_maker->error().isEmpty(), qPrintable(m_maker->error()));
    m_keys = m_dir->filePath("keys");
    m_folder = std::make_unique<ScopedKeyFolder>(m_keys, QStringList{m_maker->publicKeyFile()});
    QVERIFY(m_folder->ok());
}

void CliSignedTest::cleanup()
{
    m_folder.reset();
    m_dir.reset();
    m_timing.reset();
}

void CliSignedTest::imageSaysWhoSignedItAndForWhat()
{
    const QString path = writeFile(*m_dir, "tally8.bin", firmwareImage(1000, 5));
    const Run bare = runCli({"image", path});
    QCOMPARE(bare.code, 0);
    QCOMPARE(bare.out, path + ": 1000 bytes, 6 parts\nnot signed\n");

    QVERIFY(m_maker->sign(path, "type=VT-TALLY-8 version=2.8"));
    const Run text = runCli({"image", path, "--require-signed"});
    QCOMPARE(text.code, 0);
    QCOMPARE(text.out,
             QString("%1: 1000 bytes, 6 parts\nsigned by key %2 (minisign public key %3), for "
                     "VT-TALLY-8, version 2.8\n")
                 .arg(path, m_maker->keyId(), m_maker->keyId().remove(QRegularExpression("^0+"))));
    const Run json = runCli({"image", path, "--json"});
    const QJsonObject signature = json.json()["signature"].toObject();
    QCOMPARE(signature["state"].toString(), QString("signed"));
    QCOMPARE(signature["keyId"].toString(), m_maker->keyId());
    QCOMPARE(signature["keyFile"].toString(), m_keys + "/maker.pub");
    QCOMPARE(signature["algorithm"].toString(), QString("ED"));
    QCOMPARE(signature["type"].toString(), QString("VT-TALLY-8"));
    QCOMPARE(signature["typeCode"].toInt(), 50);
    QCOMPARE(signature["version"].toString(), QString("2.8"));
    QCOMPARE(json.json()["partsTotal"].toInt(), 6);

    // A key folder others can write is no source of trust, and is said so once.
    QVERIFY(QFile::setPermissions(m_keys, QFile::permissions(m_keys) | QFile::WriteOther));
    const Run open = runCli({"image", path, "--json"});
    QCOMPARE(open.code, 2);
    QCOMPARE(
        open.err.count("olvex-cli: " + m_keys
                       + " can be written by users other than root: its keys are not trusted\n"),
        1);
    QVERIFY2(open.err.contains("image refused, signed by unknown key " + m_maker->keyId()),
             qPrintable(open.err));
    QCOMPARE(open.json()["signature"].toObject()["reason"].toString(), QString("unknown signer"));
}

// The signed type acts as --type, --skip-current leaves the device at the
// signed version alone and writes the other, byte for byte; a device named
// that is of another type, or a --type that contradicts the signature, is
// refused with nothing written.
void CliSignedTest::signedTypeAndVersionChooseTheDevices()
{
    const QByteArray image = firmwareImage(1000, 27);
    const QString path = writeFile(*m_dir, "tally8-2.8.bin", image);
    QVERIFY(m_maker->sign(path, "type=VT-TALLY-8 version=2.8", true));
    auto sim = startSimulator(
        {simDevice(IdA, 10, 2, 8), simDevice(IdB, 11, 2, 8), simDevice(IdC, 10, 2, 7)});

    const Run run = runCli(
        {"flash", port(*sim), path, "--all", "--skip-current", "--require-signed", "--json"});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.err.contains(": signed by key " + m_maker->keyId()), qPrintable(run.err));
    QVERIFY2(run.err.contains("3 devices found; updating 1 of type VT-TALLY-8 with"),
             qPrintable(run.err));
    QCOMPARE(imageOf(*sim, 2), image);
    QCOMPARE(sim->firmwareFramesReceived(0), 0);
    QCOMPARE(sim->firmwareFramesReceived(1), 0);
    QCOMPARE(run.device(0)["outcome"].toString(), QString("not selected"));
    QCOMPARE(run.device(0)["reason"].toString(), QString("already at version"));
    QCOMPARE(run.device(1)["reason"].toString(), QString("other type"));
    QCOMPARE(run.device(2)["outcome"].toString(), QString("updated"));
    QCOMPARE(run.json()["signature"].toObject()["algorithm"].toString(), QString("Ed"));

    // The table says it in words; with nothing left to write, the run ends well.
    const Run again
        = runCli({"flash", port(*sim), path, "-d", "00:1a:2b:3c:4d:5e", "--skip-current"});
    QCOMPARE(again.code, 0);
    QVERIFY2(again.err.contains("3 devices found, 1 already at 2.8: nothing to update"),
             qPrintable(again.err));
    QVERIFY2(
        again.out.contains(
            "00:1a:2b:3c:4d:5e  VT-TALLY-8  not selected  -      -        -        already at 2.8"),
        qPrintable(again.out));
    QVERIFY(again.out.endsWith(
        "0 updated, 0 failed, 0 not started, 1 not selected (already at 2.8)\n"));

    const size_t written = firmwareFrames(*sim).size();
    const Run named = runCli({"flash", port(*sim), path, "-d", "01:02:03:04:05:06"});
    QCOMPARE(named.code, 2);
    QCOMPARE(named.err.section('\n', -2, -2),
             QString("olvex-cli: the image is signed for VT-TALLY-8, but 01:02:03:04:05:06 is "
                     "VT-TALLY-16"));
    QCOMPARE(firmwareFrames(*sim).size(), written);
}

void CliSignedTest::refusedBeforeTheLineIsOpened_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("error"); // %1: the image, %2: the maker's key id, %3: the stranger's
    QTest::newRow("one byte of the image changed")
        << "changed" << QStringList{}
        << "image refused, its signature does not verify with key %2: the image or the signature "
           "was changed after signing: %1";
    QTest::newRow("an unknown signer")
        << "stranger" << QStringList{}
        << "image refused, signed by unknown key %3 (trusted public keys go in %4 as *.pub files, "
           "or come with --trusted-key FILE; an image without a signature is written "
           "unchecked): %1";
    QTest::newRow("signed for a type the tool does not know")
        << "tally32" << QStringList{}
        << "image refused, signed for device type 'VT-TALLY-32', which this tool does not know "
           "(VT-PROBE, VT-TALLY-8, VT-TALLY-16, VT-RELAY): %1";
    QTest::newRow("unsigned, but a signature required")
        << "unsigned" << QStringList{"--require-signed"}
        << "image refused, not signed (--require-signed): %1";
    QTest::newRow("--skip-current without a signed version")
        << "typeonly" << QStringList{"--skip-current"}
        << "--skip-current needs the version the image is signed with (version= in the "
           "signature's trusted comment); the image's is signed without one";
    QTest::newRow("--type against the signed type")
        << "good" << QStringList{"--type", "VT-TALLY-16"}
        << "--type VT-TALLY-16, but the image is signed for VT-TALLY-8";
    QTest::newRow("a trusted key that is the secret one")
        << "good" << QStringList{"--trusted-key", "KEYS/maker.key"}
        << "--trusted-key KEYS/maker.key is no minisign public key (a key or signature line "
           "has the wrong length)";
}

void CliSignedTest::refusedBeforeTheLineIsOpened()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, extra);
    QFETCH(QString, error);
    const QString path = writeFile(*m_dir, "image.bin", firmwareImage(2000, 8));
    QTemporaryDir other;
    Signer stranger(other, "stranger");
    QVERIFY2(stranger.error().isEmpty(), qPrintable(stranger.error()));
    if (setup == "stranger")
        QVERIFY(stranger.sign(path, "type=VT-TALLY-8"));
    else if (setup == "tally32")
        QVERIFY(m_maker->sign(path, "type=VT-TALLY-32 version=1.0"));
    else if (setup == "typeonly")
        QVERIFY(m_maker->sign(path, "type=VT-TALLY-8"));
    else if (setup != "unsigned")
        QVERIFY(m_maker->sign(path, "type=VT-TALLY-8 version=2.8"));
    if (setup == "changed")
        QVERIFY(changeByte(path, 1999));
    extra.replaceInStrings("KEYS", m_dir->path());
    auto sim = startSimulator({simDevice(IdA, 10, 2, 7)});

    const Run run = runCli(QStringList{"flash", port(*sim), path, "--all", "--json"} + extra);
    QCOMPARE(run.code, 2);
    error.replace("%1", path)
        .replace("%2", m_maker->keyId())
        .replace("%3", stranger.keyId())
        .replace("%4", m_keys)
        .replace("KEYS", m_dir->path());
    QCOMPARE(run.err, "olvex-cli: " + error + "\n");
    QCOMPARE(run.json()["error"].toString(), error);
    QVERIFY(sim->hostFrames().empty()); // the line was never opened
    QCOMPARE(firmwareFrames(*sim).size(), size_t(0));
}

QTEST_GUILESS_MAIN(CliSignedTest)
#include "tst_clisigned.moc"
