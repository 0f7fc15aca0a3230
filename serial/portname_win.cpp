// Port names on Windows: COM ports in any case.

#include "serial/serialline.h"

#include <QRegularExpression>

QString systemPortName(const QString &name)
{
    // The toolkit opens "COM12" as \\.\COM12 but "com12" as a file of that
    // name; Windows itself takes either.
    static const QRegularExpression comPort(QStringLiteral("^com[0-9]+$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return comPort.match(name).hasMatch() ? name.toUpper() : name;
}
