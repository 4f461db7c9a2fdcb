// The calibration wizard against a scripted module: the computation, the
// checks, and the exact exchanges, pauses and closes of each step.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <set>
#include <vector>

#include "Calib.h"
#include "Convert.h"
#include "FakeModule.h"
#include "Func.h"
#include "RecorderUi.h"

namespace {

FakeModule module;

uint32_t Coef(uint16_t first) {
    return reg::JoinWords(module.regs[first], module.regs[static_cast<uint16_t>(first + 1)]);
}
void SetCoef(uint16_t first, uint32_t value) {
    module.regs[first] = reg::SplitWords(value)[0];
    module.regs[static_cast<uint16_t>(first + 1)] = reg::SplitWords(value)[1];
}

const QString Key = QString::number(UnlockKey);
const QString WrongReading =
    QStringLiteral("Неправильное значение!\nПроверьте подключение\nили исправность модуля.");

QPushButton* Button(QWidget& w, const char* name) {
    return w.findChild<QPushButton*>(name);
}
// The next widget Tab moves to (the chain is a ring).
QWidget* NextTabStop(QWidget* from) {
    QWidget* w = from->nextInFocusChain();
    while (w != from && !(w->focusPolicy() & Qt::TabFocus))
        w = w->nextInFocusChain();
    return w;
}
QString Tip(QWidget& w) {
    return w.findChild<QLabel*>("lbTip")->text();
}

} // namespace

class TestCalib : public QObject {
    Q_OBJECT

    // The reading the module gives at each step 1..4 (index 0 unused).
    std::array<uint16_t, 5> signal = {0, 2000, 20000, 1000, 10000};
    int shownStep = 0;

    // Presses "Далее >>" with the signal of the current step on the input.
    void next(TCalibr1& w) {
        module.regs[reg::InputValue] = signal[static_cast<std::size_t>(w.step() % 5)];
        Button(w, "btNext")->click();
    }

  private slots:
    void init();

    void computation_data();
    void computation();
    void coefficientWindow_data();
    void coefficientWindow();
    void readingLimits_data();
    void readingLimits();

    void opensAtWelcome();
    void linkFailureKeepsTheWizardClosed();
    void wholeCalibration();
    void checksumErrorUsesDefaults();
    void coefficientsCheckedOnEnteringStep1();
    void readingOutsideToleranceKeepsTheStep();
    void cancelRestoresModeAndTime();
    void goingBack();
    void failedRestoreKeepsTheWizardOpen();
    void failedFinalWriteDoesNotApplyTwice();
};

void TestCalib::init() {
    module.reset();
    module.regs[reg::Mode] = 2;
    module.regs[reg::IntegrationTime] = 320;
    module.regs[reg::CalibrationDate] = 0x68EF;
    SetCoef(8, reg::DefaultGainCurrent);
    SetCoef(10, reg::DefaultOffsetCurrent);
    SetCoef(12, reg::DefaultGainVoltage);
    SetCoef(14, reg::DefaultOffsetVoltage);
    signal = {0, 2000, 20000, 1000, 10000};
}

void TestCalib::computation_data() {
    QTest::addColumn<uint>("gain");
    QTest::addColumn<uint>("offset");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("factor");
    QTest::addColumn<uint>("newGain");
    QTest::addColumn<uint>("newOffset");
    QTest::newRow("current, offset only")
        << 10094759u << 1769246u << 2010 << 20010 << 2 << 10094759u << 1769777u;
    QTest::newRow("current, gain only")
        << 10094759u << 1769246u << 2010 << 20100 << 2 << 10044536u << 1769246u;
    QTest::newRow("voltage") << 8085460u << 1770476u << 990 << 10100 << 4 << 7987830u << 1767524u;
    QTest::newRow("current, nominal")
        << 10195706u << 1870193u << 2000 << 20000 << 2 << 10195706u << 1870193u;
    QTest::newRow("voltage, nominal")
        << 8085460u << 1770476u << 1000 << 10000 << 4 << 8085460u << 1770476u;
    // An offset driven below zero keeps the low 32 bits of the negative value.
    QTest::newRow("offset below zero")
        << 10094759u << 100u << 1600 << 20400 << 2 << 9665194u << uint(-25900);
}

