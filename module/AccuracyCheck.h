// The accuracy check of both input ranges, without widgets: the check points
// and the tolerance (and their place in the settings file), the arithmetic of
// one point (mean, spread, error in units and in % of the range's upper
// limit, verdict) and the sequence against the module: switch the mode as
// the calibration does, settle, take several readings of the value with the
// error flags, and give the user's mode and integration time back at the
// end. The sequence goes one exchange at a time, so that its caller can wait
// between them with the window live.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <vector>

#include "Calibration.h"

class ProfileFile;

enum class Range { Current, Voltage };

// The upper limit of a range as a reading: 20 mA = 20000 uA, 10 V = 10000 mV.
constexpr int UpperLimit(Range r) {
    return r == Range::Current ? 20000 : 10000;
}
// "Ток" or "Напряжение": the range as the windows and the protocol name it.
QString RangeText(Range r);
// "мкА" or "мВ": the unit of register 1025 in that range.
QString UnitText(Range r);
// "мА" or "В": the unit the points are typed and printed in.
QString SignalUnitText(Range r);

struct CheckPoint {
    Range range = Range::Current;
    int nominal = 0; // the reading it should give, uA or mV
};

struct CheckSettings {
    std::vector<int> current = {2000, 11000, 20000}; // uA
    std::vector<int> voltage = {1000, 5500, 10000};  // mV
    double tolerancePercent = 0.25;                  // of the range's upper limit
    int samples = 5;                                 // readings per point

    // The current points first, then the voltage points.
    std::vector<CheckPoint> points() const;
};

// Points as the technician types them, in mA or V: "2; 11; 20", "1; 5,5; 10".
QString PointsText(const std::vector<int>& nominals);
// Parses that text; a blank list is allowed (the range is not checked). Each
// point lies in 0..upper limit, at most 10 of them; otherwise Exception.
std::vector<int> ParsePoints(const QString& text, Range range);
// "0,25" or "0.25", above 0 and at most 10; otherwise Exception.
double ParseTolerance(const QString& text);
// "%" text of a tolerance: "0,25".
QString ToleranceText(double percent);

// The section "Check" of the tool's settings file; defaults where a key is
// missing or unreadable.
CheckSettings LoadCheckSettings(const ProfileFile& file);
// Writes the section, leaving every other byte of the file as it was.
void SaveCheckSettings(ProfileFile& file, const CheckSettings& settings);

// The prompt at a point, with the terminals as the calibration names them.
QString CheckPrompt(const CheckPoint& point);
// "2 мА", "5,5 В".
QString SignalText(const CheckPoint& point);

struct PointResult {
    CheckPoint point;
    std::vector<uint16_t> samples;
    uint8_t flags = 0; // the module's error flags (FlagBits) raised in any reading
    double mean = 0;
    double spread = 0;       // largest minus smallest reading
    double error = 0;        // mean - nominal, uA or mV
    double errorPercent = 0; // of the upper limit
    double tolerance = 0;    // uA or mV
    bool pass = false;       // within the tolerance, and no flag raised
};

// The arithmetic of one point. The verdict is "pass" when the error does not
// exceed the tolerance (at the tolerance itself it passes) and the module
// raised none of its error `flags` (FlagBits) while the readings were taken.
PointResult EvaluatePoint(const CheckPoint& point, const std::vector<uint16_t>& samples,
                          double tolerancePercent, uint8_t flags = 0);
// Why a point read under raised flags is not fit: "поднят флаг «Ошибка чтения
// АЦП»", "подняты флаги «…», «…»"; empty without flags.
QString FlagsReason(uint8_t flags);

struct CheckResult {
    ModuleRecordId module;
    QDateTime when;
    double tolerancePercent = 0.25;
    std::vector<PointResult> points;
    bool fromCalibration = false; // the calibration's own readings R1..R4

    bool pass() const; // every point passed (and there is one)
};

// The as-found record of a calibration without a check before it: its four
// readings, one sample each, against the nominal references.
CheckResult CheckFromCalibration(const CalibrationResult& calibration, double tolerancePercent);

// What the check does next at the current point. Each AccuracyCheck::advance()
// makes one exchange with the module at most; its caller waits `waitMs`,
// letting the window go on, before the next one.
struct CheckStep {
    int waitMs = 0;
    QString progress;       // what the wait is for: "Выдержка", "Отсчёт 2 из 5"
    bool pointDone = false; // the point is measured: the last of result().points
};

class AccuracyCheck {
  public:
    explicit AccuracyCheck(CheckSettings settings = {});
    // New points and tolerance, from the first point on.
    void setSettings(CheckSettings settings);
    const CheckSettings& settings() const { return settings_; }

    // The passport, then registers 264 and 265 (what the end writes back).
    // Throws ECommError.
    void begin();
    int count() const { return static_cast<int>(points_.size()); }
    int index() const { return index_; }
    bool finished() const { return index_ >= count(); }
    const CheckPoint& current() const { return points_[static_cast<std::size_t>(index_)]; }
    // The next step of the current point: the switch to its range unless the
    // module measures in it already (register 264, then 1911 with the key,
    // then the calibration's pause), the settle pause, and the readings of
    // registers 1024-1026, one integration time apart. After the last reading
    // the point is evaluated and the check moves to the next one. Throws
    // ECommError; the point then starts afresh with the next call.
    CheckStep advance();
    // Drops what the current point has gathered: the next advance() starts it
    // afresh.
    void abandonPoint();
    // Registers 264 and 265 back, then the apply command, so that the module
    // measures as the user had it; nothing when the check never switched it.
    void restore() const;
    // The check has written no mode, or the module measures in the user's
    // mode again: leaving it as it is changes nothing for the user.
    bool moduleAsFound() const;
    // The mode the check last wrote (0: none).
    uint16_t modeWritten() const { return modeWritten_; }

    uint16_t savedMode() const { return savedMode_; }
    uint16_t savedIntegrationTime() const { return savedIntegrationTime_; }
    const CheckResult& result() const { return result_; }

  private:
    CheckSettings settings_;
    std::vector<CheckPoint> points_;
    enum class Phase { Start, Apply, Settle, Read };
    Phase phase_ = Phase::Start;
    std::vector<uint16_t> samples_; // of the current point
    uint8_t flags_ = 0;             // raised in them
    int index_ = 0;
    uint16_t mode_ = 0;        // the mode the module was switched to and applied, 0: not known
    uint16_t modeWritten_ = 0; // the mode last written to register 264, 0 before the first
    uint16_t savedMode_ = 0;
    uint16_t savedIntegrationTime_ = 0;
    CheckResult result_;
};
