// The service-parameters dialog: its form, the password decision, reading,
// writing and the factory values; first against a scripted module, then
// against the simulated module through the real communication library.
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <map>
#include <vector>

#include "Controls.h"
#include "Convert.h"
#include "FakeModule.h"
#include "Func.h"
#include "Modulparams.h"
#include "RecorderUi.h"
#ifdef QS_HAS_SIM
#include "SimLink.h"
#endif

namespace {

// A password dialog that answers at once with a given result.
class ScriptedPassword : public QDialog {
  public:
    explicit ScriptedPassword(int result) : result_(result) {}
    int exec() override {
        ++shown;
        return result_;
    }
    int shown = 0;

  private:
    int result_;
};

struct Form {
    explicit Form(QDialog& d)
        : edAdress(Control<QLineEdit>(d, "edAdress")), cbSpeed(Control<QComboBox>(d, "cbSpeed")),
          cbParity(Control<QComboBox>(d, "cbParity")), edName(Control<QLineEdit>(d, "edName")),
          cbAlpha(Control<QComboBox>(d, "cbAlpha")), edNumber(Control<QLineEdit>(d, "edNumber")),
          edVer(Control<QLineEdit>(d, "edVer")), edManuf(Control<QLineEdit>(d, "edManuf")),
          edCheck(Control<QLineEdit>(d, "edCheck")), btWrite(Control<QPushButton>(d, "btWrite")),
          btRead(Control<QPushButton>(d, "btRead")), btDef(Control<QPushButton>(d, "btDef")),
          gbModbPars(Control<QGroupBox>(d, "gbModbPars")),
          gbPassport(Control<QGroupBox>(d, "gbPassport")), lbCheck(Control<QLabel>(d, "lbCheck")) {}
    QLineEdit* edAdress;
    QComboBox* cbSpeed;
    QComboBox* cbParity;
    QLineEdit* edName;
    QComboBox* cbAlpha;
    QLineEdit* edNumber;
    QLineEdit* edVer;
    QLineEdit* edManuf;
    QLineEdit* edCheck;
    QPushButton* btWrite;
    QPushButton* btRead;
    QPushButton* btDef;
    QGroupBox* gbModbPars;
    QGroupBox* gbPassport;
    QLabel* lbCheck;
};

FakeModule Module;
std::map<uint16_t, uint16_t>& Regs = Module.regs;
std::vector<FakeModule::Call>& Calls = Module.calls;

// Registers of a healthy QS-730: A0042, version 02.03, both dates 15.03.26.
void ResetModule() {
    Module.reset();
    Regs = {{257, 1},    {258, 192},    {259, 2},   {768, 17},
            {0, 0x082A}, {769, 0x0203}, {1, 26863}, {256, 26863}};
}

// The registers of the calls the module answered, of one function, in turn.
std::vector<uint16_t> Answered(uint8_t function) {
    std::vector<uint16_t> r;
    for (const FakeModule::Call& c : Calls)
        if (c.function == function && c.result == COMM_OK)
            r.push_back(c.first);
    return r;
}
std::vector<uint16_t> Written() {
    return Answered(16);
}
std::vector<uint16_t> ReadOrder() {
    return Answered(3);
}

uint16_t WrittenValue(uint16_t reg) {
    for (const FakeModule::Call& c : Calls)
        if (c.function == 16 && c.first == reg && c.result == COMM_OK)
            return c.values[0];
    return 0xDEAD;
}

// Registers to set in the simulated module before a test: number, value.
using RegValues = QList<QPair<int, int>>;

#ifdef QS_HAS_SIM
// The real library's entry points, bound once for all tests against the
// simulated module. The library object stays reachable for the whole run
// (it is never unloaded).
CommEntryPoints RealComm;
QLibrary* RealLibrary = nullptr;

bool BindRealLibrary() {
    if (RealComm.invoke_modb)
        return true;
    if (!RealLibrary)
        RealLibrary = new QLibrary(CommLibraryPath());
    if (!RealLibrary->load()) {
        qWarning("%s", qPrintable(RealLibrary->errorString()));
        return false;
    }
    RealComm.init_comm = reinterpret_cast<init_comm_fn>(RealLibrary->resolve("init_comm"));
    RealComm.invoke_modb = reinterpret_cast<invoke_modb_fn>(RealLibrary->resolve("invoke_modb"));
    RealComm.EnumParameters =
        reinterpret_cast<EnumParameters_fn>(RealLibrary->resolve("EnumParameters"));
    return RealComm.init_comm && RealComm.invoke_modb && RealComm.EnumParameters;
}

// Starts a simulated module and opens the link on it through the real
// library; nothing when that fails.
std::unique_ptr<SimLink> StartModule(const sim::Options& options = {}) {
    if (!BindRealLibrary())
        return nullptr;
    Comm = RealComm;
    try {
        auto link = std::make_unique<SimLink>(options);
        if (link->opened())
            return link;
        qWarning("the link to the simulated module did not open");
    } catch (const std::exception& e) {
        qWarning("no simulated module: %s", e.what());
    }
    return nullptr;
}

// What the module received: "R<first>" for reads, "W<first>=<value>" for writes.
QStringList Received(const sim::SimModule& m) {
    QStringList r;
    for (const sim::Request& q : m.requests()) {
        if (q.function == 3)
            r << QStringLiteral("R%1").arg(q.first);
        else
            r << QStringLiteral("W%1=%2").arg(q.first).arg(q.values.empty() ? -1 : q.values[0]);
    }
    return r;
}

#endif

const QString Key = QString::number(reg::UnlockKey);

const QString RangeMessage = QStringLiteral("Адрес должен быть от 1 до 247!");
const QString NumberMissing = QStringLiteral("Введите  номер модуля!");
const QString NumberRange = QStringLiteral("Номер модуля должен быть от 0 до 2047!");
const QString YearRange = QStringLiteral("Год изготовления должен быть от 2001 до 2063!");
const QString BadManuf = QStringLiteral("Некорректная дата изготовления!");
const QString BadCheck =
    QStringLiteral("Некорректная дата калибровки!\nВозможно модуль не откалиброван!");

} // namespace

