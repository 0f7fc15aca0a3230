// A batch's progress on the launcher entry: the Update signal of
// com.canonical.Unity.LauncherEntry on the session bus, which KDE Plasma's
// task manager and GNOME's docks read for the program whose menu entry the
// URI names. Without a session bus nothing is sent.

#include "ui/taskbarprogress.h"

#include "app/identity.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

void update(const QVariantMap &properties)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage signal
        = QDBusMessage::createSignal(QStringLiteral("/example/ruvo/OlvexUpdater"),
                                     QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                     QStringLiteral("Update"));
    signal << QStringLiteral("application://%1.desktop").arg(Identity::desktopFileName())
           << properties;
    bus.send(signal);
}

} // namespace

void TaskbarProgress::publish(int steps, bool failed)
{
    update({{QStringLiteral("progress"), double(steps) / Steps},
            {QStringLiteral("progress-visible"), true},
            {QStringLiteral("urgent"), failed}});
}

void TaskbarProgress::withdraw()
{
    update({{QStringLiteral("progress"), 0.0},
            {QStringLiteral("progress-visible"), false},
            {QStringLiteral("urgent"), false}});
}
