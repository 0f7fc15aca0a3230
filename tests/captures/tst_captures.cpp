// The captures of this folder replayed against this build: each line is
// played by olvex-devsim --replay, olvex-cli does what the capture's .json
// says, and everything must end as it did when the capture was taken: the
// host sends exactly what the capture shows, the devices, versions and
// outcomes are the same, and the image the capture carries is the image.
// A host whose answer handling is broken is caught at the record where it
// goes astray.

#include "devsim/replay.h"
#include "protocol/handle.h"
#include "registry/registry.h"
#include "serial/jobs.h"
#include "serial/pcapng.h"
#include "serial/serialthread.h"

#include "support/traffic.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString Folder = QStringLiteral(OLVEX_CAPTURES_DIR);

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Run
{
    QString name;
    QJsonObject expected;
    std::unique_ptr<QProcess> line;
    std::unique_ptr<QProcess> host;
};

} // namespace

class CapturesTest : public QObject
{
    Q_OBJECT
private slots:
    void everyCaptureReplaysAsItWasTaken();
    void brokenAnswerHandlingIsCaughtAtItsRecord();

private:
    QTemporaryDir m_dir;
};

// All at once: each capture plays in real time, and they do not meet.
void CapturesTest::everyCaptureReplaysAsItWasTaken()
{
    std::vector<Run> runs;
    const QStringList manifests = QDir(Folder).entryList({QStringLiteral("*.json")}, QDir::Files);
    QVERIFY2(manifests.size() >= 6, qPrintable(Folder));
    for (const QString &manifest : manifests) {
        Run run;
        run.name = manifest.chopped(5);
        run.expected = QJsonDocument::fromJson(contentsOf(Folder + "/" + manifest)).object();
        const QString line = m_dir.filePath(run.name);
        run.line = std::make_unique<QProcess>();
        run.line->start(QStringLiteral(OLVEX_DEVSIM),
                        {"--replay", Folder + "/" + run.name + ".pcapng", "--link", line});
        QVERIFY(run.line->waitForReadyRead(5000));
        QStringList arguments{run.expected["command"].toString(), line};
        if (arguments[0] == "flash")
            arguments << Folder + "/" + run.expected["image"].toString("image.bin") << "--all";
        run.host = std::make_unique<QProcess>();
        run.host->start(QStringLiteral(OLVEX_CLI), arguments << "--json");
        runs.push_back(std::move(run));
    }
    for (Run &run : runs) {
        QVERIFY2(run.host->waitForFinished(120000), qPrintable(run.name));
        run.line->terminate();
        QVERIFY(run.line->waitForFinished(5000));
        const QString replayed = QString::fromUtf8(run.line->readAll() + run.line->readAllStandardError());
        QVERIFY2(run.line->exitCode() == 0 && replayed.contains("replay: played"),
                 qPrintable(run.name + ": " + replayed));

        const QJsonObject got = QJsonDocument::fromJson(run.host->readAllStandardOutput()).object();
        QVERIFY2(got["exitCode"] == run.expected["exitCode"],
                 qPrintable(run.name + ": " + run.host->readAllStandardError()));
        const QJsonArray devices = got["devices"].toArray();
        const QJsonArray wanted = run.expected["devices"].toArray();
        QCOMPARE(devices.size(), wanted.size());
        for (const QJsonValue &want : wanted) {
            const auto found = std::find_if(devices.begin(), devices.end(), [&](const QJsonValue &d) {
                return d["address"] == want["address"];
            });
            QVERIFY2(found != devices.end(), qPrintable(run.name + ": " + want["address"].toString()));
            for (const QString &key : want.toObject().keys())
                QVERIFY2((*found)[key] == want[key],
                         qPrintable(run.name + " " + want["address"].toString() + " " + key));
        }
        if (run.expected["command"] != "flash")
            continue;
        const auto images = imagesCarried(Pcapng::read(contentsOf(Folder + "/" + run.name + ".pcapng")));
        QCOMPARE(images.size(), size_t(wanted.size()));
        const QByteArray image = contentsOf(Folder + "/" + run.expected["image"].toString("image.bin"));
        for (const auto &carried : images)
            QVERIFY2(carried.second == image, carried.first.constData());
    }
}

// A host that takes no search answer goes astray where the capture shows it
// confirming the first device: the replay says which record, and stops.
void CapturesTest::brokenAnswerHandlingIsCaughtAtItsRecord()
{
    const Pcapng::Capture capture = Pcapng::read(contentsOf(Folder + "/echo.pcapng"));
    QVERIFY(capture.problem.isEmpty());
    int confirmation = 0;
    for (const Pcapng::Record &record : capture.records) {
        if (record.direction == Pcapng::Direction::Sent && !record.bytes.startsWith(QByteArray(8, '\xff'))) {
            confirmation = record.number;
            break;
        }
    }
    QVERIFY(confirmation > 0);

    DevSim::Replay replay(capture);
    QVERIFY(replay.openPty());
    replay.start();
    TestSeam::breakAnswerHandling(true);
    {
        SerialThread worker;
        LineJobs::startSearch(worker, QString::fromStdString(replay.path()));
        QTRY_VERIFY_WITH_TIMEOUT(replay.outcome().ended, 10000);
    }
    TestSeam::breakAnswerHandling(false);
    const QString said = QString::fromStdString(replay.outcome().text);
    QVERIFY2(said.startsWith(QStringLiteral("record %1, byte 1:").arg(confirmation)), qPrintable(said));
}

QTEST_GUILESS_MAIN(CapturesTest)
#include "tst_captures.moc"
