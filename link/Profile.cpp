#include "Profile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include "Convert.h"
#include "Errors.h"

namespace {

struct Lines {
    QStringList lines;
    QString eol = QStringLiteral("\n");
};

Lines Load(const QString& path) {
    Lines result;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return result;
    const QString text = QString::fromUtf8(f.readAll());
    if (text.contains(QStringLiteral("\r\n")))
        result.eol = QStringLiteral("\r\n");
    result.lines = text.split(QLatin1Char('\n'));
    for (QString& l : result.lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    // A file that ends with a line break leaves one empty piece behind it.
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    return result;
}

// The name of a section header line, or a null string for any other line.
QString SectionName(const QString& line) {
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return QString();
}

bool IsKeyLine(const QString& line, const QString& key, QString* value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value)
        *value = line.mid(eq + 1).trimmed();
    return true;
}

// [begin, end) of the lines in the first section of that name; begin is the
// header line. begin = -1 when the section is missing.
std::pair<qsizetype, qsizetype> FindSection(const QStringList& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = SectionName(lines[i]);
        if (name.isNull() || name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        qsizetype end = i + 1;
        while (end < lines.size() && SectionName(lines[end]).isNull())
            ++end;
        return {i, end};
    }
    return {-1, -1};
}

} // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {}

QString ProfileFile::readString(const QString& section, const QString& key,
                                const QString& def) const {
    const Lines file = Load(path_);
    const auto [begin, end] = FindSection(file.lines, section);
    if (begin < 0)
        return def;
    QString value;
    for (qsizetype i = begin + 1; i < end; ++i)
        if (IsKeyLine(file.lines[i], key, &value))
            return value;
    return def;
}

int32_t ProfileFile::readInteger(const QString& section, const QString& key, int32_t def) const {
    QString text = readString(section, key, QString());
    if (text.size() > 2 && text[0] == QLatin1Char('0') &&
        (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X')))
        text = QLatin1Char('$') + text.mid(2);
    return TryStrToInt(text).value_or(def);
}

void ProfileFile::writeString(const QString& section, const QString& key, const QString& value) {
    Lines file = Load(path_);
    const QString entry = key + QLatin1Char('=') + value;
    const auto [begin, end] = FindSection(file.lines, section);
    if (begin < 0) {
        if (!file.lines.isEmpty() && !file.lines.last().trimmed().isEmpty())
            file.lines << QString();
        file.lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
    } else {
        qsizetype at = -1;
        for (qsizetype i = begin + 1; i < end && at < 0; ++i)
            if (IsKeyLine(file.lines[i], key, nullptr))
                at = i;
        if (at >= 0) {
            file.lines[at] = entry;
        } else {
            // After the section's last non-blank line.
            qsizetype insert = end;
            while (insert > begin + 1 && file.lines[insert - 1].trimmed().isEmpty())
                --insert;
            file.lines.insert(insert, entry);
        }
    }

    // Written to a temporary file beside it and renamed over it, so that a
    // crash never leaves a truncated settings file behind.
    QSaveFile out(path_);
    const QByteArray data = (file.lines.join(file.eol) + file.eol).toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
        throw Exception(QStringLiteral("Unable to write to %1").arg(path_));
}

void ProfileFile::writeInteger(const QString& section, const QString& key, int32_t value) {
    writeString(section, key, QString::number(value));
}
