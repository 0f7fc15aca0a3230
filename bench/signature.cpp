// What checking a signed image costs, against the update it guards.

#include "bench/signature.h"

#include "bench/floor.h"
#include "protocol/crypto.h"
#include "protocol/frame.h"
#include "protocol/image.h"
#include "serial/timing.h"

#include "support/signing.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Bench {

namespace {

constexpr int Rounds = 7;

// What a 9600-baud line allows an update of `bytes` to one device: the start
// pause, then every firmware frame and its acknowledgement on the wire.
double updateFloorMs(qint64 bytes)
{
    const quint32 parts = ImageFile::partsFor(quint32(bytes));
    const qint64 last = bytes - qint64(parts - 1) * Cpd::PartSize;
    const size_t ack = Cpd::MinFrameSize + Cpd::AckPayload;
    const size_t full = Cpd::FirmwareHeaderSize + Cpd::PartSize + 1;
    const double wire = (parts - 1) * (wireMs(full) + wireMs(ack))
                        + wireMs(size_t(Cpd::FirmwareHeaderSize + last + 1)) + wireMs(ack);
    return LineTiming{}.startPause + wire;
}

// The median time of loading the image as the front ends do, in ms.
double medianLoadMs(const QString &path, const ImageFile::Trust &trust, bool expectSigned)
{
    std::vector<double> times;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        const ImageFile::Loaded loaded = ImageFile::load(path, trust);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        const bool isSigned = loaded.signature.state == ImageSignature::State::Signed;
        if (!loaded.image || isSigned != expectSigned)
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int benchSignature()
{
    std::printf("== signature: checking a signed image, against the update's floor at %d baud\n",
                Baud);
    QTemporaryDir dir;
    Signer signer(dir);
    if (!signer.error().isEmpty()) {
        std::printf("%s\n", qPrintable(signer.error()));
        return 1;
    }
    const ImageFile::Trust trust{{}, {signer.publicKeyFile()}};
    int failures = 0;
    // minisign's default for both sizes; the whole file signed (minisign -l)
    // for the largest image that can be checked so.
    const struct
    {
        qint64 bytes;
        bool whole;
    } cases[] = {{64 * 1024, false}, {ImageFile::MaxBytes, false}, {Crypto::MaxMessageSize, true}};
    for (const auto &c : cases) {
        const QString image = writeImage(dir, int(c.bytes));
        const double plainMs = medianLoadMs(image, trust, false);
        if (!signer.sign(image, QStringLiteral("type=VT-TALLY-8 version=2.8"), c.whole)) {
            std::printf("%s\n", qPrintable(signer.error()));
            return 1;
        }
        const double signedMs = medianLoadMs(image, trust, true);
        QFile::remove(ImageFile::signatureBeside(image));
        if (plainMs < 0 || signedMs < 0) {
            std::printf("%lld bytes: not loaded as expected\n", c.bytes);
            ++failures;
            continue;
        }
        const double floorMs = updateFloorMs(c.bytes);
        const double checkMs = std::max(0.0, signedMs - plainMs);
        std::printf("%9lld bytes, %s: load %.2f ms unsigned, %.2f ms signed: check %.2f ms; "
                    "update floor %.0f s; check %.5f %% of it\n",
                    c.bytes,
                    c.whole ? "Ed (whole file)  " : "ED (BLAKE2b-512) ",
                    plainMs,
                    signedMs,
                    checkMs,
                    floorMs / 1000,
                    100.0 * checkMs / floorMs);
    }
    return failures;
}

} // namespace Bench
