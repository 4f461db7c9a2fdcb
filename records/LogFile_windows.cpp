#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "LogFile.h"

bool OpenLogFile(QFile& file, const QString& path) {
    // Others may read the file while the log is on (a spreadsheet, a viewer),
    // but nobody else may open it for writing, and a program that holds it
    // open for writing keeps it from the log.
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return false;
    }
    return true;
}

bool SyncLogFile(QFile& file) {
    return _commit(file.handle()) == 0;
}
