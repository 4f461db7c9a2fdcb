#include "Convert.h"

#include <QDate>
#include <limits>

#include "Errors.h"

namespace {

int HexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

int DecDigit(QChar c) {
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') ? u - '0' : -1;
}

} // namespace

std::optional<int32_t> TryStrToInt(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    bool hex = false;
    if (i < n && text[i] == QLatin1Char('$')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
               (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return std::nullopt;
    // Hexadecimal takes up to 32 bits (so $FFFFFFFF is -1); decimal must fit
    // the signed range.
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigit(text[i]) : DecDigit(text[i]);
        if (digit < 0)
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (hex) {
        const auto bits = static_cast<int32_t>(static_cast<uint32_t>(value));
        return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(bits)) : bits;
    }
    if (negative) {
        if (value > 0x80000000ull)
            return std::nullopt;
        return static_cast<int32_t>(-static_cast<int64_t>(value));
    }
    if (value > 0x7FFFFFFFull)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t StrToInt(const QString& text) {
    if (auto v = TryStrToInt(text))
        return *v;
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

std::optional<reg::Date> TryStrToDate(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return std::nullopt;
    int numbers[3];
    int digits[3];
    for (int k = 0; k < 3; ++k) {
        const QString part = parts[k].trimmed();
        if (part.isEmpty() || part.size() > 4)
            return std::nullopt;
        int v = 0;
        for (QChar c : part) {
            const int d = DecDigit(c);
            if (d < 0)
                return std::nullopt;
            v = v * 10 + d;
        }
        numbers[k] = v;
        digits[k] = static_cast<int>(part.size());
    }
    if (digits[0] > 2 || digits[1] > 2)
        return std::nullopt;
    const int fullYear = digits[2] <= 2 ? 2000 + numbers[2] : numbers[2];
    if (!QDate::isValid(fullYear, numbers[1], numbers[0]))
        return std::nullopt;
    return reg::Date{numbers[0], numbers[1], fullYear % 100};
}

reg::Date StrToDate(const QString& text) {
    if (auto d = TryStrToDate(text))
        return *d;
    throw EConvertError(QStringLiteral("'%1' is not a valid date").arg(text));
}

reg::Date Today() {
    const QDate d = QDate::currentDate();
    return reg::Date{d.day(), d.month(), d.year() % 100};
}

void CheckModuleAddress(int32_t address) {
    if (address < reg::MinAddress || address > reg::MaxAddress)
        throw Exception(QStringLiteral("Адрес должен быть от %1 до %2!")
                            .arg(reg::MinAddress)
                            .arg(reg::MaxAddress));
}

void CheckSerialNumber(int32_t number) {
    if (number < 0 || number > reg::MaxSerialNumber)
        throw Exception(QStringLiteral("Номер модуля должен быть от 0 до 2047!"));
}

uint16_t ParseWord(const QString& text, uint8_t kind) {
    const bool hex = kind == 3;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (hex && i + 2 < n && text[i] == QLatin1Char('0') &&
        (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X')) &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    // Saturate instead of overflowing: any number this long is out of range.
    int64_t value = 0;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigit(text[i]) : DecDigit(text[i]);
        if (digit < 0)
            break;
        value = value * (hex ? 16 : 10) + digit;
        if (value > (int64_t{1} << 40))
            value = int64_t{1} << 40;
    }
    if (negative)
        value = -value;
    if (kind == 2) {
        if (value < -32768 || value > 32767)
            throw Exception(QStringLiteral("Значение ") + text +
                            QStringLiteral(" выходит за пределы -32768 - 32767!"));
    } else if (value < 0 || value > 65535) {
        throw Exception(QStringLiteral("Значение ") + text +
                        QStringLiteral(" выходит за пределы 0 - 65535!"));
    }
    return static_cast<uint16_t>(value & 0xFFFF);
}
