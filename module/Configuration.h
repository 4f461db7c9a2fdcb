// A module's configuration: the settings that may be copied to another module
// (mode, integration time, address, speed, parity) and what belongs to this
// unit alone (type, registration number, dates, firmware version, the four
// calibration coefficients). Read from the module, saved to and read from a
// JSON file, compared, and written back under the rules of what may go where.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ServiceParams.h"

namespace config {

// The parameters in the order the window, the file and the report show them.
enum class Param {
    // copied to another module
    Mode,
    IntegrationTime,
    Address,
    Baud,
    Parity,
    // this unit's own
    Type,
    Serial,
    Manufactured,
    Version,
    GainCurrent,
    OffsetCurrent,
    GainVoltage,
    OffsetVoltage,
    Calibrated,
};
constexpr int ParamCount = 14;
constexpr std::array<Param, 5> SettingParams = {Param::Mode, Param::IntegrationTime, Param::Address,
                                                Param::Baud, Param::Parity};
constexpr std::array<Param, 9> UnitParams = {
    Param::Type,        Param::Serial,        Param::Manufactured,
    Param::Version,     Param::GainCurrent,   Param::OffsetCurrent,
    Param::GainVoltage, Param::OffsetVoltage, Param::Calibrated};
constexpr std::array<Param, 5> CalibrationParams = {Param::GainCurrent, Param::OffsetCurrent,
                                                    Param::GainVoltage, Param::OffsetVoltage,
                                                    Param::Calibrated};
// What each step of a write sends.
constexpr std::array<Param, 2> MeasurementParams = {Param::Mode, Param::IntegrationTime};
constexpr std::array<Param, 3> LinkSettingParams = {Param::Address, Param::Baud, Param::Parity};

// Each value as the module holds it: the register word (mode 1 or 2, the
// serial-number word, the version word, a date as PackedDate with bit 5
// set), the speed in bit/s, a coefficient's 32 bits. Nothing where it is not
// known: a value no module may hold (speed code 100, parity 3, a date that
// is none), the coefficients while their checksum is bad, or a read that
// stopped before it.
using Value = std::optional<uint32_t>;
using Values = std::array<Value, ParamCount>;

struct Configuration {
    Values values;
    QDateTime read;  // when it was read from the module
    QString program; // the program that saved it (a file's)

    Value& operator[](Param p) { return values[static_cast<std::size_t>(p)]; }
    const Value& operator[](Param p) const { return values[static_cast<std::size_t>(p)]; }
};

// "Режим измерения"
QString ParamName(Param p);
// Where it lies in the file: "settings.mode"
QString ParamKey(Param p);
// As the window shows it: "Ток", "19200", "A0042", "15.03.2026"; "—" when not known.
QString ValueText(Param p, const Value& v);

// ---- The module

// Reads every parameter: 264-265, 257-259, 768-769, 0-1, 256, 1024 and the
// coefficients 8-15 (not while flag bit 3 says their checksum is bad), in
// this order, each value into `out` as soon as it is read. Throws
// ECommError at a failed exchange; what was read before stays in `out`.
void ReadConfiguration(Configuration& out);

// ---- The file

// The largest file taken for a configuration: a saved one is under 1 KiB, so
// anything far beyond is refused before it is read.
constexpr qint64 MaxFileSize = 64 * 1024;

// A text of a file as a message or the window quotes it: its first few dozen
// characters, and "…" where there is more; line breaks and other control
// characters as spaces.
QString Clipped(const QString& text);

// The file's text: UTF-8 JSON, documented in the README.
QByteArray ConfigurationJson(const Configuration& c);
// Reads a file's text and checks every value. Throws Exception naming the
// file (`path`) and the parameter: larger than MaxFileSize, not such a file,
// damaged or cut short, a parameter missing, of the wrong kind or out of
// range (the value quoted Clipped).
Configuration ParseConfiguration(const QByteArray& bytes, const QString& path);
// Reads the file at `path` (Exception "Невозможно открыть файл «…»"); a file
// larger than MaxFileSize is refused without being read.
Configuration LoadConfiguration(const QString& path);

// ---- Comparison

struct Row {
    Param param;
    Value file;
    Value module;
    bool same() const { return file == module; }
};
std::vector<Row> Compare(const Configuration& file, const Configuration& module);
// What sets the file apart from the module as a whole: another type, another
// unit (registration number), another firmware version. Empty when none.
QStringList Differences(const Configuration& file, const Configuration& module);

// ---- Writing a file's configuration into a module

struct WritePlan {
    Configuration file;
    bool calibration = false; // also the coefficients and the calibration date
    bool link = false;        // address, speed or parity differ from the module's
    bool otherFirmware = false;
};

// Checks a write before anything is sent: the module must be of the file's
// type, the file must hold every setting, and the calibration goes only into
// the unit it was saved from and only when the file has it. Throws
// Exception saying what stands in the way.
WritePlan PlanWrite(const Configuration& file, const Configuration& module, bool calibration);

// Mode and integration time (one block write), then the apply command.
void WriteMeasurement(const Configuration& file);
// The four coefficients and then the calibration date, each an unlocked
// write; a file without a date writes 0, which reads as never calibrated.
void WriteCalibration(const Configuration& file);
// The module link the file holds.
module::LinkParams LinkOf(const Configuration& file);

} // namespace config
