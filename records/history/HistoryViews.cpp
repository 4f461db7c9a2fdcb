#include "HistoryViews.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <cmath>

#include "Configuration.h"
#include "Csv.h"
#include "ModuleFlags.h"
#include "Protocol.h"
#include "ServiceParams.h"

namespace History {

QList<ModuleRow> FilterFleet(const QList<ModuleRow>& rows, const QString& search,
                             std::optional<DueState> state) {
    QList<ModuleRow> out;
    const QString s = search.trimmed();
    for (const ModuleRow& r : rows) {
        if (!s.isEmpty() && !r.registration.contains(s, Qt::CaseInsensitive))
            continue;
        if (state && r.state != *state)
            continue;
        out.append(r);
    }
    return out;
}

QString DayText(const QDate& d) {
    return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QStringLiteral("—");
}

QString TimeText(const QDateTime& utc) {
    return utc.isValid() ? utc.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"))
                         : QStringLiteral("—");
}

QByteArray FleetCsv(const QList<ModuleRow>& rows) {
    const auto line = [](const QStringList& fields) {
        QByteArray out;
        for (int i = 0; i < fields.size(); ++i) {
            if (i)
                out += csv::Separator;
            out += csv::Field(fields[i]);
        }
        return out + csv::LineEnd;
    };
    QByteArray out = csv::Bom;
    out += line({QStringLiteral("Рег. номер"), QStringLiteral("Тип"),
                 QStringLiteral("Последняя калибровка"), QStringLiteral("Интервал, мес."),
                 QStringLiteral("Срок"), QStringLiteral("Состояние"),
                 QStringLiteral("Последняя связь")});
    for (const ModuleRow& r : rows)
        out += line({r.registration,
                     r.moduleType ? ModuleTypeText(static_cast<uint16_t>(r.moduleType))
                                  : QStringLiteral("—"),
                     DayText(r.lastCalibration), QString::number(r.intervalMonths), DayText(r.due),
                     DueStateText(r.state), TimeText(r.lastSeen)});
    return out;
}

QList<TimelineItem> Timeline(const QList<Entry>& entries) {
    QSet<QString> correctedUids;
    for (const Entry& e : entries)
        if (!e.corrects.isEmpty())
            correctedUids.insert(e.corrects);
    QList<TimelineItem> out;
    for (const Entry& e : entries) {
        TimelineItem item;
        item.entry = e;
        item.corrected = correctedUids.contains(e.uid);
        item.line = QStringLiteral("%1  %2").arg(
            TimeText(e.made), e.summary.isEmpty() ? KindText(e.kind) : e.summary);
        if (item.corrected)
            item.line += QStringLiteral("  (исправлена)");
        out.append(item);
    }
    return out;
}

// The details' keys as the technician reads them; a key not here shows as it is.
static QString KeyText(const QString& key) {
    static const QHash<QString, QString> names = {
        {QStringLiteral("asFound"), QStringLiteral("Как найден")},
        {QStringLiteral("asLeft"), QStringLiteral("Как оставлен")},
        {QStringLiteral("before"), QStringLiteral("Коэффициенты до")},
        {QStringLiteral("after"), QStringLiteral("Коэффициенты после")},
        {QStringLiteral("error"), QStringLiteral("Погрешность")},
        {QStringLiteral("errorPercent"), QStringLiteral("Погрешность, %")},
        {QStringLiteral("nominal"), QStringLiteral("Номинал")},
        {QStringLiteral("mean"), QStringLiteral("Среднее")},
        {QStringLiteral("pass"), QStringLiteral("Вывод")},
        {QStringLiteral("range"), QStringLiteral("Диапазон")},
        {QStringLiteral("flags"), QStringLiteral("Флаги")},
        {QStringLiteral("tolerance"), QStringLiteral("Допуск")},
        {QStringLiteral("tolerancePercent"), QStringLiteral("Допуск, %")},
        {QStringLiteral("reference"), QStringLiteral("Эталон")},
        {QStringLiteral("referenceSerial"), QStringLiteral("Заводской номер эталона")},
        {QStringLiteral("referenceValidUntil"), QStringLiteral("Эталон действителен до")},
        {QStringLiteral("verdict"), QStringLiteral("Заключение")},
        {QStringLiteral("number"), QStringLiteral("Номер протокола")},
        {QStringLiteral("module"), QStringLiteral("Модуль")},
        {QStringLiteral("files"), QStringLiteral("Файлы")},
        {QStringLiteral("name"), QStringLiteral("Имя")},
        {QStringLiteral("sha256"), QStringLiteral("SHA-256")},
        {QStringLiteral("firmware"), QStringLiteral("Версия ПО")},
        {QStringLiteral("serial"), QStringLiteral("Рег. номер")},
        {QStringLiteral("type"), QStringLiteral("Код типа")},
        {QStringLiteral("typeName"), QStringLiteral("Тип")},
        {QStringLiteral("manufactured"), QStringLiteral("Дата изготовления")},
        {QStringLiteral("calibrationDate"), QStringLiteral("Дата калибровки")},
        {QStringLiteral("dateWritten"), QStringLiteral("Записанная дата калибровки")},
        {QStringLiteral("where"), QStringLiteral("Подключение")},
        {QStringLiteral("organisation"), QStringLiteral("Организация")},
        {QStringLiteral("temperature"), QStringLiteral("Температура, °C")},
        {QStringLiteral("outcome"), QStringLiteral("Итог")},
        {QStringLiteral("months"), QStringLiteral("Интервал, мес.")},
        {QStringLiteral("count"), QStringLiteral("Счётчик")},
        {QStringLiteral("cleared"), QStringLiteral("Обнулён")},
        {QStringLiteral("when"), QStringLiteral("Время")},
        {QStringLiteral("fromCalibration"), QStringLiteral("По отсчётам калибровки")},
        {QStringLiteral("points"), QStringLiteral("Точки")},
        {QStringLiteral("imported"), QStringLiteral("Импортирована")},
        {QStringLiteral("failure"), QStringLiteral("Сбой")},
        {QStringLiteral("complete"), QStringLiteral("Полностью")},
        {QStringLiteral("target"), QStringLiteral("Задано")},
        {QStringLiteral("holds"), QStringLiteral("В модуле")},
        {QStringLiteral("address"), QStringLiteral("Адрес")},
        {QStringLiteral("baud"), QStringLiteral("Скорость")},
        {QStringLiteral("parity"), QStringLiteral("Паритет")},
        {QStringLiteral("serialBefore"), QStringLiteral("Рег. номер до")},
        {QStringLiteral("serialAfter"), QStringLiteral("Рег. номер после")},
    };
    return names.value(key, key);
}

namespace {

// Where a value stands: the entry's kind, and the range of the check point
// it belongs to (its currents and voltages are read in that range's units).
struct Where {
    Kind kind = Kind::Seen;
    std::optional<Range> range;
};

std::optional<Range> RangeOf(const QJsonValue& v) {
    if (v.toString() == QStringLiteral("current"))
        return Range::Current;
    if (v.toString() == QStringLiteral("voltage"))
        return Range::Voltage;
    return std::nullopt;
}

// A number with a decimal comma; a whole one without decimals.
QString NumberText(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15)
        return QString::number(static_cast<qint64>(v));
    return QString::number(v, 'g', 10).replace(QLatin1Char('.'), QLatin1Char(','));
}

// Dates and times the entries keep in ISO form, in the local form; other
// text as it is, "—" for none.
QString StringText(const QString& s) {
    if (s.isEmpty())
        return QStringLiteral("—");
    if (s.size() == 10) {
        const QDate d = QDate::fromString(s, Qt::ISODate);
        if (d.isValid())
            return DayText(d);
    }
    if (s.size() >= 19 && s.at(10) == QLatin1Char('T')) {
        const QDateTime t = QDateTime::fromString(s, Qt::ISODateWithMs);
        if (t.isValid())
            return TimeText(t);
    }
    return s;
}

// A value with no parts, as the technician reads it.
QString LeafText(const QString& key, const QJsonValue& v, const Where& at) {
    if (key == QStringLiteral("range")) {
        const auto r = RangeOf(v);
        return r ? RangeText(*r) : StringText(v.toString());
    }
    if (v.isBool()) {
        if (key == QStringLiteral("pass"))
            return VerdictText(v.toBool());
        return v.toBool() ? QStringLiteral("да") : QStringLiteral("нет");
    }
    if (v.isString())
        return StringText(v.toString());
    if (!v.isDouble())
        return QStringLiteral("—");
    const double d = v.toDouble();
    if (key == QStringLiteral("flags")) {
        const QStringList names = FlagNames(static_cast<uint8_t>(v.toInt()));
        return names.isEmpty() ? QStringLiteral("нет") : names.join(QStringLiteral(", "));
    }
    if (key == QStringLiteral("errorPercent"))
        return DecimalText(d, 3);
    if (key == QStringLiteral("tolerancePercent"))
        return ToleranceText(d);
    if (at.range) {
        if (key == QStringLiteral("nominal"))
            return SignalText(CheckPoint{*at.range, v.toInt()});
        if (key == QStringLiteral("mean") || key == QStringLiteral("error") ||
            key == QStringLiteral("tolerance"))
            return DecimalText(d, 1) + QLatin1Char(' ') + UnitText(*at.range);
    }
    return NumberText(d);
}

// A configuration's values are kept by their place in the file
// ("settings.mode"); the window names them.
QString ConfigKeyText(const QString& key) {
    for (int i = 0; i < config::ParamCount; ++i) {
        const auto p = static_cast<config::Param>(i);
        if (config::ParamKey(p) == key)
            return config::ParamName(p);
    }
    return key;
}

QString KeyTextAt(const QString& key, const Where& at) {
    if (at.kind == Kind::Link && key == QStringLiteral("before"))
        return QStringLiteral("Было");
    const QString named = KeyText(key);
    return named == key ? ConfigKeyText(key) : named;
}

void AddValue(QStringList& lines, const QString& rawKey, const QJsonValue& v, int depth, Where at) {
    const QString pad(depth * 2, QLatin1Char(' '));
    const QString key = KeyTextAt(rawKey, at);
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        // A link as the status line shows it.
        if (at.kind == Kind::Link && o.contains(QStringLiteral("baud"))) {
            const module::LinkParams link{o.value(QStringLiteral("address")).toInt(),
                                          o.value(QStringLiteral("baud")).toInt(),
                                          o.value(QStringLiteral("parity")).toInt()};
            lines << pad + key + QStringLiteral(": ") + module::LinkText(link);
            return;
        }
        lines << pad + key + QLatin1Char(':');
        for (auto it = o.begin(); it != o.end(); ++it)
            AddValue(lines, it.key(), it.value(), depth + 1, at);
    } else if (v.isArray()) {
        lines << pad + key + QLatin1Char(':');
        const QJsonArray a = v.toArray();
        const bool coefficients =
            (rawKey == QStringLiteral("before") || rawKey == QStringLiteral("after")) &&
            a.size() == CoefficientNames().size();
        for (int i = 0; i < a.size(); ++i) {
            const QJsonObject point = a[i].toObject();
            const auto range = RangeOf(point.value(QStringLiteral("range")));
            if (range && point.contains(QStringLiteral("nominal"))) {
                // A check point under its signal: "Ток 2 мА".
                Where inside = at;
                inside.range = range;
                lines << pad +
                             QStringLiteral("  %1 %2:")
                                 .arg(RangeText(*range),
                                      SignalText(CheckPoint{
                                          *range, point.value(QStringLiteral("nominal")).toInt()}));
                for (auto it = point.begin(); it != point.end(); ++it)
                    if (it.key() != QStringLiteral("range") &&
                        it.key() != QStringLiteral("nominal"))
                        AddValue(lines, it.key(), it.value(), depth + 2, inside);
                continue;
            }
            AddValue(lines, coefficients ? CoefficientNames()[i] : QString::number(i + 1), a[i],
                     depth + 1, at);
        }
    } else {
        lines << pad + key + QStringLiteral(": ") + LeafText(rawKey, v, at);
    }
}

} // namespace

