// Files the tool makes for the technician's records (protocols, lists, saved
// frames, configurations): each is written whole or not at all, never over a
// file another writer holds, and a failure says so in Russian with the path.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The path as the messages show it: native separators, in «…».
QString QuotedPath(const QString& path);

// Whether another writer holds the existing file `path`: the measurement log
// of this or another copy of the program (its advisory lock on Linux), or on
// Windows any program that keeps it open for writing. A missing file is not
// held.
bool RecordFileHeld(const QString& path);

struct RecordFile {
    QString path;
    QByteArray bytes;
};

// Writes the files as one save. Every file is refused first when another
// writer holds it (Exception "Невозможно открыть файл «<path>»."); then each
// is written into a temporary file beside it and put onto the disk, and only
// when all of them are whole do they replace their files, one rename each.
// A failure before that leaves every old file as it was and no temporary
// file behind (Exception "Невозможно сохранить файл «<path>»."). A file that
// is a symbolic link is written through to its target.
void WriteRecordFiles(const QList<RecordFile>& files);
inline void WriteRecordFile(const QString& path, const QByteArray& bytes) {
    WriteRecordFiles({RecordFile{path, bytes}});
}
