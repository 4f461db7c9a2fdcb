#include "AccuracyCheck.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include "Errors.h"
#include "Func.h"
#include "ModuleFlags.h"
#include "Profile.h"

namespace {

const QString Section = QStringLiteral("Check");
constexpr int MaxPoints = 10;
constexpr double MaxTolerance = 10.0;
constexpr int MaxSamples = 50;
constexpr int SettleMs = 6000; // for the signal at the input to settle

// A number with a decimal comma or point.
std::optional<double> Decimal(QString text) {
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A reading in uA or mV as mA or V with a decimal comma: 5500 -> "5,5".
QString Thousandths(int value) {
    QString t = QString::number(value / 1000.0, 'f', 3);
    while (t.endsWith(QLatin1Char('0')))
        t.chop(1);
    if (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    return t.replace(QLatin1Char('.'), QLatin1Char(','));
}

QString Numbers(const std::vector<int>& values) {
    QStringList parts;
    for (int v : values)
        parts << QString::number(v);
    return parts.join(QLatin1Char(','));
}

// Whether `text` is a whole decimal number, however long.
bool IsWholeNumber(const QString& text) {
    const qsizetype digits = text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+'));
    return text.size() > digits && std::all_of(text.begin() + digits, text.end(), [](QChar c) {
               return c >= QLatin1Char('0') && c <= QLatin1Char('9');
           });
}

// Stored points, or the defaults: when the entry holds no list of numbers,
// and, noted, when any of them is out of its range or there are too many.
std::vector<int> StoredPoints(const ProfileFile& file, const QString& key, Range range,
                              const std::vector<int>& def) {
    const QString text = file.readString(Section, key, Numbers(def));
    std::vector<int> out;
    bool outside = false;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok);
        if (!ok && !IsWholeNumber(part.trimmed()))
            return def;
        outside |= !ok || v < 0 || v > UpperLimit(range);
        out.push_back(v);
    }
    if (outside || out.size() > MaxPoints) {
        file.noteIgnored(Section, key, text,
                         QStringLiteral("не больше %1 точек от 0 до %2 %3")
                             .arg(MaxPoints)
                             .arg(UpperLimit(range))
                             .arg(UnitText(range)),
                         Numbers(def));
        return def;
    }
    return out;
}

} // namespace

QString RangeText(Range r) {
    return r == Range::Current ? QStringLiteral("Ток") : QStringLiteral("Напряжение");
}

QString UnitText(Range r) {
    return r == Range::Current ? QStringLiteral("мкА") : QStringLiteral("мВ");
}

QString SignalUnitText(Range r) {
    return r == Range::Current ? QStringLiteral("мА") : QStringLiteral("В");
}

std::vector<CheckPoint> CheckSettings::points() const {
    std::vector<CheckPoint> out;
    for (int v : current)
        out.push_back({Range::Current, v});
    for (int v : voltage)
        out.push_back({Range::Voltage, v});
    return out;
}

QString PointsText(const std::vector<int>& nominals) {
    QStringList parts;
    for (int v : nominals)
        parts << Thousandths(v);
    return parts.join(QStringLiteral("; "));
}

std::vector<int> ParsePoints(const QString& text, Range range) {
    const QString unit = SignalUnitText(range);
    const QString limit = Thousandths(UpperLimit(range));
    std::vector<int> out;
    for (const QString& part :
         text.split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts)) {
        const auto v = Decimal(part);
        if (!v || *v < 0 || *v * 1000 > UpperLimit(range) + 1e-9)
            throw Exception(QStringLiteral("Точка \"%1\" должна быть числом от 0 до %2 %3!")
                                .arg(part, limit, unit));
        out.push_back(static_cast<int>(std::lround(*v * 1000)));
    }
    if (out.size() > MaxPoints)
        throw Exception(QStringLiteral("Не больше %1 точек в диапазоне!").arg(MaxPoints));
    return out;
}

