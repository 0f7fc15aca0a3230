// A batch of devices on a simulated line as the technician watches it: the
// row being written comes into view however long the list, and the whole
// batch's progress goes to the desktop's launcher entry. Run on a session
// bus of its own (dbus-run-session), which dbus-monitor watches.

#include "app/identity.h"
#include "registry/registry.h"
#include "ui/columns.h"
#include "ui/startup.h"

#include "devsim/simulator.h"
#include "support/fixtures.h"
#include "support/linerig.h"
#include "support/operator.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>

namespace {

const QString Interface = QStringLiteral("com.canonical.Unity.LauncherEntry");

bool inView(const QTableWidget *table, int row)
{
    const QRect cell = table->visualItemRect(table->item(row, StatusColumn));
    return table->viewport()->rect().contains(cell);
}

// One Update signal as dbus-monitor printed it.
struct LauncherUpdate
{
    QString uri;
    double progress = -1;
    bool visible = false;
    bool urgent = false;
};

QList<LauncherUpdate> launcherUpdates(const QString &monitored)
{
    static const QRegularExpression uri(QStringLiteral("string \"(application://[^\"]*)\""));
    auto value = [](const QString &block, const QString &key) {
        const QRegularExpression entry(
            QStringLiteral("string \"%1\"\\s+variant\\s+\\w+ (\\S+)").arg(key));
        return entry.match(block).captured(1);
    };
    QList<LauncherUpdate> updates;
    for (const QString &block : monitored.split(QStringLiteral("\nsignal "))) {
        if (!block.contains(QStringLiteral("member=Update")) || !block.contains(Interface))
            continue;
        LauncherUpdate update;
        update.uri = uri.match(block).captured(1);
        update.progress = value(block, QStringLiteral("progress")).toDouble();
        update.visible = value(block, QStringLiteral("progress-visible")) == QLatin1String("true");
        update.urgent = value(block, QStringLiteral("urgent")) == QLatin1String("true");
        updates << update;
    }
    return updates;
}

QString describe(const QList<LauncherUpdate> &updates)
{
    QStringList lines;
    for (const LauncherUpdate &u : updates)
        lines << QString("%1 %2 visible=%3 urgent=%4")
                     .arg(u.uri)
                     .arg(u.progress)
                     .arg(u.visible)
                     .arg(u.urgent);
    return lines.join('\n');
}

// dbus-monitor on the session bus, watching the launcher entry's signals;
// started once it prints what this process sends.
bool startMonitor(QProcess &monitor)
{
    monitor.start(QStringLiteral(OLVEX_DBUS_MONITOR),
                  {QStringLiteral("--session"),
                   QStringLiteral("type='signal',interface='%1'").arg(Interface)});
    if (!monitor.waitForStarted())
        return false;
    QDBusMessage probe
        = QDBusMessage::createSignal(QStringLiteral("/probe"), Interface, QStringLiteral("Update"));
    probe << QStringLiteral("application://probe.desktop") << QVariantMap();
    return QTest::qWaitFor(
        [&] {
            QDBusConnection::sessionBus().send(probe);
            return monitor.peek(1 << 20).contains("probe.desktop");
        },
        10000);
}

} // namespace

class BatchTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void rowBeingWrittenComesIntoViewAsItsTurnBegins();
    void launcherEntryFollowsTheBatch();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedLineTiming> m_timing;
};

void BatchTest::initTestCase()
{
    Identity::applyToWindow(*qApp);
    QVERIFY2(QDBusConnection::sessionBus().isConnected(),
             "no session bus: run under dbus-run-session");
}

void BatchTest::init()
{
    resetSharedStateForTests();
    m_timing = std::make_unique<ScopedLineTiming>(quickTiming());
}

void BatchTest::cleanup()
{
    m_timing.reset();
}

