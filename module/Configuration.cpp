#include "Configuration.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <cmath>

#include "AccuracyCheck.h"
#include "Calibration.h"
#include "Errors.h"
#include "Func.h"

namespace config {

namespace {

// What marks the file as ours, and the layout this program reads and writes.
const QString FormatMark = QStringLiteral("QS730_View module configuration");
constexpr int FormatVersion = 1;

// How a value is written, read back and shown.
enum class Kind { Mode, Word, Address, Baud, Parity, Type, Serial, Date, Version, Coefficient };

struct Info {
    Kind kind;
    const char* group; // the file's object: "settings" or "unit"
    const char* key;
    const char* name;
};

constexpr Info Infos[ParamCount] = {
    {Kind::Mode, "settings", "mode", "Режим измерения"},
    {Kind::Word, "settings", "integrationTime", "Время интегрирования, мс"},
    {Kind::Address, "settings", "address", "Адрес"},
    {Kind::Baud, "settings", "baud", "Скорость, бод"},
    {Kind::Parity, "settings", "parity", "Паритет"},
    {Kind::Type, "unit", "type", "Тип модуля"},
    {Kind::Serial, "unit", "registrationNumber", "Регистрационный номер"},
    {Kind::Date, "unit", "manufactured", "Дата изготовления"},
    {Kind::Version, "unit", "firmware", "Версия ПО"},
    {Kind::Coefficient, "unit", "gainCurrent", "Усиление, ток (рег. 8-9)"},
    {Kind::Coefficient, "unit", "offsetCurrent", "Смещение, ток (рег. 10-11)"},
    {Kind::Coefficient, "unit", "gainVoltage", "Усиление, напряжение (рег. 12-13)"},
    {Kind::Coefficient, "unit", "offsetVoltage", "Смещение, напряжение (рег. 14-15)"},
    {Kind::Date, "unit", "calibrated", "Дата калибровки"},
};

const Info& InfoOf(Param p) {
    return Infos[static_cast<std::size_t>(p)];
}

// How much of a value a message quotes.
constexpr qsizetype QuotedLength = 40;

// The years a PackedDate holds: 2001 to 2063 (year 00 is no date).
constexpr int Century = 2000;

// ---- Values of the module, as it holds them

Value ModeOf(uint16_t w) {
    return w == reg::ModeCurrent || w == reg::ModeVoltage ? Value(w) : std::nullopt;
}
Value AddressOf(uint16_t w) {
    return w >= reg::MinAddress && w <= reg::MaxAddress ? Value(w) : std::nullopt;
}
Value BaudOf(uint16_t code) {
    const int i = reg::SpeedIndexOfCode(code);
    return i < 0 ? std::nullopt : Value(reg::Speeds[static_cast<std::size_t>(i)]);
}
Value ParityOf(uint16_t w) {
    const int p = reg::ParityOfWord(w);
    return p <= reg::MaxParity ? Value(p) : std::nullopt;
}
// A word whose letter code lies beyond Z has no registration number.
Value SerialOf(uint16_t w) {
    return reg::SerialLetterIndex(w) <= 25 ? Value(w) : std::nullopt;
}
// Either layout, kept in the one the tool writes.
Value DateOf(uint16_t w) {
    const reg::Date d = reg::UnpackDate(w);
    return reg::IsValidDate(d) ? Value(reg::PackDate(d.day, d.month, d.year)) : std::nullopt;
}

// ---- Texts

QString SerialText(uint32_t w) {
    return RegistrationText(static_cast<uint16_t>(w));
}
QString DateText(uint32_t w) {
    const reg::Date d = reg::UnpackDate(static_cast<uint16_t>(w));
    return QStringLiteral("%1.%2.%3")
        .arg(d.day, 2, 10, QLatin1Char('0'))
        .arg(d.month, 2, 10, QLatin1Char('0'))
        .arg(Century + d.year);
}
QString VersionText(uint32_t w) {
    return QString::fromStdString(reg::VersionText(static_cast<uint16_t>(w)));
}

// ---- Reading the file

class FileReader {
  public:
    explicit FileReader(const QString& path) : path_(path) {}

