// Files the tool makes for the technician's records (protocols, lists, saved
// frames, configurations): each is written whole or not at all, never over a
// file another writer holds, and a failure says so in Russian with the path.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// Whether another writer holds the existing file `path`: the measurement log
// of this or another copy of the program (its advisory lock on Linux), or on
// Windows any program that keeps it open for writing. A missing file is not
// held.
bool RecordFileHeld(const QString& path);

struct RecordFile {
    QString path;
    QByteArray bytes;
};

// Writes the files as one save: afterwards either every file holds its new
// bytes, or none of them was replaced. Every file is refused first when
// another writer holds it (Exception "Невозможно открыть файл «<path>».");
// then each is written into a temporary file beside it and put onto the
// disk, and only when all of them are whole do they replace their files one
// after the other, each old file kept aside until the last is in place. A
// failure puts back every file replaced so far (a file that did not exist
// is removed again) and leaves no temporary file behind: Exception
// "Невозможно сохранить файл «<path>»." and, for a save of several files or
// one that could not be put back whole, a line for each file saying what it
// holds now. A file that is a symbolic link is written through to its
// target, which must be a regular file (or missing).
void WriteRecordFiles(const QList<RecordFile>& files);
inline void WriteRecordFile(const QString& path, const QByteArray& bytes) {
    WriteRecordFiles({RecordFile{path, bytes}});
}

// For the tests: called just before the new bytes of a file replace it,
// once its old content is kept aside (`aside`, empty for a file that did not
// exist), so that a test can make that step fail. Null: none.
struct RecordFileStep {
    QString path;      // as given
    QString temporary; // the new bytes, whole
    QString aside;     // the old content
};
void SetRecordFileStepHook(std::function<void(const RecordFileStep&)> hook);
