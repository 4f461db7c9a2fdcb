// The calibration wizard end to end: the real communication library and a
// simulated module whose input shows the signal applied for the module's mode.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "Calib.h"
#include "Convert.h"
#include "Func.h"
#include "RecorderUi.h"
#include "SimLink.h"

namespace {

// The options of every test: the user's mode is voltage, 250 ms integration.
sim::Options Options() {
    sim::Options o;
    o.mode = reg::ModeVoltage;
    o.integrationTime = 250;
    o.calibrationDate = 0x68EF;
    return o;
}

// The requests the module received, as "R264", "W8x4", "W1911=23100".
QStringList Requests(sim::SimModule& m) {
    QStringList out;
    for (const auto& r : m.requests()) {
        QString e = (r.function == 3 ? QStringLiteral("R") : QStringLiteral("W")) +
                    QString::number(r.first);
        if (r.count > 1)
            e += QStringLiteral("x") + QString::number(r.count);
        else if (r.function == 16 && !r.values.empty())
            e += QStringLiteral("=") + QString::number(r.values[0]);
        out << e;
    }
    return out;
}

uint32_t Coef(sim::SimModule& m, uint16_t first) {
    return reg::JoinWords(m.reg(first), m.reg(static_cast<uint16_t>(first + 1)));
}
void SetCoef(sim::SimModule& m, uint16_t first, uint32_t value) {
    m.setReg(first, reg::SplitWords(value)[0]);
    m.setReg(static_cast<uint16_t>(first + 1), reg::SplitWords(value)[1]);
}

QPushButton* Button(QWidget& w, const char* name) {
    return w.findChild<QPushButton*>(name);
}
QString Tip(QWidget& w) {
    return w.findChild<QLabel*>("lbTip")->text();
}

} // namespace

class TestCalibSim : public QObject {
    Q_OBJECT

    // The reference signals applied at steps 1..4: uA for 1-2, mV for 3-4.
    std::array<uint32_t, 5> signal = {0, 2000, 20000, 1000, 10000};

    // Applies the current step's reference signal and presses "Далее >>". The
    // other input keeps a signal far off, so a reading in the wrong mode fails.
    void next(TCalibr1& w, sim::SimModule& m) {
        const int s = w.step();
        if (s == 1 || s == 2) {
            m.setAppliedCurrent(signal[static_cast<std::size_t>(s)]);
            m.setAppliedVoltage(5000);
        } else if (s == 3 || s == 4) {
            m.setAppliedVoltage(signal[static_cast<std::size_t>(s)]);
            m.setAppliedCurrent(12000);
        }
        Button(w, "btNext")->click();
    }

  private slots:
    void init() { signal = {0, 2000, 20000, 1000, 10000}; }

    void wholeCalibration();
    void checksumErrorWritesDefaults();
    void cancelAtStep3();
    void goingBack();
    void readingFarOffKeepsTheStep();
    void lostReplyWhileRestoring();
};

void TestCalibSim::wholeCalibration() {
    RecorderUi rec;
    SimLink link(Options());
    QVERIFY(link.opened());
    auto& m = link.module();
    signal = {0, 2010, 20010, 990, 10100};
    QWidget owner;
    auto* w = new TCalibr1(&owner);
    QTimer::singleShot(0, w, [&] {
        for (int i = 0; i < 5; ++i)
            next(*w, m);
    });
    QCOMPARE(w->exec(), int(QDialog::Accepted));
    w->deleteLater();

    QCOMPARE(Coef(m, 8), 10094759u);
    QCOMPARE(Coef(m, 10), 1769777u);
    QCOMPARE(Coef(m, 12), 7987830u);
    QCOMPARE(Coef(m, 14), 1767524u);
    const reg::Date today = Today();
    QCOMPARE(m.reg(256), reg::PackDate(today.day, today.month, today.year));
    QCOMPARE(reg::UnpackDate(m.reg(256)).year, today.year);
    QCOMPARE(m.reg(264), reg::ModeVoltage);
    QCOMPARE(m.reg(265), uint16_t(250));
    QCOMPARE(rec.texts(), QStringList{QStringLiteral("Калибровка проведена успешно!")});
    QCOMPARE(rec.messages[0].icon, seam::Icon::Warning);
    QCOMPARE(rec.pauses, (QList<int>{3000, 6000, 6000, 4000, 6000, 6000, 20, 20, 20, 20}));
    // Every protected write went through: the module took all of them.
    const QStringList req = Requests(m);
    QCOMPARE(req.first(), QStringLiteral("R264"));
    QCOMPARE(req.mid(req.size() - 3),
             (QStringList{"W264=2", "W265=250", "W1911=" + QString::number(UnlockKey)}));
}