    [[noreturn]] void fail(const QString& what) const {
        throw Exception(QStringLiteral("Файл %1: %2").arg(QuotedPath(path_), what));
    }
    // `size`: "1048576", or "более 65536" where the file does not tell.
    [[noreturn]] void tooLarge(const QString& size) const {
        fail(QStringLiteral("файл слишком велик для конфигурации модуля (%1 байт). Допустимо не "
                            "более %2 байт")
                 .arg(size)
                 .arg(MaxFileSize));
    }
    [[noreturn]] void notOurs() const {
        throw Exception(
            QStringLiteral("Файл %1 не является конфигурацией модуля").arg(QuotedPath(path_)));
    }

    QJsonObject object(const QJsonObject& root, const char* name) const {
        const QJsonValue v = root.value(QLatin1String(name));
        if (!v.isObject())
            fail(QStringLiteral("нет группы параметров «%1»").arg(QLatin1String(name)));
        return v.toObject();
    }

    Value value(const QJsonObject& group, Param p) const {
        const Info& info = InfoOf(p);
        const QJsonValue v = group.value(QLatin1String(info.key));
        if (v.isUndefined())
            fail(QStringLiteral("нет параметра «%1» (%2)").arg(ParamName(p), ParamKey(p)));
        if (v.isNull())
            return std::nullopt; // the module it was saved from held no such value
        if (const auto parsed = parse(info.kind, v))
            return parsed;
        fail(QStringLiteral("недопустимое значение параметра «%1» (%2): %3. %4")
                 .arg(ParamName(p), ParamKey(p), Shown(v), Rule(info.kind)));
    }

  private:
    static QString Shown(const QJsonValue& v) {
        const QByteArray one = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
        return Clipped(QString::fromUtf8(one.mid(1, one.size() - 2)));
    }

    static QString Rule(Kind k) {
        switch (k) {
        case Kind::Mode:
            return QStringLiteral("Допустимо 1 (Ток) или 2 (Напряжение)");
        case Kind::Word:
        case Kind::Type:
            return QStringLiteral("Допустимо целое число от 0 до 65535");
        case Kind::Address:
            return QStringLiteral("Допустимо целое число от 1 до 247");
        case Kind::Baud:
            return QStringLiteral(
                "Допустимо 2400, 4800, 9600, 19200, 28800, 38400, 57600 или 115200");
        case Kind::Parity:
            return QStringLiteral("Допустимо 0 (None), 1 (Odd) или 2 (Even)");
        case Kind::Serial:
            return QStringLiteral("Допустимо буква от A до Z и номер из четырёх цифр от 0000 до "
                                  "2047, например A0042");
        case Kind::Date:
            return QStringLiteral(
                "Допустима дата ДД.ММ.ГГГГ с 2001 по 2063 год, например 15.03.2026");
        case Kind::Version:
            return QStringLiteral("Допустимы два числа от 0 до 255 через точку, например 02.03");
        case Kind::Coefficient:
            return QStringLiteral("Допустимо целое число от 0 до 4294967295");
        }
        return QString();
    }

    // A whole number within [min, max]; anything else (a fraction, text,
    // true) is none.
    static Value Whole(const QJsonValue& v, double min, double max) {
        if (!v.isDouble())
            return std::nullopt;
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || d < min || d > max)
            return std::nullopt;
        return static_cast<uint32_t>(d);
    }

    static bool Matched(const QJsonValue& v, const QRegularExpression& pattern,
                        QRegularExpressionMatch& m) {
        if (!v.isString())
            return false;
        m = pattern.match(v.toString());
        return m.hasMatch();
    }