double ParseTolerance(const QString& text) {
    const auto v = Decimal(text);
    if (!v || *v <= 0 || *v > MaxTolerance)
        throw Exception(QStringLiteral("Допуск должен быть больше 0 и не больше 10 %!"));
    return *v;
}

QString ToleranceText(double percent) {
    QString t = QString::number(percent, 'g', 6);
    return t.replace(QLatin1Char('.'), QLatin1Char(','));
}

CheckSettings LoadCheckSettings(const ProfileFile& file) {
    CheckSettings s;
    const CheckSettings def;
    s.current = StoredPoints(file, QStringLiteral("Current"), Range::Current, def.current);
    s.voltage = StoredPoints(file, QStringLiteral("Voltage"), Range::Voltage, def.voltage);
    if (s.current.empty() && s.voltage.empty()) {
        s.current = def.current;
        s.voltage = def.voltage;
    }
    const QString tolText = file.readString(Section, QStringLiteral("Tolerance"), QString());
    const auto tol = Decimal(tolText);
    const bool tolFits = tol && *tol > 0 && *tol <= MaxTolerance;
    s.tolerancePercent = tolFits ? *tol : def.tolerancePercent;
    if (tol && !tolFits)
        file.noteIgnored(Section, QStringLiteral("Tolerance"), tolText,
                         QStringLiteral("больше 0 и не больше %1").arg(MaxTolerance),
                         QString::number(def.tolerancePercent));
    s.samples = file.readInteger(Section, QStringLiteral("Samples"), def.samples, 1, MaxSamples);
    return s;
}

void SaveCheckSettings(ProfileFile& file, const CheckSettings& s) {
    file.write({{Section, QStringLiteral("Current"), Numbers(s.current)},
                {Section, QStringLiteral("Voltage"), Numbers(s.voltage)},
                {Section, QStringLiteral("Tolerance"), QString::number(s.tolerancePercent, 'g', 6)},
                {Section, QStringLiteral("Samples"), QString::number(s.samples)}});
}

QString SignalText(const CheckPoint& point) {
    return Thousandths(point.nominal) + QLatin1Char(' ') + SignalUnitText(point.range);
}

QString CheckPrompt(const CheckPoint& point) {
    if (point.range == Range::Current)
        return QStringLiteral("Подайте на вход(клеммы \"11\"+ \"10\"- )  ток  ") +
               SignalText(point);
    return QStringLiteral("Подайте на вход(клеммы \"9\"+ \"12\"-)  напряжение  ") +
           SignalText(point);
}

PointResult EvaluatePoint(const CheckPoint& point, const std::vector<uint16_t>& samples,
                          double tolerancePercent, uint8_t flags) {
    PointResult r;
    r.point = point;
    r.samples = samples;
    r.flags = flags;
    const double upper = UpperLimit(point.range);
    r.tolerance = upper * tolerancePercent / 100.0;
    if (samples.empty())
        return r;
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    r.mean =
        std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    r.spread = static_cast<double>(*hi) - static_cast<double>(*lo);
    r.error = r.mean - point.nominal;
    r.errorPercent = r.error * 100.0 / upper;
    // Compared in units, with room for the rounding of the tolerance itself
    // (0.25 % of 20000 is 50 exactly, but not as a double product).
    r.pass = std::fabs(r.error) <= r.tolerance * (1 + 1e-12) && flags == 0;
    return r;
}

QString FlagsReason(uint8_t flags) {
    const QStringList names = FlagNames(flags);
    if (names.isEmpty())
        return QString();
    const QString quoted =
        QStringLiteral("«") + names.join(QStringLiteral("», «")) + QStringLiteral("»");
    return (names.size() == 1 ? QStringLiteral("поднят флаг ") : QStringLiteral("подняты флаги ")) +
           quoted;
}

bool CheckResult::pass() const {
    return !points.empty() &&
           std::all_of(points.begin(), points.end(), [](const PointResult& p) { return p.pass; });
}

