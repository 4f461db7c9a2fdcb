// What the fleet and a module's history windows show, without widgets: the
// fleet filtered and as CSV, an entry's details as text, and the as-found
// error of each check point over the calibrations (the drift).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "HistoryStore.h"

namespace History {

// The rows whose registration number contains `search` (any case), in
// `state` (none: every state).
QList<ModuleRow> FilterFleet(const QList<ModuleRow>& rows, const QString& search,
                             std::optional<DueState> state);

// "Рег. номер;Тип;Последняя калибровка;Интервал, мес.;Срок;Состояние;Последняя связь",
// UTF-8 with a byte-order mark, as the tool's other CSVs.
QByteArray FleetCsv(const QList<ModuleRow>& rows);

// "dd.MM.yyyy" or "—".
QString DayText(const QDate& d);
// Local time "dd.MM.yyyy HH:mm" or "—".
QString TimeText(const QDateTime& utc);

// The entries as the timeline shows them: oldest first, and an entry that a
// later one corrects marked as corrected.
struct TimelineItem {
    Entry entry;
    bool corrected = false; // a later entry corrects it
    QString line;           // "09.12.2026 08:15  Калибровка: …"
};
QList<TimelineItem> Timeline(const QList<Entry>& entries);

// Every field of an entry, and its details, one per line.
QString DetailsText(const Entry& entry);

// One check point's as-found error over the calibrations.
struct DriftPoint {
    QDateTime when;
    double errorPercent = 0;
};
struct DriftSeries {
    QString name; // "Ток 2 мА"
    double tolerancePercent = 0;
    QList<DriftPoint> points;
};
// From the calibrations (and checks alone) of one module: one series for
// each point (range and nominal); a calibration kept twice (when it ended
// and with its protocol) counts once.
QList<DriftSeries> DriftOf(const QList<Entry>& entries);

} // namespace History
