#include "HistoryQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include "Errors.h"

namespace History {

namespace {
QByteArray ReadAll(const QString& path, bool* ok) {
    QFile f(path);
    if (!f.exists()) {
        *ok = true;
        return {};
    }
    *ok = f.open(QIODevice::ReadOnly);
    return *ok ? f.readAll() : QByteArray();
}

void Say(QString* error, const QString& text) {
    if (error)
        *error = text;
}

// Takes the queue's lock file within `waitMs`; a lock left by a copy that
// died is taken over after 10 s.
bool TakeLock(QLockFile& lock, const QString& path, int waitMs, QString* error) {
    lock.setStaleLockTime(10000);
    if (lock.tryLock(waitMs))
        return true;
    Say(error, QStringLiteral("Очередь истории %1 занята.").arg(QuotedPath(path)));
    return false;
}

// The queue's bytes, none when there is no file yet.
bool ReadQueue(const QString& path, QByteArray* bytes, QString* error) {
    bool ok = false;
    *bytes = ReadAll(path, &ok);
    if (!ok)
        Say(error, QStringLiteral("Невозможно открыть файл %1.").arg(QuotedPath(path)));
    return ok;
}
} // namespace

Queue::Queue(QString path, int lockWaitMs) : path_(std::move(path)), lockWaitMs_(lockWaitMs) {}

bool Queue::append(const QList<Entry>& entries, QString* error) {
    if (entries.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!TakeLock(lock, path_, lockWaitMs_, error))
        return false;
    QFile f(path_);
    if (!f.open(QIODevice::ReadWrite)) {
        Say(error, QStringLiteral("Невозможно открыть файл %1: %2")
                       .arg(QuotedPath(path_), f.errorString()));
        return false;
    }
    QByteArray bytes;
    // A line a crash cut short stays a line of its own.
    if (f.size() > 0 && f.seek(f.size() - 1) && f.read(1) != "\n")
        bytes += '\n';
    for (const Entry& e : entries)
        bytes += EntryLine(e) + '\n';
    const qint64 end = f.size();
    if (!f.seek(end) || f.write(bytes) != bytes.size() || !f.flush()) {
        const QString reason = f.errorString();
        // What did get there is cut off again: no half entry stays behind.
        f.resize(end);
        Say(error,
            QStringLiteral("Невозможно записать файл %1: %2").arg(QuotedPath(path_), reason));
        return false;
    }
    return true;
}

bool Queue::read(QList<Entry>* entries, QString* error) {
    entries->clear();
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (QFileInfo::exists(path_) && !TakeLock(lock, path_, lockWaitMs_, error))
        return false;
    QByteArray bytes;
    if (!ReadQueue(path_, &bytes, error))
        return false;
    for (const QByteArray& line : bytes.split('\n'))
        if (auto e = EntryFromLine(line.trimmed()))
            entries->append(*e);
    return true;
}

bool Queue::remove(const QSet<QString>& uids, QString* error) {
    if (uids.isEmpty() || !QFileInfo::exists(path_))
        return true;
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!TakeLock(lock, path_, lockWaitMs_, error))
        return false;
    QByteArray bytes;
    if (!ReadQueue(path_, &bytes, error))
        return false;
    QByteArray rest;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const auto e = EntryFromLine(line.trimmed());
        if (e && uids.contains(e->uid))
            continue;
        rest += line + '\n';
    }
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly) || out.write(rest) != rest.size() || !out.commit()) {
        Say(error, QStringLiteral("Невозможно записать файл %1: %2")
                       .arg(QuotedPath(path_), out.errorString()));
        return false;
    }
    return true;
}

} // namespace History