CheckResult CheckFromCalibration(const CalibrationResult& calibration, double tolerancePercent) {
    CheckResult r;
    r.module = calibration.module;
    r.when = QDateTime::currentDateTime();
    r.tolerancePercent = tolerancePercent;
    r.fromCalibration = true;
    for (std::size_t i = 0; i < calibration.readings.size(); ++i) {
        const CheckPoint point{i < 2 ? Range::Current : Range::Voltage, calibration.nominal[i]};
        r.points.push_back(EvaluatePoint(point, {calibration.readings[i]}, tolerancePercent));
    }
    return r;
}

// ---- AccuracyCheck

AccuracyCheck::AccuracyCheck(CheckSettings settings)
    : settings_(std::move(settings)), points_(settings_.points()) {
    result_.tolerancePercent = settings_.tolerancePercent;
}

void AccuracyCheck::setSettings(CheckSettings settings) {
    settings_ = std::move(settings);
    points_ = settings_.points();
    index_ = 0;
    result_.points.clear();
    result_.tolerancePercent = settings_.tolerancePercent;
}

void AccuracyCheck::begin() {
    result_.module = ReadModuleRecordId();
    ReadRegister(reg::Mode, savedMode_);
    ReadRegister(reg::IntegrationTime, savedIntegrationTime_);
}

CheckStep AccuracyCheck::advance() {
    try {
        const bool voltage = current().range == Range::Voltage;
        const uint16_t mode = voltage ? reg::ModeVoltage : reg::ModeCurrent;
        const QString switching = voltage ? QStringLiteral("Переключение на измерение напряжения")
                                          : QStringLiteral("Переключение на измерение тока");
        switch (phase_) {
        case Phase::Start:
            samples_.clear();
            flags_ = 0;
            if (mode != mode_) {
                mode_ = 0; // which one it measures is known once the switch is applied
                modeWritten_ = mode;
                WriteRegister(reg::Mode, mode);
                phase_ = Phase::Apply;
                return {0, switching};
            }
            phase_ = Phase::Read;
            return {SettleMs, QStringLiteral("Выдержка")};
        case Phase::Apply:
            WriteRegister(reg::Apply, UnlockKey);
            mode_ = mode;
            phase_ = Phase::Settle;
            return {voltage ? 4000 : 3000, switching}; // as the calibration waits
        case Phase::Settle:
            phase_ = Phase::Read;
            return {SettleMs, QStringLiteral("Выдержка")};
        case Phase::Read:
            break;
        }
        uint16_t words[3] = {};
        ReadRegisters(reg::FlagsA, 3, words);
        samples_.push_back(words[1]);
        flags_ |= FlagBits(words[0], words[2]);
        const int taken = static_cast<int>(samples_.size());
        if (taken < settings_.samples)
            return {std::clamp<int>(savedIntegrationTime_, 50, 5000),
                    QStringLiteral("Отсчёт %1 из %2").arg(taken + 1).arg(settings_.samples)};
        result_.points.push_back(
            EvaluatePoint(current(), samples_, settings_.tolerancePercent, flags_));
        result_.when = QDateTime::currentDateTime();
        ++index_;
        phase_ = Phase::Start;
        return {0, QString(), true};
    } catch (...) {
        abandonPoint();
        throw;
    }
}

void AccuracyCheck::abandonPoint() {
    phase_ = Phase::Start;
    samples_.clear();
    flags_ = 0;
}

bool AccuracyCheck::moduleAsFound() const {
    return modeWritten_ == 0 || (mode_ != 0 && mode_ == savedMode_);
}

void AccuracyCheck::restore() const {
    if (modeWritten_ == 0)
        return;
    WriteRegister(reg::Mode, savedMode_);
    WriteRegister(reg::IntegrationTime, savedIntegrationTime_);
    WriteRegister(reg::Apply, UnlockKey);
}
