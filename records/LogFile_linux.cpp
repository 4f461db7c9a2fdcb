#include <QFile>
#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

#include "LogFile.h"

bool OpenLogFile(QFile& file, const QString& path) {
    file.setFileName(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    // The lock goes with the file's closing, also when the program is killed.
    // A file system that keeps no locks (some network shares) is written
    // without one.
    if (::flock(file.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        file.close();
        return false;
    }
    return true;
}

bool SyncLogFile(QFile& file) {
    return ::fsync(file.handle()) == 0;
}
