// The accuracy check of both input ranges, without widgets: the check points
// and the tolerance (and their place in the settings file), the arithmetic of
// one point (mean, spread, error in units and in % of the range's upper
// limit, verdict) and the sequence against the module: switch the mode as
// the calibration does, settle, take several readings of register 1025, and
// give the user's mode and integration time back at the end.
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
    double mean = 0;
    double spread = 0;       // largest minus smallest reading
    double error = 0;        // mean - nominal, uA or mV
    double errorPercent = 0; // of the upper limit
    double tolerance = 0;    // uA or mV
    bool pass = false;
};

// The arithmetic of one point. The verdict is "pass" when the error does not
// exceed the tolerance (at the tolerance itself it passes).
PointResult EvaluatePoint(const CheckPoint& point, const std::vector<uint16_t>& samples,
                          double tolerancePercent);

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
    // Switches the module to the mode of the current point unless it is in
    // it already: register 264, 1911 with the key, the calibration's pause.
    void prepare();
    // The settle pause, then the readings of the current point, one
    // integration time apart; evaluates them and moves to the next point.
    const PointResult& measure();
    // Registers 264 and 265 back, then the apply command, so that the module
    // measures as the user had it.
    void restore() const;

    uint16_t savedMode() const { return savedMode_; }
    uint16_t savedIntegrationTime() const { return savedIntegrationTime_; }
    const CheckResult& result() const { return result_; }

  private:
    CheckSettings settings_;
    std::vector<CheckPoint> points_;
    int index_ = 0;
    uint16_t mode_ = 0; // the mode switched to, 0 before the first point
    uint16_t savedMode_ = 0;
    uint16_t savedIntegrationTime_ = 0;
    CheckResult result_;
};