class TestModPars : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        ResetModule();
        SerialLetter = QStringLiteral("A");
    }

    void formAsBuilt() {
        ScriptedPassword pw(1);
        TModPars d(nullptr, &pw);
        Form f(d);
        Form u(d);
        QCOMPARE(d.objectName(), QStringLiteral("ModPars"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Служебные параметры модуля"));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QCOMPARE(u.gbModbPars->title(), QStringLiteral("Параметры Modbus"));
        QCOMPARE(u.gbPassport->title(), QStringLiteral("Паспорт"));
        QCOMPARE(u.lbCheck->text(), QStringLiteral("Дата калибровкиа"));
        QCOMPARE(u.btWrite->text(), QStringLiteral("Записать"));
        QVERIFY(u.btWrite->isDefault());
        QVERIFY(!u.btRead->isDefault() && !u.btDef->isDefault());

        // Blank masked fields show their blanks and literals.
        QCOMPARE(u.edAdress->displayText(), QStringLiteral("   "));
        QCOMPARE(u.edManuf->displayText(), QStringLiteral("  .  .  "));
        QCOMPARE(u.edCheck->displayText(), QStringLiteral("  .  .  "));
        QCOMPARE(u.edNumber->text(), QStringLiteral("0000"));
        QCOMPARE(u.edNumber->maxLength(), 4);

        QStringList speeds;
        for (int i = 0; i < u.cbSpeed->count(); ++i)
            speeds << u.cbSpeed->itemText(i);
        QCOMPARE(speeds, QStringList({"2400", "4800", "9600", "19200", "28800", "38400", "57600",
                                      "115200"}));
        QCOMPARE(u.cbSpeed->currentIndex(), -1);
        QCOMPARE(u.cbParity->count(), 3);
        QCOMPARE(u.cbParity->itemText(2), QStringLiteral("Even"));
        QCOMPARE(u.cbParity->currentIndex(), -1);
        QCOMPARE(u.cbAlpha->count(), 26);
        QCOMPARE(u.cbAlpha->itemText(25), QStringLiteral("Z"));
        QVERIFY(!u.cbSpeed->isEditable() && !u.cbParity->isEditable());

        QVERIFY(!u.edName->isEnabled() && u.edName->isReadOnly());
        QCOMPARE(u.edName->focusPolicy(), Qt::NoFocus);
        QVERIFY(!u.edVer->isEnabled() && !u.edCheck->isEnabled());
        QCOMPARE(u.edName->palette().color(QPalette::Disabled, QPalette::Base),
                 QColor(192, 192, 192));

        // The buttons stand left of both groups.
        QVERIFY(u.btDef->geometry().right() < u.gbModbPars->geometry().left());
        QVERIFY(u.btRead->geometry().top() > u.btWrite->geometry().top());
        QVERIFY(u.gbPassport->geometry().top() > u.gbModbPars->geometry().bottom());
        QVERIFY(u.edNumber->geometry().left() > u.cbAlpha->geometry().right());
    }

    void tabOrderAndFirstFocus() {
        ScriptedPassword pw(1);
        TModPars d(nullptr, &pw);
        Form f(d);
        Form u(d);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(QApplication::focusWidget(), u.edAdress);
        const QList<QWidget*> expected = {u.edAdress, u.cbSpeed, u.cbParity, u.edNumber,
                                          u.edManuf,  u.edCheck, u.edVer,    u.cbAlpha,
                                          u.btWrite,  u.btRead,  u.btDef};
        QWidget* w = u.edAdress;
        for (int i = 1; i < expected.size(); ++i) {
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !expected.contains(w))
                w = w->nextInFocusChain();
            QCOMPARE(w, expected[i]);
        }
    }

    void passwordDecidesOnce_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("serialLetter");
        QTest::addColumn<bool>("editable");
        QTest::addColumn<int>("letter");
        QTest::newRow("granted, lower case") << 1 << "c" << true << 2;
        QTest::newRow("granted, upper case, longer text") << 1 << "Zeta" << true << 25;
        QTest::newRow("granted, digit") << 1 << "7" << true << -1;
        QTest::newRow("granted, empty letter") << 1 << "" << true << -1;
        QTest::newRow("granted, Cyrillic") << 1 << "б" << true << -1;
        QTest::newRow("no password") << 7 << "B" << false << -1;
        QTest::newRow("closed some other way") << 0 << "B" << false << -1;
        QTest::newRow("unknown result") << 2 << "B" << false << -1;
    }
    void passwordDecidesOnce() {
        QFETCH(int, result);
        QFETCH(QString, serialLetter);
        QFETCH(bool, editable);
        QFETCH(int, letter);
        SerialLetter = serialLetter;
        ScriptedPassword pw(result);
        TModPars d(nullptr, &pw);
        Form f(d);
        QCOMPARE(pw.shown, 1);
        QCOMPARE(d.passportEditable(), editable);
        QCOMPARE(f.cbAlpha->currentIndex(), letter);
        for (QWidget* w : {static_cast<QWidget*>(f.edNumber), static_cast<QWidget*>(f.edManuf),
                           static_cast<QWidget*>(f.cbAlpha)}) {
            QCOMPARE(w->isEnabled(), editable);
            if (!editable)
                QCOMPARE(w->palette().color(QPalette::Disabled, QPalette::Base),
                         QColor(128, 128, 128));
        }
        QVERIFY(!d.isVisible()); // asked before the dialog is shown
    }

    void modalUseFromTheMainWindow() {
        QWidget owner;
        ScriptedPassword pw(7);
        RecorderUi rec;
        TModPars d(&owner, &pw);
        Form f(d);
        QTimer::singleShot(0, &d, [&d, &f] {
            f.btWrite->click(); // nothing selected yet
            d.reject();
        });
        d.exec();
        QCOMPARE(pw.shown, 1);
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Выберите скорость!")});
        QCOMPARE(rec.messages[0].caption, QStringLiteral("QS730_View"));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
        QVERIFY(Calls.empty());
    }

    void readDecodesWords_data() {
        QTest::addColumn<uint16_t>("reg");
        QTest::addColumn<uint16_t>("word");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("shown");
        QTest::newRow("type 1") << uint16_t(768) << uint16_t(1) << "edName"
                                << "RK-110";
        QTest::newRow("type 8") << uint16_t(768) << uint16_t(8) << "edName"
                                << "RK-130.1";
        QTest::newRow("speed 1152") << uint16_t(258) << uint16_t(1152) << "cbSpeed"
                                    << "115200";
        QTest::newRow("parity 0") << uint16_t(259) << uint16_t(0) << "cbParity"
                                  << "None";
        QTest::newRow("parity 3") << uint16_t(259) << uint16_t(3) << "cbParity"
                                  << "";
        QTest::newRow("serial Z2047") << uint16_t(0) << uint16_t(26 * 2048 + 2047) << "serial"
                                      << "Z 2047";
        QTest::newRow("serial letter code 27") << uint16_t(0) << uint16_t(27 * 2048 + 5) << "serial"
                                               << " 0005";
        QTest::newRow("version 0x0105") << uint16_t(769) << uint16_t(0x0105) << "edVer"
                                        << "01.05";
        QTest::newRow("address 247") << uint16_t(257) << uint16_t(247) << "edAdress"
                                     << "247";
        QTest::newRow("date 0x3C0F") << uint16_t(1) << uint16_t(0x3C0F) << "edManuf"
                                     << "15.12.03";
        QTest::newRow("calibrated 31.12.63")
            << uint16_t(256) << reg::PackDate(31, 12, 63) << "edCheck"
            << "31.12.63";
    }
    void readDecodesWords() {
        QFETCH(uint16_t, reg);
        QFETCH(uint16_t, word);
        QFETCH(QString, field);
        QFETCH(QString, shown);
        Regs[reg] = word;
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btRead->click();
        QCOMPARE(rec.texts(), QStringList());
        QString text;
        if (field == "serial")
            text = f.cbAlpha->currentText() + " " + f.edNumber->text();
        else if (auto* combo = d.findChild<QComboBox*>(field))
            text = combo->currentText();
        else
            text = d.findChild<QLineEdit*>(field)->displayText().trimmed();
        QCOMPARE(text, shown);
    }

    void readRefusesInvalidDates_data() {
        QTest::addColumn<uint16_t>("manuf");
        QTest::addColumn<uint16_t>("check");
        QTest::addColumn<QString>("message");
        QTest::newRow("calibration 29.02.25")
            << uint16_t(26863) << reg::PackDate(29, 2, 25) << BadCheck;
        QTest::newRow("manufacture month 0")
            << uint16_t(0x0F | 0x20) << uint16_t(26863) << BadManuf;
        QTest::newRow("manufacture 31.04.26")
            << reg::PackDate(31, 4, 26) << uint16_t(26863) << BadManuf;
        QTest::newRow("manufacture 0xFFFF") << uint16_t(0xFFFF) << uint16_t(0) << BadManuf;
    }
    void readRefusesInvalidDates() {
        QFETCH(uint16_t, manuf);
        QFETCH(uint16_t, check);
        QFETCH(QString, message);
        Regs[1] = manuf;
        Regs[256] = check;
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btRead->click();
        QCOMPARE(rec.texts(), QStringList{message});
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
        // Everything read before the bad date is in place.
        QCOMPARE(f.edName->text(), QStringLiteral("QS-730"));
        QCOMPARE(f.edVer->text(), QStringLiteral("02.03"));
        QCOMPARE(f.edCheck->displayText(), QStringLiteral("  .  .  "));
        if (message == BadManuf) {
            QCOMPARE(ReadOrder().back(), uint16_t(1)); // the calibration date is not read
            QCOMPARE(f.edManuf->displayText(), QStringLiteral("  .  .  "));
        } else {
            QCOMPARE(ReadOrder().back(), uint16_t(256));
            QCOMPARE(f.edManuf->displayText(), QStringLiteral("15.03.26"));
        }
    }

    void readStopsAtALinkFailure() {
        Module.failing = {768};
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btRead->click();
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Нет ответа!")});
        QCOMPARE(ReadOrder(), (std::vector<uint16_t>{257, 258, 259}));
        QCOMPARE(f.cbParity->currentText(), QStringLiteral("Even"));
        QCOMPARE(f.edName->text(), QString());
    }

    void writeChecksComeFirst_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::newRow("no speed, no parity") << -1 << -1 << ""
                                             << "Выберите скорость!";
        QTest::newRow("no speed") << -1 << 2 << "1"
                                  << "Выберите скорость!";
        QTest::newRow("no parity") << 3 << -1 << ""
                                   << "Выберите паритет!";
        QTest::newRow("empty address") << 3 << 2 << "" << RangeMessage;
        QTest::newRow("address 0") << 3 << 2 << "0" << RangeMessage;
        QTest::newRow("address 000") << 3 << 2 << "000" << RangeMessage;
        QTest::newRow("address 248") << 3 << 2 << "248" << RangeMessage;
        QTest::newRow("address 999") << 3 << 2 << "999" << RangeMessage;
        QTest::newRow("address with a gap") << 3 << 2 << "1 2"
                                            << "'1 2' is not a valid integer value";
    }
    void writeChecksComeFirst() {
        QFETCH(int, speed);
        QFETCH(int, parity);
        QFETCH(QString, address);
        QFETCH(QString, message);
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.cbSpeed->setCurrentIndex(speed);
        f.cbParity->setCurrentIndex(parity);
        f.edAdress->setText(address);
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList{seam::ErrorBoxText(message)});
        QVERIFY(Calls.empty());
        QVERIFY(rec.pauses.isEmpty());
    }

    void writeSendsLinkParametersAndPassport_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("letter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("date");
        QTest::addColumn<uint16_t>("speedCode");
        QTest::addColumn<uint16_t>("serial");
        QTest::addColumn<uint16_t>("packed");
        QTest::newRow("B0007, 15.03.26")
            << "247" << 7 << 0 << 1 << "7"
            << "15.03.26" << uint16_t(1152) << uint16_t(4103) << uint16_t(26863);
        QTest::newRow("A0042, 01.01.01")
            << "1" << 0 << 1 << 0 << "0042"
            << "01.01.01" << uint16_t(24) << uint16_t(0x082A) << reg::PackDate(1, 1, 1);
        QTest::newRow("Z2047, 31.12.63")
            << " 12" << 5 << 2 << 25 << "2047"
            << "31.12.63" << uint16_t(384) << uint16_t(0xD7FF) << reg::PackDate(31, 12, 63);
        QTest::newRow("hex number, leap day")
            << "5" << 2 << 2 << 2 << "$10"
            << "29.02.24" << uint16_t(96) << uint16_t(3 * 2048 + 16) << reg::PackDate(29, 2, 24);
    }
    void writeSendsLinkParametersAndPassport() {
        QFETCH(QString, address);
        QFETCH(int, speed);
        QFETCH(int, parity);
        QFETCH(int, letter);
        QFETCH(QString, number);
        QFETCH(QString, date);
        QFETCH(uint16_t, speedCode);
        QFETCH(uint16_t, serial);
        QFETCH(uint16_t, packed);
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.edAdress->setText(address);
        f.cbSpeed->setCurrentIndex(speed);
        f.cbParity->setCurrentIndex(parity);
        f.cbAlpha->setCurrentIndex(letter);
        f.edNumber->setText(number);
        f.edManuf->setText(date);
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList());
        // The passport first, while the link is known to work.
        QCOMPARE(Written(), (std::vector<uint16_t>{1912, 0, 1912, 1, 257, 258, 259}));
        QCOMPARE(WrittenValue(257), uint16_t(StrToInt(address.trimmed())));
        QCOMPARE(WrittenValue(258), speedCode);
        QCOMPARE(WrittenValue(259), uint16_t(parity));
        QCOMPARE(WrittenValue(1912), reg::UnlockKey);
        QCOMPARE(WrittenValue(0), serial);
        QCOMPARE(WrittenValue(1), packed);
        QCOMPARE(rec.pauses, (QList<int>{300, 300, 300, 300, 300}));
        // No field is read back; register 0 tells where the module answers now.
        QCOMPARE(ReadOrder(), std::vector<uint16_t>{0});
    }

    void readOnlyPassportWritesLinkParametersOnly() {
        ScriptedPassword pw(7);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btRead->click();
        d.btDefClick();
        Calls.clear();
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList());
        QCOMPARE(Written(), (std::vector<uint16_t>{257, 258, 259}));
        QCOMPARE(WrittenValue(258), uint16_t(192));
        QCOMPARE(WrittenValue(259), uint16_t(2));
        QCOMPARE(rec.pauses, (QList<int>{300, 300, 300}));
    }

    void passportChecksAfterTheLinkParameters_data() {
        QTest::addColumn<int>("letter");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("serialWritten");
        QTest::newRow("empty number") << 0 << ""
                                      << "15.03.26" << NumberMissing << false;
        QTest::newRow("no letter") << -1 << "42"
                                   << "15.03.26" << NumberMissing << false;
        QTest::newRow("not a number") << 0 << "4a"
                                      << "15.03.26"
                                      << "'4a' is not a valid integer value" << false;
        QTest::newRow("blanks only") << 0 << "  "
                                     << "15.03.26"
                                     << "'  ' is not a valid integer value" << false;
        // Would spill into the letter bits.
        QTest::newRow("number 2048") << 0 << "2048"
                                     << "15.03.26" << NumberRange << false;
        QTest::newRow("number 9999") << 25 << "9999"
                                     << "15.03.26" << NumberRange << false;
        QTest::newRow("negative number") << 1 << "-1"
                                         << "15.03.26" << NumberRange << false;
        QTest::newRow("hex beyond 2047") << 1 << "$800"
                                         << "15.03.26" << NumberRange << false;
        // The date is converted after register 0 went out.
        QTest::newRow("blank date") << 0 << "42"
                                    << ""
                                    << "'  .  .  ' is not a valid date" << true;
        QTest::newRow("half a date") << 0 << "42"
                                     << "1503"
                                     << "'15.03.  ' is not a valid date" << true;
        QTest::newRow("31 February") << 0 << "42"
                                     << "31.02.24"
                                     << "'31.02.24' is not a valid date" << true;
        QTest::newRow("29.02.25") << 0 << "42"
                                  << "29.02.25"
                                  << "'29.02.25' is not a valid date" << true;
        // The year field holds 0..63, and year 00 would read back as no date.
        QTest::newRow("year 64") << 0 << "42"
                                 << "15.03.64" << YearRange << true;
        QTest::newRow("year 99") << 0 << "42"
                                 << "01.01.99" << YearRange << true;
        QTest::newRow("year 00") << 0 << "42"
                                 << "15.03.00" << YearRange << true;
    }
    void passportChecksAfterTheLinkParameters() {
        QFETCH(int, letter);
        QFETCH(QString, number);
        QFETCH(QString, date);
        QFETCH(QString, message);
        QFETCH(bool, serialWritten);
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        d.btDefClick();
        f.cbAlpha->setCurrentIndex(letter);
        f.edNumber->setText(number);
        f.edManuf->setText(date);
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList{seam::ErrorBoxText(message)});
        // Every field is checked before anything is sent.
        if (serialWritten) {
            QCOMPARE(Written(), (std::vector<uint16_t>{}));
            QCOMPARE(rec.pauses.size(), 0);
        } else {
            QCOMPARE(Written(), (std::vector<uint16_t>{}));
            QCOMPARE(rec.pauses.size(), 0);
        }
        QCOMPARE(Regs[1], uint16_t(26863)); // the manufacture date is untouched
    }

    void writeStopsAtALinkFailure() {
        Module.failing = {258};
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        d.btDefClick();
        f.btWrite->click();
        // The passport goes first; the module, given a new address, then
        // answers neither at the old one nor at the new: the search is offered.
        QCOMPARE(rec.texts().size(), 0);
        QCOMPARE(rec.questions.size(), 1);
        QVERIFY(rec.questions[0].text.startsWith(
            QStringLiteral("Модуль перестал отвечать при записи скорости")));
        QCOMPARE(Written(), (std::vector<uint16_t>{1912, 0, 1912, 1, 257}));
        QCOMPARE(rec.pauses, (QList<int>{300, 300, 300}));
    }

    // A passport write whose replies go missing: every attempt is unlocked
    // again, so a lost reply costs a retry and the rest is written; when the
    // write still fails, the box says what registers 0 and 1 hold now (read
    // back where the module answers), and the link parameters stay unwritten.
    void passportWithLostReplies_data() {
        QTest::addColumn<int>("lost0"); // replies of writes to register 0 lost
        QTest::addColumn<int>("lost1");
        QTest::addColumn<QList<int>>("results"); // of the calls in turn
        QTest::addColumn<QList<int>>("silent");  // registers that never answer
        QTest::addColumn<QString>("box");        // "": none, written whole
        QTest::addColumn<uint16_t>("reg0");
        QTest::addColumn<uint16_t>("reg1");
        const uint16_t newDate = reg::PackDate(7, 5, 9);
        const QString now = QStringLiteral("\nСейчас в модуле:\n");
        const QString tail = QStringLiteral(".\nАдрес, скорость и паритет не записывались.");
        QTest::newRow("reply of register 0 lost once")
            << 1 << 0 << QList<int>() << QList<int>() << "" << uint16_t(4103) << newDate;
        QTest::newRow("reply of register 1 lost twice")
            << 0 << 2 << QList<int>() << QList<int>() << "" << uint16_t(4103) << newDate;
        QTest::newRow("replies of register 0 lost every time")
            << 3 << 0 << QList<int>() << QList<int>()
            << "Паспорт записан не полностью: при записи рег. номера — «Нет ответа!»." + now +
                   "рег. номер (регистр 0) — B0007, новый;\n"
                   "дата изготовления (регистр 1) — 15.03.26, прежняя" +
                   tail
            << uint16_t(4103) << uint16_t(26863);
        QTest::newRow("replies of register 1 lost every time")
            << 0 << 3 << QList<int>() << QList<int>()
            << "Модуль не подтвердил запись даты изготовления («Нет ответа!»), но паспорт "
               "записан целиком." +
                   now +
                   "рег. номер (регистр 0) — B0007, новый;\n"
                   "дата изготовления (регистр 1) — 07.05.09, новая" +
                   tail
            << uint16_t(4103) << newDate;
        QTest::newRow("register 1 never answers")
            << 0 << 0 << QList<int>() << QList<int>{1}
            << "Паспорт записан не полностью: при записи даты изготовления — «Нет ответа!»." + now +
                   "рег. номер (регистр 0) — B0007, новый;\n"
                   "дата изготовления (регистр 1) — прочитать не удалось; неизвестно, принял ли "
                   "модуль 07.05.09" +
                   tail
            << uint16_t(4103) << uint16_t(26863);
        // Unlock, register 0, then silence: three unlocks, three reads of 0.
        QTest::newRow("module falls silent after register 0")
            << 0 << 0 << QList<int>{0, 0, 14, 14, 14, 14, 14, 14} << QList<int>()
            << "Паспорт записан не полностью: при записи даты изготовления — «Нет ответа!»." + now +
                   "рег. номер (регистр 0) — прочитать не удалось; запись B0007 модуль "
                   "подтвердил;\n"
                   "дата изготовления (регистр 1) — прочитать не удалось; прежняя, не "
                   "записывалась" +
                   tail
            << uint16_t(4103) << uint16_t(26863);
        // Nothing went out: the error alone.
        QTest::newRow("module silent from the start")
            << 0 << 0 << QList<int>{14, 14, 14} << QList<int>() << "Нет ответа!" << uint16_t(0x082A)
            << uint16_t(26863);
    }
    void passportWithLostReplies() {
        QFETCH(int, lost0);
        QFETCH(int, lost1);
        QFETCH(QList<int>, results);
        QFETCH(QList<int>, silent);
        QFETCH(QString, box);
        Module.repliesLost = {{0, lost0}, {1, lost1}};
        Module.results.assign(results.begin(), results.end());
        Module.failing = {silent.begin(), silent.end()};
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        d.btDefClick(); // the link stays as it is
        f.cbAlpha->setCurrentIndex(1);
        f.edNumber->setText(QStringLiteral("7"));
        f.edManuf->setText(QStringLiteral("07.05.09"));
        f.btWrite->click();
        QCOMPARE(rec.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        QTEST(Regs[0], "reg0");
        QTEST(Regs[1], "reg1");
        const std::vector<uint16_t> written = Written();
        QCOMPARE(std::count(written.begin(), written.end(), uint16_t(257)), box.isEmpty() ? 1 : 0);
        // Every write of the passport right after an unlock of its own.
        for (std::size_t i = 0; i < Calls.size(); ++i)
            if (Calls[i].function == 16 && Calls[i].first < 2)
                QVERIFY(i > 0 && Calls[i - 1].first == reg::Unlock);
    }

    void defaultsFillFieldsOnly() {
        for (int result : {1, 7}) {
            ScriptedPassword pw(result);
            TModPars d(nullptr, &pw);
            Form f(d);
            f.cbAlpha->setCurrentIndex(result == 1 ? 4 : -1);
            f.edNumber->setText(QStringLiteral("0815"));
            f.btDef->click();
            QCOMPARE(f.edAdress->displayText().trimmed(), QStringLiteral("1"));
            QCOMPARE(f.cbSpeed->currentText(), QStringLiteral("19200"));
            QCOMPARE(f.cbParity->currentText(), QStringLiteral("Even"));
            const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yy"));
            QCOMPARE(f.edManuf->displayText(), result == 1 ? today : QStringLiteral("  .  .  "));
            QCOMPARE(f.edNumber->text(), QStringLiteral("0815"));
            QCOMPARE(f.cbAlpha->currentIndex(), result == 1 ? 4 : -1);
            QCOMPARE(f.edCheck->displayText(), QStringLiteral("  .  .  "));
        }
        QVERIFY(Calls.empty());
    }

    void grantedWithNothingReadFailsOnTheBlankDate() {
        SerialLetter = QStringLiteral("D");
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.cbSpeed->setCurrentIndex(2);
        f.cbParity->setCurrentIndex(0);
        f.edAdress->setText(QStringLiteral("9"));
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("'  .  .  ' is not a valid date.")});
        // Every field is checked before anything is sent.
        QCOMPARE(Written(), (std::vector<uint16_t>{}));
        QCOMPARE(WrittenValue(0), uint16_t(0xDEAD));
    }

