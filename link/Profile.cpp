#include "Profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <string_view>
#include <utility>

#include "DiskFile.h"
#include "Errors.h"
#include "IniText.h"

namespace ini = comm::ini;

namespace {

const QString SaveMark = QStringLiteral(".saving-");
constexpr int SaveTagLength = 6;

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

qsizetype At(size_t offset) {
    return static_cast<qsizetype>(offset);
}

// Whether `text` is written as a number of IniText.h, however long.
bool IsNumberText(std::string_view text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex)
        text.remove_prefix(2);
    else if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    return !text.empty() && std::all_of(text.begin(), text.end(), [hex](char c) {
        return (c >= '0' && c <= '9') ||
               (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    });
}

bool IsSaveLeftover(const QString& name, const QString& prefix) {
    if (name.size() != prefix.size() + SaveTagLength ||
        !name.startsWith(prefix, Qt::CaseInsensitive))
        return false;
    for (qsizetype i = prefix.size(); i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')))
            return false;
    }
    return true;
}

// The line break a file uses: that of its first line, "\n" when it has none
// yet (a new file), "\r\n" for a new file on Windows.
QByteArray LineBreakOf(const QByteArray& data) {
    const qsizetype nl = data.indexOf('\n');
    if (nl > 0 && data[nl - 1] == '\r')
        return QByteArrayLiteral("\r\n");
    if (nl >= 0)
        return QByteArrayLiteral("\n");
#if defined(Q_OS_WIN)
    return QByteArrayLiteral("\r\n");
#else
    return QByteArrayLiteral("\n");
#endif
}

// `data` with the line of one key set to key=value; every other byte stays.
QByteArray SetKey(const QByteArray& data, const QByteArray& section, const QByteArray& key,
                  const QByteArray& value, const QByteArray& eol) {
    const std::string_view text = View(data);
    const auto lines = ini::splitLines(text);
    const QByteArray entry = key + '=' + value;
    const auto blank = [&](size_t i) { return ini::trim(ini::lineText(text, lines[i])).empty(); };
    const auto unbroken = [&](size_t i) { return lines[i].textEnd == lines[i].end; };

    const auto found = ini::findSection(text, lines, View(section));
    if (!found) {
        QByteArray out = data;
        if (!lines.empty()) {
            if (unbroken(lines.size() - 1))
                out += eol;
            if (!blank(lines.size() - 1))
                out += eol; // one blank line between sections
        }
        return out + '[' + section + ']' + eol + entry + eol;
    }
    if (const auto at = ini::findKey(text, lines, *found, View(key))) {
        const ini::LineSpan& line = lines[*at];
        return data.left(At(line.begin)) + entry + data.mid(At(line.textEnd));
    }
    // A new key goes after the last line of the section that is not blank.
    size_t after = found->end;
    while (after > found->header + 1 && blank(after - 1))
        --after;
    const ini::LineSpan& prev = lines[after - 1];
    const QByteArray insert = (unbroken(after - 1) ? eol : QByteArray()) + entry + eol;
    return data.left(At(prev.end)) + insert + data.mid(At(prev.end));
}

// The folder of a file to be saved, made with the folders above it when it
// is missing (the user's configuration folder may not exist yet). A folder
// made here is open to its owner only, as the XDG base directory rules ask.
bool MakeFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    const QString parent = info.absolutePath();
    if (parent == info.absoluteFilePath() || !MakeFolder(parent))
        return false;
    return QDir().mkdir(info.absoluteFilePath(),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
           QFileInfo(folder).isDir();
}

// Writes `data` to a new file beside `target` and renames it over `target`.
// False, with nothing left behind, on any failure.
bool ReplaceFile(const QString& target, const QByteArray& data) {
    const QString temp = disk::WriteBeside(target, SaveMark, data);
    if (temp.isEmpty())
        return false;
    if (disk::RenameOver(temp, target))
        return true;
    QFile::remove(temp);
    return false;
}

} // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {}

ProfileFile::ProfileFile(QString path, QString older)
    : path_(std::move(path)), older_(older == path_ ? QString() : std::move(older)) {}

QString ProfileFile::inUse() const {
    return older_.isEmpty() || QFileInfo::exists(path_) || !QFileInfo::exists(older_) ? path_
                                                                                      : older_;
}

QString ProfileFile::readString(const QString& section, const QString& key,
                                const QString& def) const {
    QFile f(inUse());
    if (!f.open(QIODevice::ReadOnly))
        return def;
    const QByteArray data = f.readAll();
    const auto value =
        ini::findValue(View(data), View(section.toLocal8Bit()), View(key.toLocal8Bit()));
    if (!value)
        return def;
    return QString::fromLocal8Bit(value->data(), static_cast<qsizetype>(value->size()));
}

