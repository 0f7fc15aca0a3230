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

// The launcher entry's Update signals that dbus-monitor printed, each as
// "URI PROGRESS VISIBLE URGENT" (the properties come sorted by name).
QStringList launcherUpdates(const QByteArray &monitored)
{
    static const QRegularExpression update(QStringLiteral(
        "member=Update\\s+string \"([^\"]*)\"\\s+array \\[\\s+"
        "dict entry\\(\\s+string \"progress\"\\s+variant\\s+double (\\S+)\\s+\\)\\s+"
        "dict entry\\(\\s+string \"progress-visible\"\\s+variant\\s+boolean (\\w+)\\s+\\)\\s+"
        "dict entry\\(\\s+string \"urgent\"\\s+variant\\s+boolean (\\w+)"));
    QStringList updates;
    for (auto it = update.globalMatch(QString::fromUtf8(monitored)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        updates << QStringList{m.captured(1), m.captured(2), m.captured(3), m.captured(4)}.join(
            ' ');
    }
    return updates;
}

// dbus-monitor on the session bus, watching the launcher entry's interface;
// started once it prints what this process sends there.
bool startMonitor(QProcess &monitor)
{
    monitor.start(QStringLiteral(OLVEX_DBUS_MONITOR),
                  {QStringLiteral("--session"),
                   QStringLiteral("type='signal',interface='%1'").arg(Interface)});
    const QDBusMessage probe
        = QDBusMessage::createSignal(QStringLiteral("/probe"), Interface, QStringLiteral("Probe"));
    return monitor.waitForStarted() && QTest::qWaitFor([&] {
               QDBusConnection::sessionBus().send(probe);
               return monitor.peek(1 << 20).contains("member=Probe");
           });
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

    // The progress rises through the batch, shown until it ends, urgent from
    // the moment a device was given up; then all of it is cleared.
    QStringList updates;
    QTRY_VERIFY((updates = launcherUpdates(monitor.peek(1 << 22)),
                 !updates.isEmpty() && updates.last().endsWith(" false false")));
    monitor.kill();
    monitor.waitForFinished();
    const QString seen = updates.join('\n');
    const QString entry = QString("application://%1.desktop").arg(Identity::desktopFileName());
    QVERIFY2(updates.size() >= 4 && updates.takeLast() == entry + " 0 false false",
             qPrintable(seen));
    double progress = 0;
    bool urgent = false;
    for (const QString &update : updates) {
        const QStringList u = update.split(' ');
        QVERIFY2(u.at(0) == entry && u.at(2) == "true", qPrintable(seen));
        QVERIFY2(u.at(1).toDouble() >= progress && u.at(1).toDouble() <= 1, qPrintable(seen));
        QVERIFY2(u.at(3) == "true" || !urgent, qPrintable(seen));
        progress = u.at(1).toDouble();
        urgent = u.at(3) == "true";
    }
    QVERIFY2(updates.first().endsWith(" false") && urgent && progress == 1, qPrintable(seen));
}

QTEST_MAIN(BatchTest)
#include "tst_batch.moc"