#ifdef QS_HAS_SIM
    // ---- Against the simulated module, through the real library

    void simReadsEveryField_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<RegValues>("regs");
        QTest::addColumn<QStringList>("shown"); // type, speed, parity, serial, version, dates
        QTest::addColumn<QString>("message");
        const QStringList healthy = {"QS-730", "19200",    "Even",    "A0042",
                                     "02.03",  "15.03.26", "15.03.26"};
        auto with = [&healthy](int i, const QString& v) {
            QStringList s = healthy;
            s[i] = v;
            return s;
        };
        QTest::newRow("healthy QS-730") << 19200 << 2 << RegValues{} << healthy << "";
        QTest::newRow("type 19") << 19200 << 2 << RegValues{{768, 19}} << with(0, "QS-519") << "";
        QTest::newRow("type 0") << 19200 << 2 << RegValues{{768, 0}} << with(0, "UNKNOWN") << "";
        QTest::newRow("type 20") << 19200 << 2 << RegValues{{768, 20}} << with(0, "UNKNOWN") << "";
        QTest::newRow("type 65535")
            << 19200 << 2 << RegValues{{768, 65535}} << with(0, "UNKNOWN") << "";
        QTest::newRow("speed code 96") << 9600 << 2 << RegValues{} << with(1, "9600") << "";
        QTest::newRow("speed code 100") << 19200 << 2 << RegValues{{258, 100}} << with(1, "") << "";
        QTest::newRow("parity 0x0102") << 19200 << 2 << RegValues{{259, 0x0102}} << healthy << "";
        QTest::newRow("odd parity") << 19200 << 1 << RegValues{} << with(2, "Odd") << "";
        QTest::newRow("serial B0123")
            << 19200 << 2 << RegValues{{0, 4219}} << with(3, "B0123") << "";
        QTest::newRow("serial without letter")
            << 19200 << 2 << RegValues{{0, 0}} << with(3, "0000") << "";
        QTest::newRow("version 01.05")
            << 19200 << 2 << RegValues{{769, 0x0105}} << with(4, "01.05") << "";
        QTest::newRow("date bit 5 clear")
            << 19200 << 2 << RegValues{{1, 0x9507}} << with(5, "07.05.09") << "";
        QTest::newRow("29.02.24") << 19200 << 2 << RegValues{{256, reg::PackDate(29, 2, 24)}}
                                  << with(6, "29.02.24") << "";
        QTest::newRow("calibration 0")
            << 19200 << 2 << RegValues{{256, 0}} << with(6, "  .  .  ") << BadCheck;
        QTest::newRow("calibration 0xFFFF")
            << 19200 << 2 << RegValues{{256, 0xFFFF}} << with(6, "  .  .  ") << BadCheck;
        QStringList noDates = with(5, "  .  .  ");
        noDates[6] = "  .  .  ";
        QTest::newRow("manufacture year 0")
            << 19200 << 2 << RegValues{{1, reg::PackDate(1, 6, 0)}} << noDates << BadManuf;
        QTest::newRow("manufacture 29.02.25")
            << 19200 << 2 << RegValues{{1, reg::PackDate(29, 2, 25)}} << noDates << BadManuf;
    }
    void simReadsEveryField() {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(RegValues, regs);
        QFETCH(QStringList, shown);
        QFETCH(QString, message);
        sim::Options o;
        o.baud = baud;
        o.parity = parity;
        auto link = StartModule(o);
        QVERIFY(link);
        for (const auto& [r, v] : regs)
            link->module().setReg(uint16_t(r), uint16_t(v));
        link->module().clearRequests();

        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btRead->click();
        QCOMPARE(rec.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        const QStringList got = {
            f.edName->text(),          f.cbSpeed->currentText(),
            f.cbParity->currentText(), f.cbAlpha->currentText() + f.edNumber->text(),
            f.edVer->text(),           f.edManuf->displayText(),
            f.edCheck->displayText()};
        QCOMPARE(got, shown);
        QCOMPARE(f.edAdress->displayText(), QStringLiteral("1  "));
        QStringList order = {"R257", "R258", "R259", "R768", "R0", "R769", "R1", "R256"};
        if (message == BadManuf)
            order.removeLast();
        QCOMPARE(Received(link->module()), order);
        QVERIFY(rec.pauses.isEmpty());
    }

    void simWritesPassportWithUnlocks() {
        auto link = StartModule();
        QVERIFY(link);
        link->module().clearRequests();
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btDef->click(); // address 1, 19200, Even: the link stays as it is
        f.cbAlpha->setCurrentIndex(1);
        f.edNumber->setText(QStringLiteral("7"));
        f.edManuf->setText(QStringLiteral("07.05.09"));
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList());
        QCOMPARE(Received(link->module()),
                 QStringList({"W1912=" + Key, "W0=4103", "W1912=" + Key,
                              QStringLiteral("W1=%1").arg(reg::PackDate(7, 5, 9)), "W257=1",
                              "W258=192", "W259=2"}));
        QCOMPARE(rec.pauses, (QList<int>{300, 300, 300, 300, 300}));
        QCOMPARE(link->module().reg(0), uint16_t(4103));
        QCOMPARE(link->module().reg(1), reg::PackDate(7, 5, 9));

        // Read back, the dialog shows what it wrote.
        f.btRead->click();
        QCOMPARE(rec.texts(), QStringList());
        QCOMPARE(f.cbAlpha->currentText() + f.edNumber->text(), QStringLiteral("B0007"));
        QCOMPARE(f.edManuf->displayText(), QStringLiteral("07.05.09"));
    }

    void simReadOnlyPassportChangesLinkParametersOnly() {
        auto link = StartModule();
        QVERIFY(link);
        link->module().clearRequests();
        ScriptedPassword pw(7);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        // Only the last of the three changes: the simulated module takes a new
        // value at once, and the tool goes on talking at its own settings.
        f.btDef->click();
        f.cbParity->setCurrentIndex(1); // Odd
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList());
        // Register 0 first, to know the module again at its new link, where
        // it is read again to know that the module has moved already.
        QCOMPARE(Received(link->module()),
                 QStringList({"R0", "W257=1", "W258=192", "W259=1", "R0"}));
        QCOMPARE(rec.pauses, (QList<int>{300, 300, 300}));
        QCOMPARE(link->module().parity(), 1);
        QCOMPARE(ModuleAddress, uint8_t(1));
        QCOMPARE(BaudRate, 19200);
        QCOMPARE(ParityIndex, uint8_t(2));
        QCOMPARE(f.edManuf->displayText(), QStringLiteral("  .  .  "));
        QCOMPARE(link->module().reg(0), uint16_t(0x082A));
    }

    void simRefusalsSendNothingFurther_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("received");
        // Every field is checked before anything is sent.
        const QStringList link = {};
        QTest::newRow("empty number") << ""
                                      << "01.02.03" << NumberMissing << link;
        QTest::newRow("number 2048") << "2048"
                                     << "01.02.03" << NumberRange << link;
        QTest::newRow("negative number") << "-5"
                                         << "01.02.03" << NumberRange << link;
        const QStringList withSerial = {};
        QTest::newRow("blank date") << "42"
                                    << ""
                                    << "'  .  .  ' is not a valid date." << withSerial;
        QTest::newRow("year 64") << "42"
                                 << "01.02.64" << YearRange << withSerial;
        QTest::newRow("year 00") << "42"
                                 << "01.02.00" << YearRange << withSerial;
    }
    void simRefusalsSendNothingFurther() {
        QFETCH(QString, number);
        QFETCH(QString, date);
        QFETCH(QString, message);
        QFETCH(QStringList, received);
        auto link = StartModule();
        QVERIFY(link);
        link->module().clearRequests();
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btDef->click();
        f.edNumber->setText(number);
        f.edManuf->setText(date);
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList{message});
        QCOMPARE(Received(link->module()), received);
        QCOMPARE(link->module().reg(1), uint16_t(0x68EF));
    }

    void simChecksInOrderBeforeAnyTraffic() {
        auto link = StartModule();
        QVERIFY(link);
        link->module().clearRequests();
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btWrite->click();
        f.cbSpeed->setCurrentIndex(0);
        f.btWrite->click();
        f.cbParity->setCurrentIndex(0);
        f.btWrite->click();
        f.edAdress->setText(QStringLiteral("248"));
        f.btWrite->click();
        f.btDef->click(); // fields only
        QCOMPARE(rec.texts(), QStringList({"Выберите скорость!", "Выберите паритет!", RangeMessage,
                                           RangeMessage}));
        QVERIFY(link->module().requests().empty());
    }

    void simModuleRefusalStopsTheWrite() {
        auto link = StartModule();
        QVERIFY(link);
        link->module().clearRequests();
        ScriptedPassword pw(1);
        RecorderUi rec;
        TModPars d(nullptr, &pw);
        Form f(d);
        f.btDef->click();
        link->module().exceptionNext(2, 3); // every attempt of the first write
        f.btWrite->click();
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Недопустимый адрес данных.")});
        QCOMPARE(rec.pauses, QList<int>());
        QCOMPARE(Received(link->module()),
                 QStringList({"W1912=" + Key, "W1912=" + Key, "W1912=" + Key}));
    }
#endif
};

QTEST_MAIN(TestModPars)
#include "test_modpars.moc"
