#include "HistoryEntry.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QSysInfo>
#include <QUuid>
#include <array>

namespace History {

namespace {
struct KindName {
    Kind kind;
    const char* key;
    const char* text;
};
const std::array<KindName, 10> kinds = {{
    {Kind::Seen, "seen", "Связь с модулем"},
    {Kind::Calibration, "calibration", "Калибровка"},
    {Kind::Check, "check", "Проверка точности"},
    {Kind::ConfigSaved, "config-saved", "Конфигурация сохранена"},
    {Kind::ConfigCompared, "config-compared", "Конфигурация сравнена"},
    {Kind::ConfigWritten, "config-written", "Конфигурация записана"},
    {Kind::Passport, "passport", "Паспорт изменён"},
    {Kind::Link, "link", "Параметры связи изменены"},
    {Kind::Restarts, "restarts", "Счётчик перезапусков"},
    {Kind::Interval, "interval", "Межкалибровочный интервал"},
}};
} // namespace

QString KindKey(Kind kind) {
    for (const auto& k : kinds)
        if (k.kind == kind)
            return QString::fromLatin1(k.key);
    return {};
}

std::optional<Kind> KindFromKey(const QString& key) {
    for (const auto& k : kinds)
        if (key == QLatin1String(k.key))
            return k.kind;
    return std::nullopt;
}

QString KindText(Kind kind) {
    for (const auto& k : kinds)
        if (k.kind == kind)
            return QString::fromUtf8(k.text);
    return {};
}

QString NewUid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString ThisPcName() {
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("?") : name;
}

Entry NewEntry(Kind kind, const QString& registration, int moduleType, const QString& technician) {
    Entry e;
    e.uid = NewUid();
    e.kind = kind;
    e.registration = registration;
    e.moduleType = moduleType;
    // Milliseconds are the store's resolution.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    e.made = QDateTime::fromMSecsSinceEpoch(now.toMSecsSinceEpoch(), Qt::UTC);
    e.pc = ThisPcName();
    e.technician = technician;
    if (e.technician.isEmpty())
        e.technician = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    return e;
}

QByteArray EntryLine(const Entry& e) {
    QJsonObject o;
    o[QStringLiteral("uid")] = e.uid;
    o[QStringLiteral("kind")] = KindKey(e.kind);
    o[QStringLiteral("registration")] = e.registration;
    o[QStringLiteral("moduleType")] = e.moduleType;
    o[QStringLiteral("made")] = e.made.toMSecsSinceEpoch();
    o[QStringLiteral("pc")] = e.pc;
    o[QStringLiteral("technician")] = e.technician;
    o[QStringLiteral("corrects")] = e.corrects;
    o[QStringLiteral("summary")] = e.summary;
    o[QStringLiteral("fileName")] = e.fileName;
    o[QStringLiteral("fileSha256")] = e.fileSha256;
    o[QStringLiteral("details")] = e.details;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Entry> EntryFromLine(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const auto kind = KindFromKey(o.value(QStringLiteral("kind")).toString());
    const QString uid = o.value(QStringLiteral("uid")).toString();
    if (!kind || uid.isEmpty() || !o.value(QStringLiteral("made")).isDouble())
        return std::nullopt;
    Entry e;
    e.uid = uid;
    e.kind = *kind;
    e.registration = o.value(QStringLiteral("registration")).toString();
    e.moduleType = o.value(QStringLiteral("moduleType")).toInt();
    e.made = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>(o.value(QStringLiteral("made")).toDouble()), Qt::UTC);
    e.pc = o.value(QStringLiteral("pc")).toString();
    e.technician = o.value(QStringLiteral("technician")).toString();
    e.corrects = o.value(QStringLiteral("corrects")).toString();
    e.summary = o.value(QStringLiteral("summary")).toString();
    e.fileName = o.value(QStringLiteral("fileName")).toString();
    e.fileSha256 = o.value(QStringLiteral("fileSha256")).toString();
    e.details = o.value(QStringLiteral("details")).toObject();
    return e;
}

QString Sha256Hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString DueStateText(DueState state) {
    switch (state) {
    case DueState::Ok:
        return QStringLiteral("в норме");
    case DueState::Soon:
        return QStringLiteral("скоро");
    case DueState::Overdue:
        return QStringLiteral("просрочена");
    case DueState::Unknown:
        break;
    }
    return {};
}

QDate DueDate(const QDate& lastCalibration, int intervalMonths) {
    if (!lastCalibration.isValid() || intervalMonths <= 0)
        return {};
    return lastCalibration.addMonths(intervalMonths);
}

DueState DueStateOn(const QDate& due, const QDate& today) {
    if (!due.isValid())
        return DueState::Unknown;
    if (today > due)
        return DueState::Overdue;
    if (today.daysTo(due) <= SoonDays)
        return DueState::Soon;
    return DueState::Ok;
}

QString DueLine(const QDate& due, const QDate& today) {
    if (!due.isValid())
        return {};
    const QString date = due.toString(QStringLiteral("dd.MM.yyyy"));
    if (DueStateOn(due, today) == DueState::Overdue)
        return QStringLiteral("Калибровка просрочена с %1").arg(date);
    return QStringLiteral("Следующая калибровка: до %1").arg(date);
}

} // namespace History
