// The password gate: the squared-code comparison and its two tables, the
// password dialog and the calibration gate.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "Errors.h"
#include "Passw.h"
#include "RecorderUi.h"

namespace {

// The passwords handed to the service staff.
const QString PassportPassword = QStringLiteral("7301");
const QString CalibrationPassword = QStringLiteral("калиб");

// A table built by the rule: squares of the signed cp1251 codes, then the
// terminating zero when there is room.
PasswordTable TableOf(const QString& password) {
    PasswordTable t{};
    for (int i = 0; i < 5; ++i) {
        const int code =
            i < password.size() ? static_cast<int8_t>(Cp1251Code(password.at(i).unicode())) : 0;
        t[static_cast<std::size_t>(i)] = code * code;
        if (code == 0)
            break;
    }
    return t;
}

} // namespace

class TestPassw : public QObject {
    Q_OBJECT
  private slots:
    void codePage1251_data();
    void codePage1251();
    void tablesHoldThePasswords();
    void comparison_data();
    void comparison();

    void dialogLooksAsSpecified();
    void emptyEntryGivesReadOnlyAccess();
    void rightEntryGivesFullAccessAndIsKept();
    void wrongEntryIsClearedAndReported();
    void onlyOkEndsTheDialog();

    void gate_data();
    void gate();
};

void TestPassw::codePage1251_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("code");
    QTest::newRow("digit") << int('7') << 0x37;
    QTest::newRow("latin") << int('z') << 0x7A;
    QTest::newRow("nul") << 0 << 0;
    QTest::newRow("А") << 0x0410 << 0xC0;
    QTest::newRow("к") << 0x043A << 0xEA;
    QTest::newRow("я") << 0x044F << 0xFF;
    QTest::newRow("Ё") << 0x0401 << 0xA8;
    QTest::newRow("ё") << 0x0451 << 0xB8;
    QTest::newRow("№") << 0x2116 << 0xB9;
    QTest::newRow("€") << 0x20AC << 0x88;
    QTest::newRow("Ђ") << 0x0402 << 0x80;
    QTest::newRow("ї") << 0x0457 << 0xBF;
    QTest::newRow("no-break space") << 0x00A0 << 0xA0;
    QTest::newRow("not in the code page: ä") << 0x00E4 << 0x3F;
    QTest::newRow("not in the code page: CJK") << 0x4E2D << 0x3F;
    QTest::newRow("half of a surrogate pair") << 0xD83D << 0x3F;
    QTest::newRow("unassigned 0x98 not produced") << 0x0098 << 0x3F;
}

void TestPassw::codePage1251() {
    QFETCH(int, unit);
    QFETCH(int, code);
    QCOMPARE(int(Cp1251Code(static_cast<char16_t>(unit))), code);
}

void TestPassw::tablesHoldThePasswords() {
    QCOMPARE(PassportPasswordTable, TableOf(PassportPassword));
    QCOMPARE(CalibrationPasswordTable, TableOf(CalibrationPassword));
    // By hand: '7' '3' '0' '1' are 55 51 48 49; "калиб" is -22 -32 -21 -24 -31.
    QCOMPARE(PassportPasswordTable, (PasswordTable{3025, 2601, 2304, 2401, 0}));
    QCOMPARE(CalibrationPasswordTable, (PasswordTable{484, 1024, 441, 576, 961}));
    QVERIFY(PassportPasswordTable != CalibrationPasswordTable);
}

void TestPassw::comparison_data() {
    QTest::addColumn<bool>("calibration");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("match");
    // A password of 4 characters: the terminator is compared too.
    QTest::newRow("passport: exact") << false << PassportPassword << true;
    QTest::newRow("passport: first character") << false << QStringLiteral("7") << false;
    QTest::newRow("passport: three characters") << false << QStringLiteral("730") << false;
    QTest::newRow("passport: one more") << false << QStringLiteral("73010") << false;
    QTest::newRow("passport: wrong last") << false << QStringLiteral("7302") << false;
    QTest::newRow("passport: empty") << false << QString() << false;
    // 'Й' is 0xC9, signed -55, the negative of '7'.
    QTest::newRow("passport: negative code") << false << QStringLiteral("Й301") << true;
    QTest::newRow("passport: the other password") << false << CalibrationPassword << false;
    // A password of 5 characters: what follows the fifth is not examined.
    QTest::newRow("calibration: exact") << true << CalibrationPassword << true;
    QTest::newRow("calibration: longer") << true << QStringLiteral("калибровка") << true;
    QTest::newRow("calibration: four characters") << true << QStringLiteral("кали") << false;
    QTest::newRow("calibration: first character") << true << QStringLiteral("к") << false;
    QTest::newRow("calibration: upper case") << true << QStringLiteral("КАЛИБ") << false;
    QTest::newRow("calibration: latin look-alike") << true << QStringLiteral("kалиб") << false;
    // U+0016 has code +22, the negative of 'к'.
    QTest::newRow("calibration: negative code")
        << true << (QChar(0x16) + QStringLiteral("алиб")) << true;
    QTest::newRow("calibration: empty") << true << QString() << false;
    QTest::newRow("calibration: the other password") << true << PassportPassword << false;
}

void TestPassw::comparison() {
    QFETCH(bool, calibration);
    QFETCH(QString, entry);
    QFETCH(bool, match);
    QCOMPARE(PasswordMatches(entry, calibration ? CalibrationPasswordTable : PassportPasswordTable),
             match);
}

