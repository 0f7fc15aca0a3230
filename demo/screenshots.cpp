// olvex-screenshots DIR [PICTURE...]: pictures of the main window for the
// README, taken on the demo line: the window as it opens (window), after a
// search (search), during an update (update) and after it (updated), and the
// about dialog (about); all of them unless some are named. Run it under a
// display (xvfb-run works). At a scale factor other than 1 (QT_SCALE_FACTOR)
// the names say it: update@2x.png.

#include "demo/demoline.h"
#include "ui/aboutdialog.h"
#include "ui/columns.h"
#include "ui/mainwindow.h"
#include "ui/portlist.h"
#include "ui/startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <cstdio>
#include <functional>

namespace {

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Where the pictures go, and which of them.
struct Album
{
    QDir dir;
    QStringList wanted; // empty: all

    // The picture of the widget under the name, when it is wanted; false
    // when it could not be written.
    bool save(QWidget *widget, const QString &name) const
    {
        if (!wanted.isEmpty() && !wanted.contains(name))
            return true;
        QCoreApplication::processEvents();
        const QPixmap picture = widget->grab();
        const qreal scale = picture.devicePixelRatio();
        const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
        const QString path = dir.filePath(name + suffix + QStringLiteral(".png"));
        const bool ok = picture.save(path);
        std::fprintf(stderr,
                     "olvex-screenshots: %s %s\n",
                     ok ? "wrote" : "could not write",
                     qPrintable(path));
        return ok;
    }
};

// A firmware file with a name a technician would recognise.
QString writeFirmware()
{
    QDir().mkpath(QStringLiteral("/tmp/olvex-demo"));
    const QString firmware = QStringLiteral("/tmp/olvex-demo/vt-tally-8_v2.8.bin");
    QFile file(firmware);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray(48 * 1024, '\x5a'));
    return firmware;
}

// The window through one job, saved at its moments: as it opens, after the
// search, during the update and after it. The pictures that could not be
// written, or -1 when the job did not get to its next moment.
int photographJob(MainWindow *window, const Album &out, const QString &firmware)
{
    auto *status = window->findChild<QLabel *>("StatusLabel");
    auto *table = window->findChild<QTableWidget *>("tableWidget");
    int failures = !out.save(window, QStringLiteral("window"));

    // The path is in place before the search, so the flash button is ready
    // when the search ends.
    window->findChild<QLineEdit *>("fileNameLine")->setText(firmware);
    window->findChild<QPushButton *>("SearchButton")->click();
    if (!waitUntil([status] { return status->text() == "Выберите устройство(а)"; }, 60000))
        return -1;
    table->item(0, CheckColumn)->setCheckState(Qt::Checked);
    table->item(1, CheckColumn)->setCheckState(Qt::Checked);
    failures += !out.save(window, QStringLiteral("search"));

    window->findChild<QPushButton *>("FlashButton")->click();
    auto progressAt = [table](int row, int percent) {
        const QString text = table->item(row, StatusColumn)->text();
        return text.startsWith("Обновление:") && text.mid(11).chopped(1).toInt() >= percent;
    };
    if (!waitUntil([&] { return progressAt(0, 60); }, 60000))
        return -1;
    failures += !out.save(window, QStringLiteral("update"));
    if (!waitUntil([status] { return status->text() == "Обновление завершено"; }, 120000))
        return -1;
    return failures + !out.save(window, QStringLiteral("updated"));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Identity::apply(app);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Pictures of the main window for the README, on the demo line."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Where the pictures go."));
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("Only these: window, search, update, updated, "
                                                "about."),
                                 QStringLiteral("[PICTURE...]"));
    parser.process(app);
    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: olvex-screenshots DIR [PICTURE...]\n");
        return 2;
    }
    installToolkitTranslation(app);
    const Album out{QDir(arguments.takeFirst()), arguments};
    QDir().mkpath(out.dir.path());

    DevSim::Options options;
    options.baud = DemoBaud;
    DevSim::Simulator line(DevSim::sampleDevices(), options);
    if (!line.openPty())
        return 1;
    line.start();
    const QString linePath = QString::fromStdString(line.path());
    setPortNameSource([linePath] { return QStringList{linePath}; });
    const QString firmware = writeFirmware();

    int failures = 0;
    {
        const QIcon icon = Identity::icon();
        MainWindow window;
        presentMainWindow(&window, icon);
        failures = photographJob(&window, out, firmware);
        if (failures >= 0) {
            AboutDialog about;
            about.show();
            failures += !out.save(&about, QStringLiteral("about"));
        }
    }
    line.stop();
    return failures == 0 ? 0 : 1;
}
