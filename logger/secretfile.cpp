#include "secretfile.h"

#include <QFile>

bool Secret_ReadFirstLine(const QString& path, QString* secret, QString* why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *secret = QString::fromUtf8(line);
    return true;
}