void TestCalib::computation() {
    QFETCH(uint, gain);
    QFETCH(uint, offset);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, factor);
    QFETCH(uint, newGain);
    QFETCH(uint, newOffset);
    const Coefficients c =
        CalibrateRange(gain, offset, static_cast<int16_t>(low), static_cast<int16_t>(high), factor);
    QCOMPARE(c.gain, newGain);
    QCOMPARE(c.offset, newOffset);
}

void TestCalib::coefficientWindow_data() {
    QTest::addColumn<uint>("value");
    QTest::addColumn<uint>("def");
    QTest::addColumn<uint>("window");
    QTest::addColumn<uint>("result");
    QTest::newRow("gain at the upper limit") << 10195706u << 10094759u << 100947u << 10195706u;
    QTest::newRow("gain past the upper limit") << 10195707u << 10094759u << 100947u << 10094759u;
    QTest::newRow("gain at the lower limit") << 9993812u << 10094759u << 100947u << 9993812u;
    QTest::newRow("gain past the lower limit") << 9993811u << 10094759u << 100947u << 10094759u;
    QTest::newRow("current offset") << 1870193u << 1769246u << 100947u << 1870193u;
    QTest::newRow("zero") << 0u << 1770476u << 80854u << 1770476u;
    QTest::newRow("all ones") << 0xFFFFFFFFu << 8085460u << 80854u << 8085460u;
    QTest::newRow("voltage gain past") << 8166315u << 8085460u << 80854u << 8085460u;
}

void TestCalib::coefficientWindow() {
    QFETCH(uint, value);
    QFETCH(uint, def);
    QFETCH(uint, window);
    QFETCH(uint, result);
    QCOMPARE(CheckCoefficient(value, def, window), result);
}

void TestCalib::readingLimits_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("reading");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("1: 2400") << 1 << 2400 << true;
    QTest::newRow("1: 2401") << 1 << 2401 << false;
    QTest::newRow("1: 1600") << 1 << 1600 << true;
    QTest::newRow("1: 1599") << 1 << 1599 << false;
    QTest::newRow("2: 20400") << 2 << 20400 << true;
    QTest::newRow("3: 600") << 3 << 600 << true;
    QTest::newRow("3: 599") << 3 << 599 << false;
    QTest::newRow("4: 9599") << 4 << 9599 << false;
    QTest::newRow("4: 9600") << 4 << 9600 << true;
    QTest::newRow("4: 10401") << 4 << 10401 << false;
    for (int s = 1; s <= 4; ++s)
        QTest::newRow(qPrintable(QStringLiteral("%1: 65535").arg(s))) << s << 65535 << false;
    QTest::newRow("no step 5") << 5 << 10000 << false;
}

void TestCalib::readingLimits() {
    QFETCH(int, step);
    QFETCH(int, reading);
    QFETCH(bool, accepted);
    QCOMPARE(ReadingAccepted(step, static_cast<uint16_t>(reading)), accepted);
}

void TestCalib::opensAtWelcome() {
    RecorderUi rec;
    TCalibr1 w;
    QCOMPARE(module.log, (QStringList{"R264", "R265"}));
    QCOMPARE(w.savedMode(), uint16_t(2));
    QCOMPARE(w.savedIntegrationTime(), uint16_t(320));
    QCOMPARE(w.step(), 0);
    QCOMPARE(w.windowTitle(), QStringLiteral("Калибровка - шаг 0"));
    QCOMPARE(Tip(w), QStringLiteral("Вас приветствует мастер калибровки!"));
    QVERIFY(w.findChild<QLabel*>("lbTip")->alignment() & Qt::AlignRight);
    QCOMPARE(Button(w, "btNext")->text(), QStringLiteral("Далее >>"));
    QCOMPARE(Button(w, "btPrev")->text(), QStringLiteral("<< Назад"));
    QCOMPARE(Button(w, "btCancel")->text(), QStringLiteral("Отмена"));
    QVERIFY(Button(w, "btNext")->isDefault());
    QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowSystemMenuHint));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(w.gainCurrent(), reg::DefaultGainCurrent);
    QCOMPARE(w.offsetVoltage(), reg::DefaultOffsetVoltage);
    w.show();
    QVERIFY(!Button(w, "btPrev")->isVisible());
    QCOMPARE(NextTabStop(Button(w, "btNext")), Button(w, "btCancel"));
    QCOMPARE(NextTabStop(Button(w, "btCancel")), Button(w, "btPrev"));
    QCOMPARE(NextTabStop(Button(w, "btPrev")), Button(w, "btNext"));
    QVERIFY(rec.messages.isEmpty());
    QVERIFY(rec.pauses.isEmpty());
}

