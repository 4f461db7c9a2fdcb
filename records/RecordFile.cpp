#include "RecordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "DiskFile.h"
#include "Errors.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

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

namespace {

const QString SaveMark = QStringLiteral(".saving-");
const QString AsideMark = QStringLiteral(".old-");

std::function<void(const RecordFileStep&)>& StepHook() {
    static std::function<void(const RecordFileStep&)> hook;
    return hook;
}

// One file of a save, and how far the save has gone with it.
struct Slot {
    QString path;            // as given
    QString target;          // the file replaced: a link's target
    bool existed = false;    // there was a file to replace
    QString temporary;       // the new bytes, until they replace the file
    QString aside;           // the old content, until the save is whole or undone
    bool movedAside = false; // no hard link: the old file itself went aside
    bool replaced = false;   // the new bytes are in place
    bool clean() const { return !replaced && !movedAside; }

    // What the file holds now, for the message.
    QString holds() const {
        const QString kept = QStringLiteral(", прежний сохранён как ") + QuotedPath(aside);
        if (replaced && existed)
            return QStringLiteral("новый") + (QFileInfo::exists(aside)
                                                  ? kept
                                                  : QStringLiteral(", прежний вернуть не удалось"));
        if (replaced)
            return QStringLiteral("новый");
        if (movedAside)
            return QStringLiteral("отсутствует") + kept;
        return existed ? QStringLiteral("прежний") : QStringLiteral("не создан");
    }
};

// Puts back the files `saves` up to `failed` (the one that failed) as they
// were, as far as it can, and removes every temporary file.
void Undo(std::vector<Slot>& saves, size_t failed) {
    for (size_t i = failed + 1; i-- > 0;) {
        Slot& s = saves[i];
        if (s.replaced && !s.existed) {
            s.replaced = !QFile::remove(s.target);
        } else if ((s.replaced || s.movedAside) && disk::RenameOver(s.aside, s.target)) {
            s.replaced = s.movedAside = false;
            s.aside.clear();
        } else if (s.clean() && !s.aside.isEmpty()) {
            QFile::remove(s.aside); // a second name of the file still in place
            s.aside.clear();
        }
    }
    for (Slot& s : saves)
        if (!s.temporary.isEmpty())
            QFile::remove(s.temporary);
}

Exception Failure(const std::vector<Slot>& saves, const Slot& failed) {
    QString text = QStringLiteral("Невозможно сохранить файл ") + QuotedPath(failed.path);
    const bool clean =
        std::all_of(saves.begin(), saves.end(), [](const Slot& s) { return s.clean(); });
    if (saves.size() == 1 && clean)
        return Exception(text);
    QStringList lines;
    for (const Slot& s : saves)
        lines << QuotedPath(s.path) + QStringLiteral(" — ") + s.holds();
    text += clean ? QStringLiteral(".\nНи один файл не изменён:\n")
                  : QStringLiteral(".\nПрежнее удалось вернуть не всем файлам:\n");
    return Exception(text + lines.join(QStringLiteral(";\n")));
}

} // namespace

void SetRecordFileStepHook(std::function<void(const RecordFileStep&)> hook) {
    StepHook() = std::move(hook);
}

void WriteRecordFiles(const QList<RecordFile>& files) {
    for (const RecordFile& f : files)
        if (RecordFileHeld(f.path))
            throw Exception(QStringLiteral("Невозможно открыть файл ") + QuotedPath(f.path));

    std::vector<Slot> saves(static_cast<size_t>(files.size()));
    // Every file is whole in its temporary before the first one is replaced.
    for (size_t i = 0; i < saves.size(); ++i) {
        Slot& s = saves[i];
        s.path = files[static_cast<qsizetype>(i)].path;
        s.target = disk::FinalPath(s.path);
        const QFileInfo info(s.target);
        s.existed = !s.target.isEmpty() && info.exists();
        // Only a regular file is replaced: a link to a device or a folder
        // must not become a file. A read-only file stays as it is.
        if (!s.target.isEmpty() && (!s.existed || (info.isFile() && info.isWritable())))
            s.temporary =
                disk::WriteBeside(s.target, SaveMark, files[static_cast<qsizetype>(i)].bytes);
        if (s.temporary.isEmpty()) {
            Undo(saves, i);
            throw Failure(saves, s);
        }
    }
    // Then one after the other, each old file kept aside until all are in place.
    for (size_t i = 0; i < saves.size(); ++i) {
        Slot& s = saves[i];
        if (s.existed)
            s.aside = disk::KeepAside(s.target, AsideMark, s.movedAside);
        if (!s.existed || !s.aside.isEmpty()) {
            if (StepHook())
                StepHook()({s.path, s.temporary, s.aside});
            s.replaced = disk::RenameOver(s.temporary, s.target);
        }
        if (!s.replaced) {
            Undo(saves, i);
            throw Failure(saves, s);
        }
        s.temporary.clear();
    }
    for (const Slot& s : saves)
        if (!s.aside.isEmpty())
            QFile::remove(s.aside);
}