void TestPassw::dialogLooksAsSpecified() {
    QCOMPARE(Password, nullptr); // created by the program, not by the unit
    TPassword dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Ввод пароля"));
    QCOMPARE(dlg.findChild<QLabel*>("Label1")->text(), QStringLiteral("Без пароля паспорт модуля"));
    QCOMPARE(dlg.findChild<QLabel*>("Label2")->text(),
             QStringLiteral("доступен только для чтения!"));
    auto* ok = dlg.findChild<QPushButton*>("btOK");
    QCOMPARE(ok->text(), QString(QChar(0x041E)) + QChar(0x041A)); // Cyrillic "ОК"
    QVERIFY(ok->isDefault());
    auto* edit = dlg.findChild<QLineEdit*>("edPass");
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QVERIFY(edit->text().isEmpty());
    QCOMPARE(dlg.findChildren<QPushButton*>().size(), 1); // no Cancel
    const Qt::WindowFlags f = dlg.windowFlags();
    QVERIFY(!(f & Qt::WindowCloseButtonHint));
    QVERIFY(!(f & Qt::WindowSystemMenuHint));
    QVERIFY(!(f & Qt::WindowMinMaxButtonsHint));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    dlg.show();
    QCOMPARE(dlg.focusWidget(), edit);
}

void TestPassw::emptyEntryGivesReadOnlyAccess() {
    RecorderUi rec;
    TPassword dlg;
    QTimer::singleShot(0, &dlg, [&] { dlg.findChild<QPushButton*>("btOK")->click(); });
    QCOMPARE(dlg.exec(), 7);
    QVERIFY(rec.messages.isEmpty());
}

void TestPassw::rightEntryGivesFullAccessAndIsKept() {
    RecorderUi rec;
    TPassword dlg;
    auto* edit = dlg.findChild<QLineEdit*>("edPass");
    QTimer::singleShot(0, &dlg, [&] {
        QTest::keyClicks(edit, PassportPassword);
        QTest::keyClick(edit, Qt::Key_Return); // the default button
    });
    QCOMPARE(dlg.exec(), 1);
    QVERIFY(dlg.isHidden());
    // Shown again: the entry is still there and OK grants full access again.
    QTimer::singleShot(0, &dlg, [&] {
        QCOMPARE(edit->text(), PassportPassword);
        QCOMPARE(edit->displayText(), QStringLiteral("****"));
        QCOMPARE(dlg.focusWidget(), edit);
        dlg.findChild<QPushButton*>("btOK")->click();
    });
    QCOMPARE(dlg.exec(), 1);
    QVERIFY(rec.messages.isEmpty());
}

void TestPassw::wrongEntryIsClearedAndReported() {
    RecorderUi rec;
    TPassword dlg;
    auto* edit = dlg.findChild<QLineEdit*>("edPass");
    auto* ok = dlg.findChild<QPushButton*>("btOK");
    dlg.show();
    edit->setText(QStringLiteral("1234"));
    dlg.findChild<QPushButton*>("btOK")->setFocus();
    ok->click();
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), 0);
    QVERIFY(edit->text().isEmpty());
    QCOMPARE(dlg.focusWidget(), edit);
    QCOMPARE(rec.messages.size(), 1);
    QCOMPARE(rec.messages[0].text, QStringLiteral("Неправильный пароль!"));
    QCOMPARE(rec.messages[0].caption, QStringLiteral("QS730_View"));
    QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
    // The handler itself raises the error for the standard box.
    edit->setText(QStringLiteral("730"));
    QVERIFY_THROWS_EXCEPTION(Exception, dlg.btOKClick());
    QVERIFY(dlg.isVisible());
    // A second try with the right password.
    edit->setText(PassportPassword);
    ok->click();
    QVERIFY(dlg.isHidden());
    QCOMPARE(dlg.result(), 1);
}

void TestPassw::onlyOkEndsTheDialog() {
    RecorderUi rec;
    TPassword dlg;
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    QVERIFY(!dlg.close()); // a close request from the window system
    QVERIFY(dlg.isVisible());
    dlg.reject();
    QVERIFY(dlg.isVisible());
    dlg.findChild<QPushButton*>("btOK")->click();
    QVERIFY(dlg.isHidden());
    QCOMPARE(dlg.result(), 7);
    QVERIFY(rec.messages.isEmpty());
}

void TestPassw::gate_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right password") << QStringList{CalibrationPassword} << true;
    QTest::newRow("wrong password") << QStringList{QStringLiteral("калиа")} << false;
    QTest::newRow("passport password") << QStringList{PassportPassword} << false;
    QTest::newRow("OK on the empty box") << QStringList{QString()} << false;
    QTest::newRow("Cancel") << QStringList{} << false;
}

void TestPassw::gate() {
    QFETCH(QStringList, answers);
    QFETCH(bool, accepted);
    RecorderUi rec;
    rec.answers = answers;
    QWidget owner;
    QCOMPARE(CalibrationPasswordAccepted(&owner), accepted);
    QCOMPARE(rec.inputs,
             QStringList{QStringLiteral(
                 "Внимание!|Параметры работы модуля будут изменены!\nТребуется пароль!")});
    if (accepted) {
        QVERIFY(rec.messages.isEmpty());
    } else {
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].owner, &owner);
        QCOMPARE(rec.messages[0].text, QStringLiteral("Неправильный пароль!"));
        QCOMPARE(rec.messages[0].caption, QString());
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
    }
}

QTEST_MAIN(TestPassw)
#include "test_passw.moc"
