#include "Errors.h"

#include <QDir>
#include <array>

Exception::Exception(QString message) : msg_(std::move(message)), utf8_(msg_.toUtf8()) {}

namespace {

// The slave's exception codes 1..8, as the module's documentation words them.
const std::array<const char*, 8> ModbusExceptionTexts = {
    "Недопустимая функция",
    "Недопустимый адрес данных",
    "Недопустимое значение данных",
    "Сбой устройства",
    "Подтверждение",
    "Устойство занято",
    "Отрицательное подтверждение",
    "Ошибка памяти",
};

} // namespace

QString ECommError::messageFor(int code) {
    switch (code) {
    case 14:
        return QStringLiteral("Нет ответа!");
    case 15:
        return QStringLiteral("Функция не поддерживается библиотекой!");
    case 16:
        return QStringLiteral("Не хватает буфера данных!");
    case 17:
        return QStringLiteral("Ошибка CRC!");
    // A gateway's own exceptions: the module behind it was not reached.
    case 10:
        return QStringLiteral("Шлюз не нашёл путь к модулю");
    case 11:
        return QStringLiteral("Модуль за шлюзом не ответил");
    default:
        break;
    }
    if (code > 8)
        return QStringLiteral("Неизвестная ошибка связи!");
    if (code < 1) // 0 is no error and negative codes are not the library's; say so plainly
        return QStringLiteral("Неизвестная ошибка связи (код %1)!").arg(code);
    return QString::fromUtf8(ModbusExceptionTexts[code - 1]);
}

ECommError::ECommError(int code) : Exception(messageFor(code)) {}

QString QuotedPath(const QString& path) {
    return QStringLiteral("«") + QDir::toNativeSeparators(path) + QStringLiteral("»");
}