void TestCalib::linkFailureKeepsTheWizardClosed() {
    RecorderUi rec;
    module.failing = {reg::IntegrationTime};
    QWidget owner;
    QVERIFY_THROWS_EXCEPTION(ECommError, new TCalibr1(&owner));
    QVERIFY(owner.findChildren<TCalibr1*>().isEmpty());
    QCOMPARE(module.log, (QStringList{"R264", "R265", "R265", "R265"}));
    QVERIFY(rec.messages.isEmpty()); // the caller's guard shows it
}

void TestCalib::wholeCalibration() {
    RecorderUi rec;
    signal = {0, 2010, 20010, 990, 10100};
    QWidget owner;
    // As the main window runs it.
    auto* w = new TCalibr1(&owner);
    // Each pause goes into the log, with the step whose prompt is on screen.
    rec.onPause = [&](int ms) {
        const auto shown = std::find(CalibrationPrompts.begin(), CalibrationPrompts.end(), Tip(*w));
        module.log << QStringLiteral("P%1").arg(ms) +
                          (shown == CalibrationPrompts.end()
                               ? QString()
                               : QStringLiteral("@%1").arg(shown - CalibrationPrompts.begin()));
    };
    QStringList captions;
    QTimer::singleShot(0, w, [&] {
        for (int i = 0; i < 5; ++i) {
            next(*w);
            captions << w->windowTitle();
        }
    });
    QCOMPARE(w->exec(), int(QDialog::Accepted));
    w->deleteLater();
    QCOMPARE(captions,
             (QStringList{"Калибровка - шаг 1", "Калибровка - шаг 2", "Калибровка - шаг 3",
                          "Калибровка - шаг 4", "Калибровка - шаг 5"}));
    const QString r1025 = QStringLiteral("R1025");
    // Each reading after its pause; the module in voltage mode, and settled,
    // before the 1 V prompt shows.
    QCOMPARE(module.log,
             (QStringList{"R264", "R265",
                          // entering step 1
                          "R1024", "R8x4", "R12x4", "W1912=" + Key, "W8x4", "W1912=" + Key, "W12x4",
                          "W264=1", "W1911=" + Key, "P3000@0",
                          // steps 1..4
                          "P6000@1", r1025, "P6000@2", r1025, "W264=2", "W1911=" + Key, "P4000@2",
                          "P6000@3", r1025, "P6000@4", r1025,
                          // the results and the date
                          "W1912=" + Key, "W8x2", "P20", "W1912=" + Key, "W10x2", "P20",
                          "W1912=" + Key, "W12x2", "P20", "W1912=" + Key, "W14x2", "P20",
                          "W1912=" + Key, "W256=" + QString::number(module.regs[256]),
                          // the close
                          "W264=2", "W265=320", "W1911=" + Key}));
    QCOMPARE(rec.pauses, (QList<int>{3000, 6000, 6000, 4000, 6000, 6000, 20, 20, 20, 20}));
    QCOMPARE(Coef(8), 10094759u);
    QCOMPARE(Coef(10), 1769777u);
    QCOMPARE(Coef(12), 7987830u);
    QCOMPARE(Coef(14), 1767524u);
    const reg::Date today = Today();
    QCOMPARE(module.regs[256], reg::PackDate(today.day, today.month, today.year));
    QCOMPARE(module.regs[264], uint16_t(2));
    QCOMPARE(module.regs[265], uint16_t(320));
    QCOMPARE(rec.messages.size(), 1);
    QCOMPARE(rec.messages[0].owner, w);
    QCOMPARE(rec.messages[0].text, QStringLiteral("Калибровка проведена успешно!"));
    QCOMPARE(rec.messages[0].caption, QString());
    QCOMPARE(rec.messages[0].icon, seam::Icon::Warning);
}

void TestCalib::checksumErrorUsesDefaults() {
    RecorderUi rec;
    module.regs[reg::FlagsA] = reg::FlagParamsChecksum;
    SetCoef(8, 1);
    SetCoef(10, 2);
    SetCoef(12, 3);
    SetCoef(14, 4);
    TCalibr1 w;
    w.show();
    next(w);
    QCOMPARE(w.step(), 1);
    QVERIFY(!module.log.contains("R8x4"));
    QVERIFY(!module.log.contains("R12x4"));
    QCOMPARE(Coef(8), reg::DefaultGainCurrent);
    QCOMPARE(Coef(10), reg::DefaultOffsetCurrent);
    QCOMPARE(Coef(12), reg::DefaultGainVoltage);
    QCOMPARE(Coef(14), reg::DefaultOffsetVoltage);
}

