// One entry of a module's history as the store keeps it: what happened to
// which module, when, on which PC and by whom, with its details as JSON. An
// entry is never changed once made; a correction is a new entry naming the
// one it corrects. Every entry carries an id made when it is created, so that
// writing it a second time (from the queue after a dropped connection, or by
// an import run twice) adds nothing.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace History {

// What an entry records. The text is what the store keeps.
enum class Kind {
    Seen,           // the tool talked to the module: its identity
    Calibration,    // a calibration: as found, as left, coefficients, reference
    Check,          // an accuracy check alone
    ConfigSaved,    // the module's configuration saved to a file
    ConfigCompared, // a configuration compared with the module
    ConfigWritten,  // a configuration written to the module
    Passport,       // passport registers written
    Link,           // the module's link settings changed
    Restarts,       // the restart counter read
    Interval,       // the calibration interval set for a module or a type
};
QString KindKey(Kind kind); // "calibration"
std::optional<Kind> KindFromKey(const QString& key);
QString KindText(Kind kind); // "Калибровка"

struct Entry {
    QString uid; // made at creation, unique everywhere
    Kind kind = Kind::Seen;
    QString registration; // "A0042"; empty in an interval set for a type
    int moduleType = 0;   // register 768
    QDateTime made;       // UTC
    QString pc;
    QString technician;
    QString corrects; // the uid of the entry this one corrects, or empty
    QString summary;  // one line for the timeline
    QString fileName; // the saved file (protocol, configuration), or empty
    QString fileSha256;
    QJsonObject details;

    bool operator==(const Entry&) const = default;
};

// A new entry: a fresh uid, the time now, this PC's name and the technician
// (the name entered for protocols, or the account's name).
Entry NewEntry(Kind kind, const QString& registration, int moduleType,
               const QString& technician = QString());
QString NewUid();
QString ThisPcName();

// The entry as one line of JSON (no line break inside) and back; a line that
// is not a whole entry gives nothing.
QByteArray EntryLine(const Entry& entry);
std::optional<Entry> EntryFromLine(const QByteArray& line);

// SHA-256 of a file's bytes in lower-case hex.
QString Sha256Hex(const QByteArray& bytes);

// The calibration interval and the due date.
constexpr int DefaultIntervalMonths = 12;
constexpr int SoonDays = 30; // "скоро": due within this many days

enum class DueState { Unknown, Ok, Soon, Overdue };
QString DueStateText(DueState state); // "в норме", "скоро", "просрочена", ""
QDate DueDate(const QDate& lastCalibration, int intervalMonths);
DueState DueStateOn(const QDate& due, const QDate& today);

// "Следующая калибровка: до 09.12.2027" or "Калибровка просрочена с 09.12.2026"
QString DueLine(const QDate& due, const QDate& today);

} // namespace History