int32_t ProfileFile::readInteger(const QString& section, const QString& key, int32_t def) const {
    return ini::integer(View(readString(section, key, QString()).toLocal8Bit())).value_or(def);
}

int32_t ProfileFile::readInteger(const QString& section, const QString& key, int32_t def,
                                 int32_t min, int32_t max) const {
    return readFitting(
        section, key, def, [&](int32_t v) { return v >= min && v <= max; },
        QStringLiteral("от %1 до %2").arg(min).arg(max));
}

int32_t ProfileFile::readInteger(const QString& section, const QString& key, int32_t def,
                                 const QList<int32_t>& allowed) const {
    QStringList texts;
    for (int32_t v : allowed)
        texts << QString::number(v);
    return readFitting(
        section, key, def, [&](int32_t v) { return allowed.contains(v); },
        texts.join(QStringLiteral(", ")));
}

int32_t ProfileFile::readFitting(const QString& section, const QString& key, int32_t def,
                                 const std::function<bool(int32_t)>& fits,
                                 const QString& allowed) const {
    const QString text = readString(section, key, QString());
    const QByteArray bytes = text.toLocal8Bit();
    const auto value = ini::integer(View(bytes));
    if (value && fits(*value))
        return *value;
    // Text that is no number at all reads as missing without a word.
    if (value || IsNumberText(View(bytes)))
        noteIgnored(section, key, text, allowed, QString::number(def));
    return def;
}

namespace {

QList<IgnoredSetting>& Pending() {
    static QList<IgnoredSetting> pending;
    return pending;
}

} // namespace

void ProfileFile::noteIgnored(const QString& section, const QString& key, const QString& value,
                              const QString& allowed, const QString& used) const {
    static QList<IgnoredSetting> told; // in this run, with their values
    IgnoredSetting entry{inUse(), section, key, value, allowed, used};
    const auto sameEntry = [&](const IgnoredSetting& t) {
        return t.file == entry.file && t.section.compare(section, Qt::CaseInsensitive) == 0 &&
               t.key.compare(key, Qt::CaseInsensitive) == 0 && t.value == value;
    };
    if (std::any_of(told.begin(), told.end(), sameEntry))
        return;
    told << entry;
    Pending() << entry;
}

QList<IgnoredSetting> TakeIgnoredSettings() {
    return std::exchange(Pending(), {});
}

void ProfileFile::write(const QList<Entry>& entries) {
    const Exception failed(QStringLiteral("Unable to write to «%1»").arg(path_));
    const QString target = disk::FinalPath(path_);
    // Only a regular file is replaced: a link to a device (or to /dev/null)
    // must not become a file, nor the device be read or written.
    if (target.isEmpty() || (QFileInfo::exists(target) && !QFileInfo(target).isFile()))
        throw failed;
    QByteArray data;
    if (QFileInfo::exists(target)) {
        // A file that cannot be read would be replaced by the new keys alone.
        QFile in(target);
        if (!QFileInfo(target).isWritable() || !in.open(QIODevice::ReadOnly))
            throw failed;
        data = in.readAll();
        if (in.error() != QFileDevice::NoError)
            throw failed;
    } else if (const QString from = inUse(); from != path_) {
        // The first save starts from everything the older file holds.
        QFile in(from);
        if (in.open(QIODevice::ReadOnly))
            data = in.readAll();
        if (in.error() != QFileDevice::NoError)
            data.clear(); // read as empty too
    }
    const QByteArray eol = LineBreakOf(data);
    for (const Entry& e : entries)
        data =
            SetKey(data, e.section.toLocal8Bit(), e.key.toLocal8Bit(), e.value.toLocal8Bit(), eol);
    if (!MakeFolder(QFileInfo(target).absolutePath()) || !ReplaceFile(target, data))
        throw failed;
}

void ProfileFile::writeString(const QString& section, const QString& key, const QString& value) {
    write({{section, key, value}});
}

void ProfileFile::writeInteger(const QString& section, const QString& key, int32_t value) {
    writeString(section, key, QString::number(value));
}

void ProfileFile::removeSaveLeftovers(const QString& path) {
    const QString final = disk::FinalPath(path);
    if (final.isEmpty())
        return;
    const QFileInfo target(final);
    const QString prefix = target.fileName() + SaveMark;
    QDir dir = target.absoluteDir();
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (IsSaveLeftover(name, prefix))
            dir.remove(name);
}