QString DetailsText(const Entry& e) {
    QStringList lines;
    lines << KindText(e.kind) << e.summary
          << QStringLiteral("Модуль: %1")
                 .arg(e.registration.isEmpty() ? QStringLiteral("—") : e.registration)
          << QStringLiteral("Время: %1").arg(TimeText(e.made))
          << QStringLiteral("Компьютер: %1").arg(e.pc)
          << QStringLiteral("Исполнитель: %1").arg(e.technician);
    if (!e.fileName.isEmpty())
        lines << QStringLiteral("Файл: %1").arg(e.fileName)
              << QStringLiteral("SHA-256: %1").arg(e.fileSha256);
    if (!e.corrects.isEmpty())
        lines << QStringLiteral("Исправляет запись: %1").arg(e.corrects);
    lines << QStringLiteral("Запись: %1").arg(e.uid) << QString();
    // The configuration's file content last, whole.
    QJsonObject d = e.details;
    const QString content = d.take(QStringLiteral("content")).toString();
    for (auto it = d.begin(); it != d.end(); ++it)
        AddValue(lines, it.key(), it.value(), 0, Where{e.kind, std::nullopt});
    if (!content.isEmpty())
        lines << QString() << QStringLiteral("Содержимое файла:") << content;
    return lines.join(QLatin1Char('\n'));
}