void TestCalib::coefficientsCheckedOnEnteringStep1() {
    RecorderUi rec;
    SetCoef(8, 10195706); // at the edge: kept
    SetCoef(10, 1870194); // one past: default
    SetCoef(12, 8166315); // one past: default
    SetCoef(14, 1689622); // at the lower edge: kept
    TCalibr1 w;
    w.show();
    next(w);
    QCOMPARE(w.gainCurrent(), 10195706u);
    QCOMPARE(w.offsetCurrent(), reg::DefaultOffsetCurrent);
    QCOMPARE(w.gainVoltage(), reg::DefaultGainVoltage);
    QCOMPARE(w.offsetVoltage(), 1689622u);
    QCOMPARE(Coef(8), 10195706u);
    QCOMPARE(Coef(10), reg::DefaultOffsetCurrent);
    QCOMPARE(Coef(12), reg::DefaultGainVoltage);
    QCOMPARE(Coef(14), 1689622u);
    QCOMPARE(module.regs[reg::Mode], reg::ModeCurrent);
    QCOMPARE(Tip(w), CalibrationPrompts[1]);
    QVERIFY(Button(w, "btPrev")->isVisible());
    // Nominal readings leave the coefficients as they were after step 1.
    for (int i = 0; i < 4; ++i)
        next(w);
    QCOMPARE(Coef(8), 10195706u);
    QCOMPARE(Coef(10), reg::DefaultOffsetCurrent);
    QCOMPARE(Coef(12), reg::DefaultGainVoltage);
    QCOMPARE(Coef(14), 1689622u);
    QVERIFY(w.isHidden());
}

void TestCalib::readingOutsideToleranceKeepsTheStep() {
    RecorderUi rec;
    TCalibr1 w;
    w.show();
    next(w);
    module.log.clear();
    signal[1] = 2401;
    next(w);
    QCOMPARE(w.step(), 1);
    QCOMPARE(w.windowTitle(), QStringLiteral("Калибровка - шаг 1"));
    QCOMPARE(rec.texts(), QStringList{WrongReading});
    QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
    QCOMPARE(module.log, QStringList{"R1025"});
    signal[1] = 65535;
    next(w);
    QCOMPARE(w.step(), 1);
    signal[1] = 2400;
    next(w);
    QCOMPARE(w.step(), 2);
    QCOMPARE(rec.messages.size(), 2);
    // At step 4 as well.
    next(w);
    next(w);
    signal[4] = 9599;
    next(w);
    QCOMPARE(w.step(), 4);
    QCOMPARE(rec.messages.size(), 3);
    QCOMPARE(rec.messages.last().text, WrongReading);
    QVERIFY(w.isVisible());
}

void TestCalib::cancelRestoresModeAndTime() {
    RecorderUi rec;
    TCalibr1 w;
    w.show();
    for (int i = 0; i < 3; ++i)
        next(w);
    QCOMPARE(w.step(), 3);
    QCOMPARE(module.regs[reg::Mode], reg::ModeVoltage);
    module.regs[reg::IntegrationTime] = 7; // anything the module may hold meanwhile
    SetCoef(8, 10000000);
    module.log.clear();
    Button(w, "btCancel")->click();
    QVERIFY(w.isHidden());
    QCOMPARE(w.result(), int(QDialog::Rejected));
    QCOMPARE(module.log, (QStringList{"W264=2", "W265=320", "W1911=" + Key}));
    QCOMPARE(module.regs[256], uint16_t(0x68EF));
    QCOMPARE(Coef(8), 10000000u);
    QVERIFY(rec.messages.isEmpty());

    // Escape and a close request restore as well.
    TCalibr1 w2;
    w2.show();
    module.log.clear();
    QTest::keyClick(&w2, Qt::Key_Escape);
    QVERIFY(w2.isHidden());
    QCOMPARE(module.log, (QStringList{"W264=2", "W265=320", "W1911=" + Key}));
    TCalibr1 w3;
    w3.show();
    module.log.clear();
    QVERIFY(w3.close());
    QCOMPARE(module.log, (QStringList{"W264=2", "W265=320", "W1911=" + Key}));
}