    static Value parse(Kind k, const QJsonValue& v) {
        QRegularExpressionMatch m;
        switch (k) {
        case Kind::Mode:
            return Whole(v, reg::ModeCurrent, reg::ModeVoltage);
        case Kind::Word:
        case Kind::Type:
            return Whole(v, 0, 0xFFFF);
        case Kind::Address:
            return Whole(v, reg::MinAddress, reg::MaxAddress);
        case Kind::Baud: {
            const Value baud = Whole(v, 0, reg::Speeds.back());
            return baud && reg::SpeedIndex(*baud) >= 0 ? baud : std::nullopt;
        }
        case Kind::Parity:
            return Whole(v, 0, reg::MaxParity);
        case Kind::Coefficient:
            return Whole(v, 0, 4294967295.0);
        case Kind::Serial: {
            static const QRegularExpression pattern(QStringLiteral("^([A-Z]?)([0-9]{4})$"));
            if (!Matched(v, pattern, m))
                return std::nullopt;
            const int number = m.captured(2).toInt();
            if (number > reg::MaxSerialNumber)
                return std::nullopt;
            const QString letter = m.captured(1);
            return letter.isEmpty() ? number
                                    : reg::EncodeSerial(letter.at(0).unicode() - u'A', number);
        }
        case Kind::Date: {
            static const QRegularExpression pattern(
                QStringLiteral("^([0-9]{2})\\.([0-9]{2})\\.([0-9]{4})$"));
            if (!Matched(v, pattern, m))
                return std::nullopt;
            const reg::Date d{m.captured(1).toInt(), m.captured(2).toInt(),
                              m.captured(3).toInt() - Century};
            if (d.year > reg::MaxPackedYear || !reg::IsValidDate(d))
                return std::nullopt;
            return reg::PackDate(d.day, d.month, d.year);
        }
        case Kind::Version: {
            static const QRegularExpression pattern(
                QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})$"));
            if (!Matched(v, pattern, m))
                return std::nullopt;
            const int major = m.captured(1).toInt();
            const int minor = m.captured(2).toInt();
            if (major > 255 || minor > 255)
                return std::nullopt;
            return static_cast<uint32_t>(major << 8 | minor);
        }
        }
        return std::nullopt;
    }

    QString path_;
};

QString JsonString(const QString& s) {
    const QByteArray one = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(one.mid(1, one.size() - 2));
}

// With the offset from UTC, so that the time means the same anywhere.
QString IsoTime(const QDateTime& t) {
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// The value as the file holds it: a number, a text, or null.
QString JsonValue(Param p, const Value& v) {
    if (!v)
        return QStringLiteral("null");
    switch (InfoOf(p).kind) {
    case Kind::Serial:
    case Kind::Date:
    case Kind::Version:
        return JsonString(ValueText(p, v));
    default:
        return QString::number(*v);
    }
}

} // namespace

QString Clipped(const QString& text) {
    QString out = text.left(QuotedLength);
    if (out.size() < text.size()) {
        if (out.back().isHighSurrogate()) // not half a character
            out.chop(1);
        out += u'…';
    }
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    return out;
}

QString ParamName(Param p) {
    return QString::fromUtf8(InfoOf(p).name);
}

QString ParamKey(Param p) {
    const Info& i = InfoOf(p);
    return QLatin1String(i.group) + QLatin1Char('.') + QLatin1String(i.key);
}

QString ValueText(Param p, const Value& v) {
    if (!v)
        return QStringLiteral("—");
    switch (InfoOf(p).kind) {
    case Kind::Mode:
        return RangeText(*v == reg::ModeCurrent ? Range::Current : Range::Voltage);
    case Kind::Parity:
        return ParityName(static_cast<int>(*v));
    case Kind::Type: {
        const QString name = ModuleTypeName(static_cast<uint16_t>(*v));
        return name == QStringLiteral("UNKNOWN") ? name + QStringLiteral(" (%1)").arg(*v) : name;
    }
    case Kind::Serial:
        return SerialText(*v);
    case Kind::Date:
        return DateText(*v);
    case Kind::Version:
        return VersionText(*v);
    default:
        return QString::number(*v);
    }
}

