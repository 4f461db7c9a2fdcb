#include "Protocol.h"

#include <QStringList>
#include <cmath>

#include "Csv.h"
#include "ModuleFlags.h"
#include "Profile.h"
#include "Registers.h"
#include "ServiceParams.h"

namespace {

using csv::Bom;
using csv::Field;
using csv::LineEnd;
using csv::Separator;

const QString Section = QStringLiteral("Protocol");
const QString DateKeyFormat = QStringLiteral("yyyy-MM-dd");

QByteArray Line(const QStringList& fields) {
    QByteArray line;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += Separator;
        line += Field(fields[i]);
    }
    return line + LineEnd;
}

void CheckLines(QByteArray& out, const QString& title, const CheckResult& check) {
    for (const PointResult& p : check.points) {
        const QString unit = UnitText(p.point.range);
        out += Line({title, RangeText(p.point.range), SignalText(p.point),
                     QString::number(p.point.nominal), DecimalText(p.mean, 1),
                     DecimalText(p.spread, 0), DecimalText(p.error, 1),
                     DecimalText(p.errorPercent, 3), DecimalText(p.tolerance, 1), unit,
                     VerdictText(p.pass), FlagNames(p.flags).join(QStringLiteral(", "))});
    }
}

} // namespace

bool ProtocolPeople::referenceExpired(const QDate& today) const {
    return referenceValidUntil.isValid() && referenceValidUntil < today;
}

ProtocolPeople LoadProtocolPeople(const ProfileFile& file) {
    const auto read = [&](const char* key) {
        return file.readString(Section, QString::fromLatin1(key), QString());
    };
    ProtocolPeople p;
    p.technician = read("Technician");
    p.organisation = read("Organisation");
    p.reference = read("Reference");
    p.referenceSerial = read("ReferenceSerial");
    p.referenceValidUntil = QDate::fromString(read("ReferenceValidUntil"), DateKeyFormat);
    p.temperature = read("Temperature");
    return p;
}

void SaveProtocolPeople(ProfileFile& file, const ProtocolPeople& p) {
    // A line break would end the value in the file: kept to one line.
    const auto one = [](QString s) {
        return s.replace(QLatin1Char('\n'), QLatin1Char(' ')).trimmed();
    };
    file.write({{Section, QStringLiteral("Technician"), one(p.technician)},
                {Section, QStringLiteral("Organisation"), one(p.organisation)},
                {Section, QStringLiteral("Reference"), one(p.reference)},
                {Section, QStringLiteral("ReferenceSerial"), one(p.referenceSerial)},
                {Section, QStringLiteral("ReferenceValidUntil"),
                 p.referenceValidUntil.toString(DateKeyFormat)},
                {Section, QStringLiteral("Temperature"), one(p.temperature)}});
}

QString ProtocolData::title() const {
    return calibration() ? QStringLiteral("Протокол калибровки")
                         : QStringLiteral("Протокол проверки");
}

QString ProtocolData::number() const {
    return RegistrationText(module.serial) + made.toString(QStringLiteral("'-'yyyyMMdd'-'HHmmss"));
}

QString ProtocolData::fileBaseName() const {
    return QStringLiteral("Протокол_") + RegistrationText(module.serial) +
           made.toString(QStringLiteral("'_'yyyyMMdd'_'HHmm"));
}

uint16_t ProtocolData::calibrationDateAfter() const {
    return adjustment && adjustment->complete ? adjustment->dateWritten : module.calibrationDate;
}

QDate ProtocolData::nextCalibration() const {
    const reg::Date d = reg::UnpackDate(calibrationDateAfter());
    if (!reg::IsValidDate(d))
        return {};
    return QDate(2000 + d.year, d.month, d.day).addMonths(intervalMonths);
}

QString ProtocolData::nextCalibrationText() const {
    const QDate next = nextCalibration();
    if (!next.isValid())
        return QStringLiteral("—");
    return QStringLiteral("до %1 (интервал %2 мес.)")
        .arg(next.toString(QStringLiteral("dd.MM.yyyy")))
        .arg(intervalMonths);
}

bool ProtocolData::pass() const {
    if (adjustment)
        return asLeft && asLeft->pass();
    return asFound && asFound->pass();
}

bool ProtocolData::hasVerdict() const {
    return adjustment ? asLeft.has_value() : asFound.has_value();
}

QString ProtocolData::verdictText() const {
    if (!hasVerdict())
        return QStringLiteral("не вынесено: проверка после калибровки не проводилась");
    return VerdictText(pass());
}

