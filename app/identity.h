#pragma once

// Who the program is: the same for the window and the terminal front end.
// Qt Core only.

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
    return QStringLiteral("v1.0.0");
}
} // namespace Identity