void TestCalib::goingBack() {
    RecorderUi rec;
    TCalibr1 w;
    w.show();
    for (int i = 0; i < 3; ++i)
        next(w);
    module.log.clear();
    rec.clear();
    // From step 3: current mode before the 20 mA prompt.
    QStringList tipAtPause;
    rec.onPause = [&](int) { tipAtPause << Tip(w); };
    Button(w, "btPrev")->click();
    QCOMPARE(w.step(), 2);
    QCOMPARE(module.log, (QStringList{"W264=1", "W1911=" + Key}));
    QCOMPARE(rec.pauses, QList<int>{4000});
    QCOMPARE(tipAtPause, QStringList{CalibrationPrompts[3]});
    QCOMPARE(Tip(w), CalibrationPrompts[2]);
    QCOMPARE(w.windowTitle(), QStringLiteral("Калибровка - шаг 2"));
    // From step 2: the coefficients are read, checked and written again.
    SetCoef(8, 1);
    module.log.clear();
    rec.clear();
    Button(w, "btPrev")->click();
    QCOMPARE(w.step(), 1);
    QCOMPARE(module.log, (QStringList{"R1024", "R8x4", "R12x4", "W1912=" + Key, "W8x4",
                                      "W1912=" + Key, "W12x4", "W264=1", "W1911=" + Key}));
    QCOMPARE(Coef(8), reg::DefaultGainCurrent);
    QCOMPARE(rec.pauses, QList<int>{3000});
    // To the welcome step: nothing is exchanged and "<< Назад" hides.
    module.log.clear();
    Button(w, "btPrev")->click();
    QCOMPARE(w.step(), 0);
    QVERIFY(module.log.isEmpty());
    QVERIFY(!Button(w, "btPrev")->isVisible());
    QCOMPARE(Tip(w), CalibrationPrompts[0]);
    QVERIFY(rec.messages.isEmpty());
}

void TestCalib::failedRestoreKeepsTheWizardOpen() {
    RecorderUi rec;
    TCalibr1 w;
    w.show();
    module.failing = {reg::IntegrationTime};
    Button(w, "btCancel")->click();
    QVERIFY(w.isVisible());
    QCOMPARE(rec.texts(), QStringList{QStringLiteral("Нет ответа!")});
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());

    // After a successful calibration: the wizard stays at step 5 and
    // "Далее >>" tries closing again, nothing else.
    for (int i = 0; i < 5; ++i) {
        module.failing = i < 4 ? std::set<uint16_t>{} : std::set<uint16_t>{reg::Mode};
        next(w);
    }
    QVERIFY(w.isVisible());
    QCOMPARE(w.step(), 5);
    QCOMPARE(w.windowTitle(), QStringLiteral("Калибровка - шаг 5"));
    QVERIFY(Tip(w).isEmpty());
    QCOMPARE(rec.texts().mid(2), (QStringList{QStringLiteral("Калибровка проведена успешно!"),
                                              QStringLiteral("Нет ответа!")}));
    module.failing.clear();
    module.log.clear();
    rec.clear();
    next(w);
    QVERIFY(w.isHidden());
    QCOMPARE(w.result(), int(QDialog::Accepted));
    QCOMPARE(module.log, (QStringList{"W264=2", "W265=320", "W1911=" + Key}));
    QVERIFY(rec.pauses.isEmpty());
    QVERIFY(rec.messages.isEmpty());
}

void TestCalib::failedFinalWriteDoesNotApplyTwice() {
    RecorderUi rec;
    signal = {0, 2010, 20100, 990, 10100};
    TCalibr1 w;
    w.show();
    for (int i = 0; i < 4; ++i)
        next(w);
    module.failing = {reg::GainVoltage};
    next(w);
    QCOMPARE(w.step(), 4);
    QVERIFY(w.isVisible());
    QCOMPARE(rec.texts(), QStringList{QStringLiteral("Нет ответа!")});
    QCOMPARE(Coef(8), 10044536u); // already written
    module.failing.clear();
    next(w);
    QVERIFY(w.isHidden());
    QCOMPARE(Coef(8), 10044536u);
    QCOMPARE(Coef(10), 1769246u);
    QCOMPARE(Coef(12), 7987830u);
    QCOMPARE(Coef(14), 1767524u);
}

QTEST_MAIN(TestCalib)
#include "test_calib.moc"