void TestCalibSim::checksumErrorWritesDefaults() {
    RecorderUi rec;
    SimLink link(Options());
    auto& m = link.module();
    m.setReg(reg::FlagsA, reg::FlagParamsChecksum);
    SetCoef(m, 8, 10100000); // within its window, but not to be trusted
    SetCoef(m, 10, 5);
    SetCoef(m, 12, 6);
    SetCoef(m, 14, 7);
    TCalibr1 w;
    w.show();
    m.clearRequests();
    next(w, m);
    QCOMPARE(w.step(), 1);
    for (const auto& r : m.requests())
        QVERIFY2(!(r.function == 3 && r.first >= 8 && r.first <= 15), "coefficients read");
    QCOMPARE(Coef(m, 8), reg::DefaultGainCurrent);
    QCOMPARE(Coef(m, 10), reg::DefaultOffsetCurrent);
    QCOMPARE(Coef(m, 12), reg::DefaultGainVoltage);
    QCOMPARE(Coef(m, 14), reg::DefaultOffsetVoltage);
    QCOMPARE(m.reg(264), reg::ModeCurrent);
    QVERIFY(rec.messages.isEmpty());
}

void TestCalibSim::cancelAtStep3() {
    RecorderUi rec;
    SimLink link(Options());
    auto& m = link.module();
    SetCoef(m, 8, 10195707); // out of its window: replaced on entering step 1
    TCalibr1 w;
    w.show();
    for (int i = 0; i < 3; ++i)
        next(w, m);
    QCOMPARE(w.step(), 3);
    QCOMPARE(m.reg(264), reg::ModeVoltage);
    Button(w, "btCancel")->click();
    QVERIFY(w.isHidden());
    QCOMPARE(m.reg(264), reg::ModeVoltage);
    QCOMPARE(m.reg(265), uint16_t(250));
    QCOMPARE(m.reg(256), uint16_t(0x68EF));
    QCOMPARE(Coef(m, 8), reg::DefaultGainCurrent);
    QVERIFY(rec.messages.isEmpty());
}

void TestCalibSim::goingBack() {
    RecorderUi rec;
    SimLink link(Options());
    auto& m = link.module();
    TCalibr1 w;
    w.show();
    for (int i = 0; i < 3; ++i)
        next(w, m);
    // From step 3: the module is in current mode before the 20 mA prompt.
    uint16_t modeAtPause = 0;
    QString tipAtPause;
    rec.onPause = [&](int) {
        modeAtPause = m.reg(264);
        tipAtPause = Tip(w);
    };
    Button(w, "btPrev")->click();
    rec.onPause = nullptr;
    QCOMPARE(w.step(), 2);
    QCOMPARE(modeAtPause, reg::ModeCurrent);
    QCOMPARE(tipAtPause, CalibrationPrompts[3]);
    QCOMPARE(Tip(w), CalibrationPrompts[2]);
    // The 20 mA reading is taken in current mode again.
    next(w, m);
    QCOMPARE(w.step(), 3);
    Button(w, "btPrev")->click();

    // From step 2: the coefficients are read, checked and written again.
    SetCoef(m, 12, 1);
    SetCoef(m, 14, 1770000);
    m.clearRequests();
    Button(w, "btPrev")->click();
    QCOMPARE(w.step(), 1);
    const QString key = QString::number(UnlockKey);
    QCOMPARE(Requests(m), (QStringList{"R1024", "R8x4", "R12x4", "W1912=" + key, "W8x4",
                                       "W1912=" + key, "W12x4", "W264=1", "W1911=" + key}));
    QCOMPARE(Coef(m, 12), reg::DefaultGainVoltage);
    QCOMPARE(Coef(m, 14), 1770000u);
    QVERIFY(rec.messages.isEmpty());
}

void TestCalibSim::readingFarOffKeepsTheStep() {
    RecorderUi rec;
    SimLink link(Options());
    auto& m = link.module();
    TCalibr1 w;
    w.show();
    next(w, m);
    signal[1] = 2401;
    next(w, m);
    QCOMPARE(w.step(), 1);
    QCOMPARE(w.windowTitle(), QStringLiteral("Калибровка - шаг 1"));
    QCOMPARE(rec.texts(),
             QStringList{QStringLiteral(
                 "Неправильное значение!\nПроверьте подключение\nили исправность модуля.")});
    signal[1] = 2400;
    next(w, m);
    QCOMPARE(w.step(), 2);
}

void TestCalibSim::lostReplyWhileRestoring() {
    RecorderUi rec;
    SimLink link(Options());
    auto& m = link.module();
    TCalibr1 w;
    w.show();
    next(w, m);
    m.dropNext(3);
    Button(w, "btCancel")->click();
    QVERIFY(w.isVisible());
    QCOMPARE(rec.texts(), QStringList{QStringLiteral("Нет ответа!")});
    QCOMPARE(m.reg(264), reg::ModeCurrent);
    QVERIFY(w.close());
    QCOMPARE(m.reg(264), reg::ModeVoltage);
    QCOMPARE(m.reg(265), uint16_t(250));
}

QTEST_MAIN(TestCalibSim)
#include "test_calib_sim.moc"