QList<DriftSeries> DriftOf(const QList<Entry>& entries) {
    // The last entry of each calibration (by its protocol number).
    QMap<QString, Entry> byNumber;
    QSet<QString> corrected;
    for (const Entry& e : entries)
        if (!e.corrects.isEmpty())
            corrected.insert(e.corrects);
    for (const Entry& e : entries) {
        if (e.kind != Kind::Calibration && e.kind != Kind::Check)
            continue;
        if (corrected.contains(e.uid))
            continue;
        const QJsonArray found = e.details.value(QStringLiteral("asFound")).toArray();
        if (found.isEmpty())
            continue;
        QString number = e.details.value(QStringLiteral("number")).toString();
        if (number.isEmpty())
            number = e.uid;
        byNumber[number] = e;
    }
    QMap<std::pair<int, int>, DriftSeries> series; // by range (0 current), nominal
    for (const Entry& e : byNumber) {
        const double tolerance = e.details.value(QStringLiteral("tolerancePercent")).toDouble();
        for (const QJsonValue& v : e.details.value(QStringLiteral("asFound")).toArray()) {
            const QJsonObject p = v.toObject();
            const bool voltage =
                p.value(QStringLiteral("range")).toString() == QStringLiteral("voltage");
            const int nominal = p.value(QStringLiteral("nominal")).toInt();
            DriftSeries& s = series[{voltage ? 1 : 0, nominal}];
            if (s.name.isEmpty())
                s.name = SignalText(CheckPoint{voltage ? Range::Voltage : Range::Current, nominal});
            s.tolerancePercent = std::max(s.tolerancePercent, tolerance);
            s.points.append({e.made, p.value(QStringLiteral("errorPercent")).toDouble()});
        }
    }
    QList<DriftSeries> out;
    for (DriftSeries& s : series) {
        std::sort(s.points.begin(), s.points.end(),
                  [](const DriftPoint& a, const DriftPoint& b) { return a.when < b.when; });
        out.append(s);
    }
    return out;
}

} // namespace History
