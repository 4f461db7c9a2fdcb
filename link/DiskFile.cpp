#include "DiskFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#if defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace disk {

namespace {

constexpr int TagLength = 6;

QString Tagged(const QString& target, const QString& mark) {
    static const char tagChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString name = target + mark;
    for (int i = 0; i < TagLength; ++i)
        name += QLatin1Char(tagChars[QRandomGenerator::global()->bounded(62)]);
    return name;
}

bool SyncToDisk(QFile& file) {
    if (!file.flush())
        return false;
#if defined(Q_OS_WIN)
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()))) != 0;
#else
    return ::fsync(file.handle()) == 0 || errno == EINVAL; // EINVAL: nothing to sync
#endif
}

#if defined(Q_OS_WIN)
std::wstring Native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}
#else
QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}
#endif

} // namespace

QString FinalPath(const QString& path) {
    QFileInfo info(path);
    for (int depth = 0; depth < 32 && info.isSymbolicLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymbolicLink() ? QString() : info.filePath();
}

QString WriteBeside(const QString& target, const QString& mark, const QByteArray& data) {
    QFile temp;
    for (int attempt = 0; attempt < 16 && !temp.isOpen(); ++attempt) {
        temp.setFileName(Tagged(target, mark));
        if (!temp.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !temp.exists())
            return QString();
    }
    if (!temp.isOpen())
        return QString();
    // The old file's permissions, as its owner, group and others have them:
    // the "user" flags say what this process may do (everything, for root),
    // and would make a read-only file writable.
    constexpr QFile::Permissions userFlags = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
    const bool written =
        (!QFile::exists(target) || temp.setPermissions(QFile::permissions(target) & ~userFlags)) &&
        temp.write(data) == data.size() && SyncToDisk(temp);
    temp.close();
    if (written && temp.error() == QFileDevice::NoError)
        return temp.fileName();
    temp.remove();
    return QString();
}

bool RenameOver(const QString& from, const QString& to) {
#if defined(Q_OS_WIN)
    return MoveFileExW(Native(from).c_str(), Native(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    if (::rename(Native(from).constData(), Native(to).constData()) != 0)
        return false;
    // The new name reaches the disk with the folder. The file is whole
    // either way, so a folder that cannot be synced is no failure.
    const int dir = ::open(Native(QFileInfo(to).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
#endif
}

QString KeepAside(const QString& target, const QString& mark, bool& moved) {
    moved = false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString aside = Tagged(target, mark);
        if (QFileInfo::exists(aside))
            continue;
#if defined(Q_OS_WIN)
        if (CreateHardLinkW(Native(aside).c_str(), Native(target).c_str(), nullptr))
            return aside;
        // FAT and some network shares have no hard links.
        if (MoveFileExW(Native(target).c_str(), Native(aside).c_str(), MOVEFILE_WRITE_THROUGH)) {
            moved = true;
            return aside;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return QString();
#else
        if (::link(Native(target).constData(), Native(aside).constData()) == 0)
            return aside;
        if (errno == EEXIST)
            continue;
        // FAT and some network shares have no hard links. The name was free
        // a moment ago; rename() would take it over from a newcomer.
        if (!QFileInfo::exists(aside) &&
            ::rename(Native(target).constData(), Native(aside).constData()) == 0) {
            moved = true;
            return aside;
        }
        return QString();
#endif
    }
    return QString();
}

} // namespace disk
