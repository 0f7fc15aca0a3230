#pragma once

// How the main window comes up: its icon, its opening size, the notifier's
// connections. The app, the demo and the screenshots share it, so they show
// the same window.

#include "app/identity.h"

#include <QIcon>

class MainWindow;

namespace Identity {
// The window icon: the resource image as the icon's only, 32 x 32, image.
QIcon icon();

// The window program's names: apply()'s, then its menu entry's.
void applyToWindow(QApplication &app);
} // namespace Identity

// The toolkit's own texts in Russian, as the window's own are: the file
// dialog, the standard buttons of message boxes, the text fields' menus. Qt's
// translation qtbase_ru (or the qt_ru that windeployqt makes), from where the
// toolkit keeps its translations (Debian's qttranslations5-l10n;
// "translations" beside the programs on Windows). False, and said in the log, where it is missing: the toolkit then
// speaks English. The window's own texts are not translated and stay as they
// are.
bool installToolkitTranslation(QCoreApplication &app);

// Connects the notifier's six signals to the window's slots, in their fixed
// order, registering Status for queued delivery just before the third.
void connectNotifier(MainWindow *window);

// What start-up does with the constructed window: opening size, icon, show,
// then the notifier's connections.
void presentMainWindow(MainWindow *window, const QIcon &icon);
