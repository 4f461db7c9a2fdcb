// Passwords of the tool: the squared-code comparison, the password dialog that
// guards the module's passport, and the calibration gate.
//
// Passwords are never kept in plain form: each lives only as a table of the
// squares of its characters' signed code page 1251 codes.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class QCloseEvent;
class QShowEvent;
class QWidget;

namespace Ui {
class TPassword;
}

// A password table: entry i is the square of the signed 8-bit code (code page
// 1251) of the password's i-th character; a password of fewer than 5
// characters is followed by a 0 entry (its terminating zero), and the entries
// after that are never looked at.
using PasswordTable = std::array<int32_t, 5>;

// The password of the passport (4 characters, then the terminator).
extern const PasswordTable PassportPasswordTable;
// The password of the calibration (5 characters, no terminator entry).
extern const PasswordTable CalibrationPasswordTable;

// The code page 1251 byte of one UTF-16 code unit; '?' (0x3F) when the code
// page has no such character.
uint8_t Cp1251Code(char16_t unit);

// The squared-code comparison: the entry's characters, then a terminating
// zero, are compared position by position with the table; the comparison
// stops with a match at the terminator or after 5 positions.
bool PasswordMatches(const QString& entry, const PasswordTable& table);

// The calibration gate: asks for the password in the standard input box and
// answers whether it matches the calibration table; on a mismatch (Cancel
// included) shows the refusal box owned by `owner`.
bool CalibrationPasswordAccepted(QWidget* owner);

// The password dialog "Ввод пароля". Modal results: 1 the password matched
// (full access), 7 OK on an empty field (read-only access). One instance lives
// for the whole run and keeps its entry between showings.
class TPassword : public QDialog {
    Q_OBJECT
  public:
    explicit TPassword(QWidget* parent = nullptr);
    ~TPassword() override;

    void btOKClick();

    // There is no way out but "ОК": Escape does nothing.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    // A close request from the window system is refused as well.
    void closeEvent(QCloseEvent* event) override;

  private:
    std::unique_ptr<Ui::TPassword> ui;
};

// The process-wide password dialog, created hidden at start-up right after the
// main window; null until then.
extern TPassword* Password;
