#include "PortMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "Func.h"

QString PortMapPath() {
    return QFileInfo(CommLibraryPath()).absoluteDir().filePath(QStringLiteral("comm_mb.ini"));
}

bool WritePortMap(const QString& text) {
    QFile f(PortMapPath());
    const QByteArray data = text.toUtf8();
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
