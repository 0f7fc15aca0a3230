// Regular files only, on Windows.

#include "protocol/regularfile.h"

#include <QFileInfo>

bool openRegularFile(QFile &file, const QString &path)
{
    file.setFileName(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}