void ReadConfiguration(Configuration& c) {
    c.read = QDateTime::currentDateTime();
    uint16_t w[4] = {};
    ReadRegisters(reg::Mode, 2, w);
    c[Param::Mode] = ModeOf(w[0]);
    c[Param::IntegrationTime] = w[1];
    ReadRegisters(reg::OwnAddress, 3, w);
    c[Param::Address] = AddressOf(w[0]);
    c[Param::Baud] = BaudOf(w[1]);
    c[Param::Parity] = ParityOf(w[2]);
    ReadRegisters(reg::TypeCode, 2, w);
    c[Param::Type] = w[0];
    c[Param::Version] = w[1];
    ReadRegisters(reg::SerialNumber, 2, w);
    c[Param::Serial] = SerialOf(w[0]);
    c[Param::Manufactured] = DateOf(w[1]);
    ReadRegister(reg::CalibrationDate, w[0]);
    c[Param::Calibrated] = DateOf(w[0]);
    ReadRegister(reg::FlagsA, w[0]);
    if (w[0] & reg::FlagParamsChecksum)
        return; // the coefficients are not to be trusted, as the wizard does not
    const CoefficientSet k = ReadCoefficients();
    c[Param::GainCurrent] = k[0];
    c[Param::OffsetCurrent] = k[1];
    c[Param::GainVoltage] = k[2];
    c[Param::OffsetVoltage] = k[3];
}

QByteArray ConfigurationJson(const Configuration& c) {
    QStringList lines = {QStringLiteral("{"),
                         QStringLiteral("    \"format\": %1,").arg(JsonString(FormatMark)),
                         QStringLiteral("    \"version\": %1,").arg(FormatVersion),
                         QStringLiteral("    \"program\": %1,").arg(JsonString(c.program)),
                         QStringLiteral("    \"read\": %1,").arg(JsonString(IsoTime(c.read)))};
    const auto group = [&](const char* name, const auto& params, bool last) {
        lines << QStringLiteral("    \"%1\": {").arg(QLatin1String(name));
        for (std::size_t i = 0; i < params.size(); ++i)
            lines << QStringLiteral("        \"%1\": %2%3")
                         .arg(QLatin1String(InfoOf(params[i]).key),
                              JsonValue(params[i], c[params[i]]),
                              i + 1 < params.size() ? QStringLiteral(",") : QString());
        lines << (last ? QStringLiteral("    }") : QStringLiteral("    },"));
    };
    group("settings", SettingParams, false);
    group("unit", UnitParams, true);
    lines << QStringLiteral("}") << QString();
    return lines.join(QStringLiteral("\r\n")).toUtf8();
}

Configuration ParseConfiguration(const QByteArray& bytes, const QString& path) {
    const FileReader file(path);
    if (bytes.size() > MaxFileSize)
        file.tooLarge(QString::number(bytes.size()));
    QByteArray text = bytes;
    if (text.startsWith("\xEF\xBB\xBF")) // saved again by an editor that marks UTF-8
        text.remove(0, 3);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        if (!text.trimmed().startsWith('{'))
            file.notOurs();
        file.fail(
            QStringLiteral("файл повреждён или обрезан (ошибка в позиции %1)").arg(error.offset));
    }
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value(QStringLiteral("format")).toString() != FormatMark)
        file.notOurs();
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (version.toDouble(-1) != FormatVersion)
        file.fail(
            QStringLiteral("формат конфигурации %1 не поддерживается этой версией "
                           "программы (она читает формат %2)")
                .arg(version.isDouble() ? QString::number(version.toDouble()) : QStringLiteral("?"))
                .arg(FormatVersion));

    Configuration c;
    const QJsonValue program = root.value(QStringLiteral("program"));
    if (!program.isString())
        file.fail(QStringLiteral("нет параметра «Программа» (program)"));
    c.program = program.toString();
    c.read = QDateTime::fromString(root.value(QStringLiteral("read")).toString(), Qt::ISODate);
    if (!c.read.isValid())
        file.fail(QStringLiteral("нет времени чтения модуля «read» в виде 2026-03-15T14:03:12"));
    const QJsonObject settings = file.object(root, "settings");
    const QJsonObject unit = file.object(root, "unit");
    for (Param p : SettingParams)
        c[p] = file.value(settings, p);
    for (Param p : UnitParams)
        c[p] = file.value(unit, p);
    return c;
}

