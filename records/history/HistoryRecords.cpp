#include "HistoryRecords.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace History {

namespace {
QString DateIso(uint16_t packed) {
    const QDate d = QDate::fromString(PackedDateText(packed), QStringLiteral("dd.MM.yyyy"));
    return d.isValid() ? d.toString(Qt::ISODate) : QString();
}

QJsonArray Coefficients(const CoefficientSet& c) {
    QJsonArray a;
    for (uint32_t v : c)
        a.append(static_cast<qint64>(v));
    return a;
}

QJsonObject IdJson(const ModuleRecordId& id) {
    return {
        {QStringLiteral("type"), id.type},
        {QStringLiteral("typeName"), ModuleTypeName(id.type)},
        {QStringLiteral("serial"), RegistrationOf(id.serial)},
        {QStringLiteral("firmware"), QStringLiteral("%1.%2")
                                         .arg(id.version >> 8)
                                         .arg(id.version & 0xFF, 2, 10, QLatin1Char('0'))},
        {QStringLiteral("manufactured"), DateIso(id.manufactureDate)},
        {QStringLiteral("calibrationDate"), DateIso(id.calibrationDate)},
    };
}

QJsonObject LinkJson(const module::LinkParams& l) {
    return {{QStringLiteral("address"), l.address},
            {QStringLiteral("baud"), static_cast<qint64>(l.baud)},
            {QStringLiteral("parity"), l.parity}};
}
} // namespace

QString RegistrationOf(uint16_t serialWord) {
    return RegistrationText(serialWord, QStringLiteral("?"));
}

Entry SeenEntry(const ModuleRecordId& id, const QString& where) {
    Entry e = NewEntry(Kind::Seen, RegistrationOf(id.serial), id.type);
    QJsonObject d = IdJson(id);
    d[QStringLiteral("where")] = where;
    e.details = d;
    e.summary =
        QStringLiteral("%1, ПО %2, %3")
            .arg(ModuleTypeName(id.type), d.value(QStringLiteral("firmware")).toString(), where);
    return e;
}

QJsonArray PointsJson(const std::vector<PointResult>& points) {
    QJsonArray a;
    for (const PointResult& p : points)
        a.append(QJsonObject{
            {QStringLiteral("range"), p.point.range == Range::Current ? QStringLiteral("current")
                                                                      : QStringLiteral("voltage")},
            {QStringLiteral("nominal"), p.point.nominal},
            {QStringLiteral("mean"), p.mean},
            {QStringLiteral("error"), p.error},
            {QStringLiteral("errorPercent"), p.errorPercent},
            {QStringLiteral("tolerance"), p.tolerance},
            {QStringLiteral("flags"), p.flags},
            {QStringLiteral("pass"), p.pass},
        });
    return a;
}

static QJsonObject CheckJson(const CheckResult& c) {
    return {{QStringLiteral("when"), c.when.toUTC().toString(Qt::ISODateWithMs)},
            {QStringLiteral("tolerancePercent"), c.tolerancePercent},
            {QStringLiteral("fromCalibration"), c.fromCalibration},
            {QStringLiteral("pass"), c.pass()},
            {QStringLiteral("points"), PointsJson(c.points)}};
}

Entry ProtocolEntry(const ProtocolData& data, const QList<RecordFile>& files) {
    const Kind kind = data.calibration() ? Kind::Calibration : Kind::Check;
    Entry e = NewEntry(kind, RegistrationOf(data.module.serial), data.module.type,
                       data.people.technician);
    QJsonObject d;
    d[QStringLiteral("number")] = data.number();
    d[QStringLiteral("module")] = IdJson(data.module);
    d[QStringLiteral("organisation")] = data.people.organisation;
    d[QStringLiteral("reference")] = data.people.reference;
    d[QStringLiteral("referenceSerial")] = data.people.referenceSerial;
    d[QStringLiteral("referenceValidUntil")] =
        data.people.referenceValidUntil.toString(Qt::ISODate);
    d[QStringLiteral("temperature")] = data.people.temperature;
    if (data.asFound) {
        d[QStringLiteral("asFound")] = PointsJson(data.asFound->points);
        d[QStringLiteral("tolerancePercent")] = data.asFound->tolerancePercent;
    }
    if (data.asLeft) {
        d[QStringLiteral("asLeft")] = PointsJson(data.asLeft->points);
        d[QStringLiteral("tolerancePercent")] = data.asLeft->tolerancePercent;
    }
    if (data.adjustment) {
        d[QStringLiteral("before")] = Coefficients(data.adjustment->asRead);
        d[QStringLiteral("after")] = Coefficients(data.adjustment->written);
        d[QStringLiteral("dateWritten")] = DateIso(data.adjustment->dateWritten);
    }
    d[QStringLiteral("verdict")] = data.verdictText();
    QJsonArray fileList;
    for (const RecordFile& f : files)
        fileList.append(QJsonObject{{QStringLiteral("name"), QDir::toNativeSeparators(f.path)},
                                    {QStringLiteral("sha256"), Sha256Hex(f.bytes)}});
    if (!files.isEmpty()) {
        d[QStringLiteral("files")] = fileList;
        e.fileName = files.first().path;
        e.fileSha256 = Sha256Hex(files.first().bytes);
    }
    e.details = d;
    e.summary = QStringLiteral("%1 %2: %3").arg(data.title(), data.number(), data.verdictText());
    if (!files.isEmpty())
        e.summary += QStringLiteral(" (протокол сохранён)");
    if (data.made.isValid())
        e.made = data.made.toUTC();
    // The entry made when the calibration ended and the one made when its
    // protocol was saved tell apart by their files; the same save twice is
    // one entry.
    if (!files.isEmpty())
        e.uid = QStringLiteral("protocol-%1-%2").arg(data.number(), e.fileSha256.left(16));
    return e;
}

