#pragma once

// The device table's header: flat and white on Windows 10, whose own header
// would otherwise look out of place there; the platform's look elsewhere.

#include <QString>

// Only an OS whose product version is exactly "10".
bool usesFlatHeaderStyle(const QString &productVersion);

// The style sheet the window gets then: it reaches the header sections and
// the table's corner button.
QString flatHeaderStyleSheet();