Configuration LoadConfiguration(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Невозможно открыть файл ") + QuotedPath(path));
    const FileReader file(path);
    if (f.size() > MaxFileSize)
        file.tooLarge(QString::number(f.size()));
    // A device or a file still growing tells no size: no more is read than
    // shows it too large.
    const QByteArray bytes = f.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize)
        file.tooLarge(QStringLiteral("более %1").arg(MaxFileSize));
    return ParseConfiguration(bytes, path);
}

std::vector<Row> Compare(const Configuration& file, const Configuration& module) {
    std::vector<Row> rows;
    for (int i = 0; i < ParamCount; ++i) {
        const auto p = static_cast<Param>(i);
        rows.push_back({p, file[p], module[p]});
    }
    return rows;
}

QStringList Differences(const Configuration& file, const Configuration& module) {
    QStringList out;
    const auto differ = [&](Param p, const QString& text) {
        if (module[p] && file[p] != module[p])
            out << text.arg(ValueText(p, file[p]), ValueText(p, module[p]));
    };
    differ(Param::Type, QStringLiteral("Файл сохранён с модуля другого типа: %1, подключён %2."));
    differ(Param::Serial,
           QStringLiteral("Файл сохранён с другого модуля: рег. номер %1, у подключённого %2."));
    differ(Param::Version,
           QStringLiteral("Файл сохранён с модуля с другой версией ПО: %1, у подключённого %2."));
    return out;
}

WritePlan PlanWrite(const Configuration& file, const Configuration& module, bool calibration) {
    const auto refuse = [](const QString& why) {
        return Exception(QStringLiteral("Конфигурация не записана: ") + why);
    };
    if (!file[Param::Type] || file[Param::Type] != module[Param::Type])
        throw refuse(QStringLiteral("файл сохранён с модуля другого типа (%1), подключён %2")
                         .arg(ValueText(Param::Type, file[Param::Type]),
                              ValueText(Param::Type, module[Param::Type])));
    const auto need = [&](Param p) {
        if (!file[p])
            throw refuse(QStringLiteral("в файле нет значения параметра «%1»").arg(ParamName(p)));
    };
    for (Param p : SettingParams)
        need(p);
    if (calibration) {
        if (!file[Param::Serial] || file[Param::Serial] != module[Param::Serial])
            throw refuse(
                QStringLiteral("коэффициенты калибровки модуля %1 записываются только в этот "
                               "модуль, а подключён %2. Чтобы записать только настройки, снимите "
                               "отметку записи коэффициентов")
                    .arg(ValueText(Param::Serial, file[Param::Serial]),
                         ValueText(Param::Serial, module[Param::Serial])));
        for (Param p : CalibrationParams)
            if (p != Param::Calibrated) // a module never calibrated has no date
                need(p);
    }
    WritePlan plan;
    plan.file = file;
    plan.calibration = calibration;
    plan.otherFirmware = file[Param::Version] != module[Param::Version];
    for (Param p : LinkSettingParams)
        plan.link |= file[p] != module[p];
    return plan;
}

void WriteMeasurement(const Configuration& file) {
    const uint16_t words[2] = {static_cast<uint16_t>(*file[Param::Mode]),
                               static_cast<uint16_t>(*file[Param::IntegrationTime])};
    WriteRegisters(reg::Mode, 2, words);
    WriteRegister(reg::Apply, UnlockKey);
}

void WriteCalibration(const Configuration& file) {
    WriteCoefficients({*file[Param::GainCurrent], *file[Param::OffsetCurrent],
                       *file[Param::GainVoltage], *file[Param::OffsetVoltage]});
    WriteRegisterUnlocked(reg::CalibrationDate, file[Param::Calibrated].value_or(0));
}

module::LinkParams LinkOf(const Configuration& file) {
    return {static_cast<int>(*file[Param::Address]), static_cast<int32_t>(*file[Param::Baud]),
            static_cast<int>(*file[Param::Parity])};
}

} // namespace config
