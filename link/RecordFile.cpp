#include "RecordFile.h"

#include <QDir>
#include <QSaveFile>
#include <memory>
#include <vector>

#include "Errors.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

QString QuotedPath(const QString& path) {
    return QStringLiteral("«") + QDir::toNativeSeparators(path) + QStringLiteral("»");
}

bool RecordFileHeld(const QString& path) {
#if defined(_WIN32)
    // The log lets others only read its file; any program that writes into a
    // file and shares it for reading only keeps it from us the same way.
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()),
                                      GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return false;
#else
    // The log keeps an advisory lock on its file while it is on: of this
    // process (another open file description conflicts with it) or of
    // another copy of the program.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // also lets go of the lock just taken
    return held;
#endif
}

void WriteRecordFiles(const QList<RecordFile>& files) {
    for (const RecordFile& f : files)
        if (RecordFileHeld(f.path))
            throw Exception(QStringLiteral("Невозможно открыть файл ") + QuotedPath(f.path));

    const auto failed = [](const QString& path) {
        return Exception(QStringLiteral("Невозможно сохранить файл ") + QuotedPath(path));
    };
    // Every file is whole in its temporary before the first one replaces its
    // file; a QSaveFile that is not committed removes its temporary.
    std::vector<std::unique_ptr<QSaveFile>> saves;
    for (const RecordFile& f : files) {
        auto save = std::make_unique<QSaveFile>(f.path);
        save->setDirectWriteFallback(false);
        if (!save->open(QIODevice::WriteOnly) || save->write(f.bytes) != f.bytes.size() ||
            !save->flush())
            throw failed(f.path);
        saves.push_back(std::move(save));
    }
    for (size_t i = 0; i < saves.size(); ++i)
        if (!saves[i]->commit())
            throw failed(files[static_cast<qsizetype>(i)].path);
}
