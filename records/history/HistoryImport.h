// The records already on disk into the history: the calibration and check
// protocols' CSV copies and the configuration files under a chosen folder.
// Each file becomes one entry whose id is made from its SHA-256, so a file
// imported twice, from this PC or another, is there once.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "HistoryEntry.h"

namespace History {

class Store;

// The entry a file makes, or nothing when it is no protocol's CSV nor a
// configuration file.
std::optional<Entry> ProtocolCsvEntry(const QByteArray& bytes, const QString& path);
std::optional<Entry> ConfigFileEntry(const QByteArray& bytes, const QString& path);

struct ImportResult {
    int added = 0;      // new entries
    int already = 0;    // files the history had
    int other = 0;      // files that are neither
    QStringList failed; // "«path»: why"
};

// Every *.csv and *.json under `folder` (its subfolders too), each at most
// `maxBytes`. Throws Exception when the store cannot be written.
ImportResult ImportFolder(Store& store, const QString& folder, qint64 maxBytes = 4 << 20);

// "Добавлено записей: 3, уже были в истории: 1, других файлов: 2."
QString ImportSummary(const ImportResult& r);

} // namespace History
