// Bringing up the main window.

#include "ui/startup.h"

#include "registry/registry.h"
#include "ui/mainwindow.h"
#include "ui/windowsize.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace Identity {
QIcon icon()
{
    QIcon icon;
    icon.addFile(iconPath(), QSize(32, 32), QIcon::Normal, QIcon::Off);
    return icon;
}

void applyToWindow(QApplication &app)
{
    apply(app);
    QGuiApplication::setDesktopFileName(desktopFileName());
}
} // namespace Identity

namespace {

QString toolkitTranslations()
{
#if QT_VERSION_MAJOR < 6
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

} // namespace

bool installToolkitTranslation(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    const QString folder = toolkitTranslations();
    // qt_ru is the catalogue windeployqt merges the modules' into, for a build
    // made on Windows with the Qt installer's kit.
    for (const QString &name : {QStringLiteral("qtbase_ru"), QStringLiteral("qt_ru")}) {
        if (translator->load(name, folder) && app.installTranslator(translator))
            return true;
    }
    qDebug("qtbase_ru.qm not found in %s: the toolkit's own texts stay in English",
           qPrintable(QDir::toNativeSeparators(folder)));
    delete translator;
    return false;
}

void connectNotifier(MainWindow *window)
{
    QObject::connect(&Notifier, SIGNAL(UpdateTable()), window, SLOT(UpdatingTable()));
    QObject::connect(&Notifier, SIGNAL(UpdateDevStatus()), window, SLOT(UpdatingDevStatus()));
    qRegisterMetaType<Status>("Status");
    QObject::connect(
        &Notifier, SIGNAL(UpdateMainStatus(Status)), window, SLOT(UpdatingMainStatus(Status)));
    QObject::connect(
        &Notifier, SIGNAL(UnblockSearchButton()), window, SLOT(UnblockingSearchButton()));
    QObject::connect(
        &Notifier, SIGNAL(CheckReadyToUpdate()), window, SLOT(CheckingReadyToUpdate()));
    QObject::connect(
        &Notifier, SIGNAL(UnblockTableSignals()), window, SLOT(UnblockingTableSignals()));
}

void presentMainWindow(MainWindow *window, const QIcon &icon)
{
    openOnScreen(window);
    window->setWindowIcon(icon);
    window->show();
    connectNotifier(window);
}