Entry CheckEntry(const CheckResult& check, const QString& technician) {
    Entry e =
        NewEntry(Kind::Check, RegistrationOf(check.module.serial), check.module.type, technician);
    QJsonObject d = CheckJson(check);
    d[QStringLiteral("module")] = IdJson(check.module);
    e.details = d;
    e.summary = QStringLiteral("Проверка точности: %1").arg(VerdictText(check.pass()));
    return e;
}

Entry ConfigEntry(Kind kind, const config::Configuration& module, const QString& path,
                  const QByteArray& content, const QString& outcome) {
    const uint16_t serial = static_cast<uint16_t>(module[config::Param::Serial].value_or(0));
    const int type = static_cast<int>(module[config::Param::Type].value_or(0));
    Entry e = NewEntry(kind, RegistrationOf(serial), type);
    e.fileName = QDir::toNativeSeparators(path);
    e.fileSha256 = Sha256Hex(content);
    QJsonObject d;
    d[QStringLiteral("content")] = QString::fromUtf8(content);
    QJsonObject values;
    for (int i = 0; i < config::ParamCount; ++i) {
        const auto p = static_cast<config::Param>(i);
        values[config::ParamKey(p)] = config::ValueText(p, module[p]);
    }
    d[QStringLiteral("module")] = values;
    if (!outcome.isEmpty())
        d[QStringLiteral("outcome")] = outcome;
    e.details = d;
    e.summary = QStringLiteral("%1: %2").arg(KindText(kind), QFileInfo(path).fileName());
    return e;
}

Entry PassportEntry(uint16_t serialBefore, uint16_t serialAfter, int typeCode,
                    const QString& manufactured) {
    Entry e = NewEntry(Kind::Passport, RegistrationOf(serialAfter), typeCode);
    e.details = {{QStringLiteral("serialBefore"), RegistrationOf(serialBefore)},
                 {QStringLiteral("serialAfter"), RegistrationOf(serialAfter)},
                 {QStringLiteral("manufactured"), manufactured}};
    e.summary =
        serialBefore == serialAfter
            ? QStringLiteral("Паспорт записан: изготовлен %1").arg(manufactured)
            : QStringLiteral("Паспорт записан: рег. номер %1 вместо %2, изготовлен %3")
                  .arg(RegistrationOf(serialAfter), RegistrationOf(serialBefore), manufactured);
    return e;
}

Entry LinkEntry(const module::ModuleLinkOutcome& r, int typeCode) {
    Entry e = NewEntry(Kind::Link, RegistrationOf(r.serial), typeCode);
    e.details = {{QStringLiteral("before"), LinkJson(r.before)},
                 {QStringLiteral("target"), LinkJson(r.target)},
                 {QStringLiteral("holds"), LinkJson(r.holds)},
                 {QStringLiteral("complete"), r.complete()},
                 {QStringLiteral("failure"), r.failure}};
    e.summary = QStringLiteral("Параметры связи: %1 → %2")
                    .arg(module::LinkText(r.before), module::LinkText(r.holds));
    if (!r.complete())
        e.summary += QStringLiteral(" (запись прервана)");
    return e;
}

Entry RestartsEntry(uint16_t serialWord, int typeCode, int count, bool cleared) {
    Entry e = NewEntry(Kind::Restarts, RegistrationOf(serialWord), typeCode);
    e.details = {{QStringLiteral("count"), count}, {QStringLiteral("cleared"), cleared}};
    e.summary = cleared ? QStringLiteral("Счётчик перезапусков обнулён")
                        : QStringLiteral("Счётчик перезапусков: %1").arg(count);
    return e;
}

Entry IntervalEntry(const QString& registration, int typeCode, int months) {
    Entry e = NewEntry(Kind::Interval, registration, typeCode);
    e.details = {{QStringLiteral("months"), months}};
    e.summary = registration.isEmpty() ? QStringLiteral("Интервал для типа %1: %2 мес.")
                                             .arg(ModuleTypeName(static_cast<uint16_t>(typeCode)))
                                             .arg(months)
                                       : QStringLiteral("Интервал: %1 мес.").arg(months);
    return e;
}

} // namespace History
