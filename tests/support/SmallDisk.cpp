#include "SmallDisk.h"

#include <QDir>
#include <QFile>
#include <algorithm>

#if defined(Q_OS_LINUX)
#include <sys/mount.h>
#endif

SmallDisk::SmallDisk(const QString& folder, int kilobytes) : folder_(folder) {
#if defined(Q_OS_LINUX)
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
    mounted_ = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0,
                       options.constData()) == 0;
#else
    Q_UNUSED(kilobytes);
#endif
}

SmallDisk::~SmallDisk() {
#if defined(Q_OS_LINUX)
    if (mounted_)
        ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
#endif
}

bool SmallDisk::fill(qint64 bytes) {
    QFile filler(QDir(folder_).filePath(QStringLiteral("filler")));
    if (!mounted_ || !filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, '\0');
    while (filler.write(block) == block.size()) {
    }
    return filler.resize(std::max<qint64>(0, filler.size() - bytes));
}
