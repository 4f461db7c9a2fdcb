#include "HistoryImport.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <algorithm>

#include "Configuration.h"
#include "Errors.h"
#include "HistoryRecords.h"
#include "HistoryStore.h"

namespace History {

namespace {

// One CSV line's fields, quotes taken off.
QStringList Fields(const QString& line) {
    QStringList out;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            out << field;
            field.clear();
        } else {
            field += c;
        }
    }
    out << field;
    return out;
}

// Lines, with line breaks inside quotes kept in their field.
QList<QStringList> Rows(const QString& text) {
    QList<QStringList> rows;
    QString line;
    bool quoted = false;
    for (QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && (c == QLatin1Char('\n') || c == QLatin1Char('\r'))) {
            if (!line.isEmpty())
                rows << Fields(line);
            line.clear();
            continue;
        }
        line += c;
    }
    if (!line.isEmpty())
        rows << Fields(line);
    return rows;
}

double Decimal(const QString& s, bool* ok) {
    QString t = s.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    return t.toDouble(ok);
}

} // namespace

std::optional<Entry> ProtocolCsvEntry(const QByteArray& bytes, const QString& path) {
    QByteArray b = bytes;
    if (b.startsWith("\xEF\xBB\xBF"))
        b = b.mid(3);
    const QList<QStringList> rows = Rows(QString::fromUtf8(b));
    if (rows.isEmpty() || rows[0].size() < 2)
        return std::nullopt;
    const QString title = rows[0][0];
    Kind kind;
    if (title == QStringLiteral("Протокол калибровки"))
        kind = Kind::Calibration;
    else if (title == QStringLiteral("Протокол проверки"))
        kind = Kind::Check;
    else
        return std::nullopt;
    QString registration;
    QString technician;
    QString verdict;
    int type = 0;
    QDateTime made;
    QJsonArray found;
    QJsonArray left;
    double tolerancePercent = 0;
    QJsonObject d;
    for (const QStringList& f : rows) {
        const QString key = f.value(0);
        const QString value = f.value(1);
        if (key == QStringLiteral("Регистрационный номер"))
            registration = value;
        else if (key == QStringLiteral("Исполнитель"))
            technician = value;
        else if (key == QStringLiteral("Заключение"))
            verdict = value;
        else if (key == QStringLiteral("Дата"))
            made = QDateTime::fromString(value, QStringLiteral("dd.MM.yyyy HH:mm"));
        else if (key == QStringLiteral("Тип модуля")) {
            const int at = value.indexOf(QStringLiteral("код "));
            if (at >= 0)
                type = value.mid(at + 4).remove(QLatin1Char(')')).toInt();
        } else if (key == QStringLiteral("Эталон")) {
            d[QStringLiteral("reference")] = value;
            d[QStringLiteral("referenceSerial")] = f.value(2);
        } else if ((key == QStringLiteral("До калибровки") || key == QStringLiteral("Проверка") ||
                    key == QStringLiteral("После калибровки")) &&
                   f.size() >= 11) {
            bool okNominal = false;
            bool okError = false;
            bool okPercent = false;
            bool okTolerance = false;
            const bool voltage = f[1] == QStringLiteral("Напряжение");
            const int nominal = f[3].toInt(&okNominal);
            const double error = Decimal(f[6], &okError);
            const double percent = Decimal(f[7], &okPercent);
            const double tolerance = Decimal(f[8], &okTolerance);
            if (!okNominal || !okError || !okPercent || !okTolerance)
                continue; // the heading, or a line of another kind
            const double upper = voltage ? 10000 : 20000;
            tolerancePercent = std::max(tolerancePercent, tolerance / upper * 100);
            const QJsonObject point{{QStringLiteral("range"), voltage ? QStringLiteral("voltage")
                                                                      : QStringLiteral("current")},
                                    {QStringLiteral("nominal"), nominal},
                                    {QStringLiteral("error"), error},
                                    {QStringLiteral("errorPercent"), percent},
                                    {QStringLiteral("tolerance"), tolerance},
                                    {QStringLiteral("pass"), f[10] == QStringLiteral("Годен")}};
            (key == QStringLiteral("После калибровки") ? left : found).append(point);
        }
    }
    if (registration.isEmpty() || !made.isValid())
        return std::nullopt;
    Entry e = NewEntry(kind, registration, type, technician);
    e.made = made.toUTC();
    e.fileName = QDir::toNativeSeparators(path);
    e.fileSha256 = Sha256Hex(bytes);
    e.uid = QStringLiteral("import-") + e.fileSha256;
    d[QStringLiteral("number")] = rows[0][1];
    d[QStringLiteral("verdict")] = verdict;
    d[QStringLiteral("imported")] = true;
    if (!found.isEmpty())
        d[QStringLiteral("asFound")] = found;
    if (!left.isEmpty())
        d[QStringLiteral("asLeft")] = left;
    if (tolerancePercent > 0)
        d[QStringLiteral("tolerancePercent")] = tolerancePercent;
    e.details = d;
    e.summary = QStringLiteral("%1 %2: %3 (импорт)").arg(title, rows[0][1], verdict);
    return e;
}

std::optional<Entry> ConfigFileEntry(const QByteArray& bytes, const QString& path) {
    config::Configuration c;
    try {
        c = config::ParseConfiguration(bytes, path);
    } catch (const Exception&) {
        return std::nullopt;
    }
    if (!c[config::Param::Serial])
        return std::nullopt;
    Entry e = ConfigEntry(Kind::ConfigSaved, c, path, bytes);
    if (c.read.isValid())
        e.made = c.read.toUTC();
    e.uid = QStringLiteral("import-") + e.fileSha256;
    e.details[QStringLiteral("imported")] = true;
    e.summary += QStringLiteral(" (импорт)");
    return e;
}

ImportResult ImportFolder(Store& store, const QString& folder, qint64 maxBytes) {
    ImportResult r;
    QList<Entry> entries;
    QDirIterator it(folder, {QStringLiteral("*.csv"), QStringLiteral("*.json")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (f.size() > maxBytes) {
            ++r.other;
            continue;
        }
        if (!f.open(QIODevice::ReadOnly)) {
            r.failed << QStringLiteral("%1: %2").arg(QuotedPath(path), f.errorString());
            continue;
        }
        const QByteArray bytes = f.readAll();
        const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
        const std::optional<Entry> e =
            csv ? ProtocolCsvEntry(bytes, path) : ConfigFileEntry(bytes, path);
        if (!e) {
            ++r.other;
            continue;
        }
        entries << *e;
    }
    const int added = store.add(entries);
    r.added = added;
    r.already = static_cast<int>(entries.size()) - added;
    return r;
}

QString ImportSummary(const ImportResult& r) {
    QString text =
        QStringLiteral("Добавлено записей: %1, уже были в истории: %2, других файлов: %3.")
            .arg(r.added)
            .arg(r.already)
            .arg(r.other);
    if (!r.failed.isEmpty())
        text += QStringLiteral("\nНе прочитаны:\n") + r.failed.join(QLatin1Char('\n'));
    return text;
}

} // namespace History
