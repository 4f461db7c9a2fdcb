#include "Passw.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "Errors.h"
#include "Seam.h"
#include "ui_Passw.h"

// Each table: the squares of the password's signed cp1251 character codes, in
// order, then 0 when the password is shorter than 5 characters.
const PasswordTable PassportPasswordTable = {3025, 2601, 2304, 2401, 0};
const PasswordTable CalibrationPasswordTable = {484, 1024, 441, 576, 961};

TPassword* Password = nullptr;

namespace {

// Code page 1251, bytes 0x80..0xBF (0x98 is not assigned).
constexpr char16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

constexpr uint8_t Unmappable = 0x3F; // '?'

// The square of a character's signed 8-bit code.
int32_t SquaredCode(uint8_t code) {
    const int32_t s = static_cast<int8_t>(code);
    return s * s;
}

} // namespace

uint8_t Cp1251Code(char16_t unit) {
    if (unit < 0x80)
        return static_cast<uint8_t>(unit);
    if (unit >= 0x0410 && unit <= 0x044F) // А..я
        return static_cast<uint8_t>(0xC0 + (unit - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (Cp1251High[i] == unit)
            return static_cast<uint8_t>(0x80 + i);
    return Unmappable;
}

bool PasswordMatches(const QString& entry, const PasswordTable& table) {
    for (std::size_t pos = 0; pos < table.size(); ++pos) {
        // Past the last character comes the terminating zero.
        const uint8_t code = pos < static_cast<std::size_t>(entry.size())
                                 ? Cp1251Code(entry.at(static_cast<qsizetype>(pos)).unicode())
                                 : 0;
        if (SquaredCode(code) != table[pos])
            return false;
        if (code == 0)
            return true;
    }
    return true;
}

bool CalibrationPasswordAccepted(QWidget* owner) {
    const QString entry = seam::ui().input(
        owner, QStringLiteral("Внимание!"),
        QStringLiteral("Параметры работы модуля будут изменены!\nТребуется пароль!"), QString());
    if (PasswordMatches(entry, CalibrationPasswordTable))
        return true;
    seam::message(owner, QStringLiteral("Неправильный пароль!"), QString(), seam::Icon::Error);
    return false;
}

// ---- TPassword

TPassword::TPassword(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TPassword>()) {
    ui->setupUi(this);
    setFixedSize(size());
    // Every typed character is shown as "*", whatever the style's own mark.
    ui->edPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    connect(ui->btOK, &QPushButton::clicked, this, seam::Guarded(this, &TPassword::btOKClick));
}

TPassword::~TPassword() = default;

void TPassword::btOKClick() {
    if (ui->edPass->text().isEmpty()) {
        done(7);
        return;
    }
    if (!PasswordMatches(ui->edPass->text(), PassportPasswordTable)) {
        ui->edPass->clear();
        ui->edPass->setFocus();
        throw Exception(QStringLiteral("Неправильный пароль!"));
    }
    done(1);
}

void TPassword::reject() {}

void TPassword::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui->edPass->setFocus();
}

void TPassword::closeEvent(QCloseEvent* event) {
    event->ignore();
}
