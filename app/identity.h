#pragma once

// Who the program is: the same for the window and the terminal front end.
// Qt Core only, and header-only: each front end takes it from here.

#include "app/version.h"

#include <QCoreApplication>
#include <QString>

namespace Identity {
inline QString applicationName()
{
    return QStringLiteral("Olvex Updater");
}
inline QString organizationName()
{
    return QStringLiteral("Ruvo");
}
inline QString organizationDomain()
{
    return QStringLiteral("https://shop.ruvo.example");
}
inline QString applicationVersion()
{
    return QStringLiteral("v" OLVEX_VERSION);
}

// The application icon in the compiled-in resources.
inline QString iconPath()
{
    return QStringLiteral(":/icons/ruvo_olvex.png");
}
// The window's menu entry, by its basename (packaging/<name>.desktop): a
// Wayland session finds the window's entry and icon by it.
inline QString desktopFileName()
{
    return QStringLiteral("example.ruvo.OlvexUpdater");
}

// Sets name, organisation, domain and version, in that order.
inline void apply(QCoreApplication &app)
{
    app.setApplicationName(applicationName());
    app.setOrganizationName(organizationName());
    app.setOrganizationDomain(organizationDomain());
    app.setApplicationVersion(applicationVersion());
}
} // namespace Identity
