// The protocol of a calibration or of a check alone as data: who made it and
// with what reference, the module, the as-found and as-left checks, the
// adjustment; its title, number, file name and verdict, and the same record
// as CSV for a records system. The drawing of the PDF lives with the windows
// (app/).
#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

#include "AccuracyCheck.h"
#include "Calibration.h"

class ProfileFile;

// Entered in a small form before each protocol and offered again next time.
struct ProtocolPeople {
    QString technician;
    QString organisation; // optional
    QString reference;    // the reference instrument
    QString referenceSerial;
    QDate referenceValidUntil; // until when its own calibration is valid
    QString temperature;       // ambient, optional, as typed ("22,5")

    // Its calibration has run out (the last day it was valid is before `today`).
    bool referenceExpired(const QDate& today) const;
};

// The section "Protocol" of the tool's settings file.
ProtocolPeople LoadProtocolPeople(const ProfileFile& file);
void SaveProtocolPeople(ProfileFile& file, const ProtocolPeople& people);

struct ProtocolData {
    QDateTime made;
    ModuleRecordId module; // as found: the calibration date before
    ProtocolPeople people;
    std::optional<CheckResult> asFound;
    std::optional<CheckResult> asLeft;
    std::optional<CalibrationResult> adjustment; // none: a check alone
    int intervalMonths = 12;                     // the module's calibration interval

    // The calibration date after plus the interval; invalid without a date.
    QDate nextCalibration() const;
    // "до 09.12.2027 (интервал 12 мес.)", or "—" without a calibration date.
    QString nextCalibrationText() const;

    bool calibration() const { return adjustment.has_value(); }
    // "Протокол калибровки", or "Протокол проверки" for a check alone.
    QString title() const;
    // "A0042-20261209-081530": registration number, date and time.
    QString number() const;
    // "Протокол_A0042_20261209_0815"
    QString fileBaseName() const;
    // The calibration date after: the one written, else the one found.
    uint16_t calibrationDateAfter() const;
    // As left when the module was adjusted, else as found.
    bool pass() const;
    // A calibration without a check after it gives no verdict.
    bool hasVerdict() const;
    // "Годен", "Не годен", or why there is no verdict.
    QString verdictText() const;
};

// "Годен" or "Не годен".
QString VerdictText(bool pass);
// The four calibration coefficients as the protocol names them, in the
// order of their registers: "Усиление, ток (8-9)", …
const QStringList& CoefficientNames();
// The form of a noun that goes with the number `n`: 1, 21 `one` ("раз"); 2-4,
// 22-24 `few` ("раза"); 5-20, 25 `many` ("раз").
QString PluralForm(int n, const QString& one, const QString& few, const QString& many);
// The module's type as the protocol names it: "QS-730 (код 17)".
QString ModuleTypeText(uint16_t code);

// A number with a decimal comma and `decimals` places: "-12,4".
QString DecimalText(double value, int decimals);

// The protocol as CSV: ';' between fields, UTF-8 with a byte-order mark,
// CRLF line ends, as the measurement log.
QByteArray ProtocolCsv(const ProtocolData& data);