void BatchTest::rowBeingWrittenComesIntoViewAsItsTurnBegins()
{
    // Paced like the real line: a device's 16 parts take some four seconds.
    DevSim::Options paced;
    paced.baud = 9600;
    DevSim::Simulator sim(crowd(16), paced);
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    op.path->setText(writeFile(m_dir, "fw.bin", firmwareImage(3000, 33)));
    QVERIFY(op.findDevices());
    const int first = 11;
    const int second = 14;
    QVERIFY(!inView(op.table, first));
    op.tick(first);
    op.tick(second);
    QTest::mouseClick(op.flash, Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(op.text(first, StatusColumn).startsWith("Обновление:"), 20000);
    QVERIFY(inView(op.table, first));
    // The operator looks at the top of the list: the table stays there
    // while the device is written.
    op.table->scrollToTop();
    const QString before = op.text(first, StatusColumn);
    QTRY_VERIFY(op.text(first, StatusColumn) != before);
    QVERIFY2(op.text(first, StatusColumn).startsWith("Обновление:"),
             "the turn ended too soon to tell");
    QCOMPARE(op.table->verticalScrollBar()->value(), 0);
    // The next device's turn brings its row into view.
    QTRY_VERIFY_WITH_TIMEOUT(op.text(second, StatusColumn) != "Ожидание", 20000);
    QVERIFY(inView(op.table, second));
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Обновление завершено"), 30000);
}

void BatchTest::launcherEntryFollowsTheBatch()
{
    QProcess monitor;
    QVERIFY(startMonitor(monitor));
    // The first device stops answering at its fourth part and is given up.
    const DevSim::FaultRule silentAtPart4{DevSim::FaultRule::Silent, -1, 4, 0};
    DevSim::Simulator sim(
        {simDevice(crowdId(1), 10, 1, 0, {silentAtPart4}), simDevice(crowdId(2), 10, 1, 0)});
    QVERIFY(sim.openPty());
    sim.start();
    Operator op(sim);
    op.path->setText(writeFile(m_dir, "fw.bin", firmwareImage(2000, 34)));
    QVERIFY(op.findDevices());
    op.table->item(op.selectAllRow(), CheckColumn)->setCheckState(Qt::Checked);
    QTest::mouseClick(op.flash, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(op.status->text(), QString("Обновление завершено"), 60000);
    QCOMPARE(op.text(0, StatusColumn), QString("Ошибка"));
    QCOMPARE(op.text(1, StatusColumn), QString("Обновлено"));

    const QString entry
        = QStringLiteral("application://%1.desktop").arg(Identity::desktopFileName());
    QList<LauncherUpdate> updates;
    QTRY_VERIFY((updates = launcherUpdates(QString::fromUtf8(monitor.peek(1 << 22))),
                 !updates.isEmpty() && !updates.last().visible));
    monitor.kill();
    monitor.waitForFinished();
    updates.erase(std::remove_if(updates.begin(),
                                 updates.end(),
                                 [](const LauncherUpdate &u) { return u.uri.contains("probe"); }),
                  updates.end());
    const QString seen = describe(updates);

    // The progress rises through the batch, shown until it ends, urgent
    // from the moment a device was given up; then all of it is cleared.
    QVERIFY2(updates.size() >= 4, qPrintable(seen));
    const LauncherUpdate last = updates.takeLast();
    QVERIFY2(last.uri == entry && !last.visible && !last.urgent, qPrintable(seen));
    double progress = 0;
    bool urgent = false;
    for (const LauncherUpdate &u : updates) {
        QVERIFY2(u.uri == entry && u.visible, qPrintable(seen));
        QVERIFY2(u.progress >= progress && u.progress <= 1, qPrintable(seen));
        QVERIFY2(u.urgent || !urgent, qPrintable(seen));
        progress = u.progress;
        urgent = u.urgent;
    }
    QVERIFY2(updates.first().progress < 0.25 && !updates.first().urgent, qPrintable(seen));
    QVERIFY2(urgent && progress > 0.99, qPrintable(seen));
}

QTEST_MAIN(BatchTest)
#include "tst_batch.moc"