const QStringList& CoefficientNames() {
    static const QStringList names = {QStringLiteral("Усиление, ток (8-9)"),
                                      QStringLiteral("Смещение, ток (10-11)"),
                                      QStringLiteral("Усиление, напряжение (12-13)"),
                                      QStringLiteral("Смещение, напряжение (14-15)")};
    return names;
}

QString VerdictText(bool pass) {
    return pass ? QStringLiteral("Годен") : QStringLiteral("Не годен");
}

QString PluralForm(int n, const QString& one, const QString& few, const QString& many) {
    const int tens = n % 100;
    const int units = n % 10;
    if (tens >= 11 && tens <= 14)
        return many;
    if (units == 1)
        return one;
    return units >= 2 && units <= 4 ? few : many;
}

QString ModuleTypeText(uint16_t code) {
    return QStringLiteral("%1 (код %2)").arg(ModuleTypeName(code)).arg(code);
}

QString DecimalText(double value, int decimals) {
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0; // no "-0,0"
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

QByteArray ProtocolCsv(const ProtocolData& d) {
    const ProtocolPeople& p = d.people;
    QByteArray out = Bom;
    out += Line({d.title(), d.number()});
    out += Line({QStringLiteral("Дата"), d.made.toString(QStringLiteral("dd.MM.yyyy HH:mm"))});
    out += Line({QStringLiteral("Тип модуля"), ModuleTypeText(d.module.type)});
    out += Line({QStringLiteral("Регистрационный номер"), RegistrationText(d.module.serial)});
    out += Line(
        {QStringLiteral("Версия ПО"), QString::fromStdString(reg::VersionText(d.module.version))});
    out += Line({QStringLiteral("Дата изготовления"), PackedDateText(d.module.manufactureDate)});
    if (d.calibration()) {
        out +=
            Line({QStringLiteral("Дата калибровки до"), PackedDateText(d.module.calibrationDate)});
        out += Line(
            {QStringLiteral("Дата калибровки после"), PackedDateText(d.calibrationDateAfter())});
    } else {
        out += Line({QStringLiteral("Дата калибровки"), PackedDateText(d.module.calibrationDate)});
    }
    out += Line({QStringLiteral("Следующая калибровка"), d.nextCalibrationText()});
    out += Line({QStringLiteral("Исполнитель"), p.technician});
    out += Line({QStringLiteral("Организация"), p.organisation});
    out += Line(
        {QStringLiteral("Эталон"), p.reference, p.referenceSerial,
         p.referenceValidUntil.toString(QStringLiteral("dd.MM.yyyy")),
         p.referenceExpired(d.made.date()) ? QStringLiteral("срок действия истёк") : QString()});
    out += Line({QStringLiteral("Температура, °C"), p.temperature});
    out += Line({QStringLiteral("Проверка"), QStringLiteral("Диапазон"), QStringLiteral("Точка"),
                 QStringLiteral("Номинал"), QStringLiteral("Среднее"), QStringLiteral("Размах"),
                 QStringLiteral("Погрешность"), QStringLiteral("Погрешность, %"),
                 QStringLiteral("Допуск"), QStringLiteral("Единица"), QStringLiteral("Вывод"),
                 QStringLiteral("Флаги")});
    if (d.asFound)
        CheckLines(out,
                   d.calibration() ? QStringLiteral("До калибровки") : QStringLiteral("Проверка"),
                   *d.asFound);
    if (d.asLeft)
        CheckLines(out, QStringLiteral("После калибровки"), *d.asLeft);
    else if (d.calibration())
        out += Line({QStringLiteral("После калибровки"), QStringLiteral("не проводилась")});
    if (d.adjustment) {
        const CalibrationResult& a = *d.adjustment;
        for (std::size_t i = 0; i < a.readings.size(); ++i)
            out += Line({QStringLiteral("Отсчёт R%1").arg(i + 1), QString::number(a.nominal[i]),
                         QString::number(a.readings[i])});
        out += Line({QStringLiteral("Коэффициент"), QStringLiteral("До"), QStringLiteral("После"),
                     QStringLiteral("Примечание")});
        for (std::size_t i = 0; i < a.held.size(); ++i)
            out += Line(
                {CoefficientNames()[static_cast<int>(i)], QString::number(a.held[i]),
                 QString::number(a.written[i]),
                 a.reset[i]
                     ? QStringLiteral("прочитан %1, сброшен к заводскому значению").arg(a.asRead[i])
                     : QString()});
    }
    out += Line({QStringLiteral("Заключение"), d.verdictText()});
    return out;
}
