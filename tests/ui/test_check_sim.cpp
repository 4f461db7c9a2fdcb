// The accuracy check and the protocol around a calibration, end to end: the
// real library and a simulated module that reads 0.6 % high and 15 uA over
// in current mode, 0.5 % low and 12 mV under in voltage mode, as one that
// needs calibrating.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "AccuracyWindows.h"
#include "Calib.h"
#include "Check.h"
#include "Controls.h"
#include "Errors.h"
#include "Func.h"
#include "LogFile.h"
#include "Profile.h"
#include "ProtocolForm.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimLink.h"

namespace {

sim::Options Erring() {
    sim::Options o;
    o.mode = reg::ModeVoltage; // the technician's own settings
    o.integrationTime = 250;
    o.currentGainError = 0.006;
    o.currentOffsetError = 15;
    o.voltageGainError = -0.005;
    o.voltageOffsetError = -12;
    return o;
}

// The technician at the bench: every check window that comes up gets the
// signal its prompt names (the other input something far off) and "Далее"
// whenever it can be pressed; the protocol form is filled in, by default with a reference whose
// date has passed.
class Bench {
  public:
    explicit Bench(sim::SimModule& m) : m_(m) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { act(); });
        timer_.start(5);
    }
    int checksDriven = 0;
    QString validUntil = QStringLiteral("31.01.2020");
    void leave() { timer_.stop(); } // the test drives the windows itself

  private:
    void act() {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* check = qobject_cast<TCheck*>(w)) {
            auto* next = Control<QPushButton>(check, "btNext");
            if (!next->isEnabled())
                return;
            apply(Control<QLabel>(check, "lbTip")->text());
            next->click();
            if (check->isHidden())
                ++checksDriven;
        } else if (auto* form = qobject_cast<TProtocolForm*>(w)) {
            Control<QLineEdit>(form, "edTechnician")->setText(QStringLiteral("Сидоров С. С."));
            Control<QLineEdit>(form, "edReference")->setText(QStringLiteral("Калибратор КП-2"));
            Control<QLineEdit>(form, "edReferenceValidUntil")->setText(validUntil);
            Control<QPushButton>(form, "btOk")->click();
        }
    }
    void apply(const QString& prompt) {
        for (const CheckPoint& p : CheckSettings().points()) {
            if (CheckPrompt(p) != prompt)
                continue;
            const bool current = p.range == Range::Current;
            m_.setAppliedCurrent(current ? static_cast<uint32_t>(p.nominal) : 15000);
            m_.setAppliedVoltage(current ? 7000 : static_cast<uint32_t>(p.nominal));
        }
    }
    sim::SimModule& m_;
    QTimer timer_;
};

// The check's points in the settings file at `ini`, in microamperes (no
// voltage point), with `samples` readings each.
void CurrentPoints(const QString& ini, const QString& points, int samples = 2) {
    ProfileFile(ini).write(
        {{QStringLiteral("Check"), QStringLiteral("Current"), points},
         {QStringLiteral("Check"), QStringLiteral("Voltage"), QString()},
         {QStringLiteral("Check"), QStringLiteral("Samples"), QString::number(samples)}});
}

// The readings of the value (with the flags) the module has answered.
int Readings(sim::SimModule& m) {
    int n = 0;
    for (const sim::Request& r : m.requests())
        n += r.function == 3 && r.first == reg::FlagsA;
    return n;
}

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The bench with a module that needs calibrating, the records on a settings
// file of their own (with the check's points in mA, unless empty) and the
// technician driving every window with a reference that is valid.
struct Desk {
    explicit Desk(const QString& points = QString(),
                  const QString& settings = QStringLiteral("QS730_View.ini"))
        : ini(dir.filePath(settings)), records(ProfileFile(ini)), bench(link.module()) {
        if (!points.isEmpty())
            CurrentPoints(ini, points);
        bench.validUntil = QStringLiteral("31.12.2099");
    }
    RecorderUi rec;
    SimLink link{Erring()};
    QTemporaryDir dir;
    QString ini;
    AccuracyWindows records;
    Bench bench;
    QWidget owner;
};

// Presses "Далее" and lets the point be measured between events.
void Press(TCheck& check) {
    Control<QPushButton>(&check, "btNext")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!check.measuring(), 20000);
}

uint32_t Coef(sim::SimModule& m, uint16_t first) {
    return reg::JoinWords(m.reg(first), m.reg(static_cast<uint16_t>(first + 1)));
}

// The wizard against exact references, as from the menu item.
CalibrationResult Calibrate(QWidget& owner, sim::SimModule& m) {
    auto* wizard = new TCalibr1(&owner);
    QTimer::singleShot(0, wizard, [&] {
        const uint32_t signal[5] = {0, 2000, 20000, 1000, 10000};
        for (int i = 0; i < 5; ++i) {
            const int s = wizard->step();
            if (s == 1 || s == 2)
                m.setAppliedCurrent(signal[s]);
            else if (s == 3 || s == 4)
                m.setAppliedVoltage(signal[s]);
            Control<QPushButton>(wizard, "btNext")->click();
        }
    });
    wizard->exec();
    const CalibrationResult result = wizard->calibrationResult();
    delete wizard;
    return result;
}

std::vector<bool> Verdicts(const CheckResult& c) {
    std::vector<bool> v;
    for (const PointResult& p : c.points)
        v.push_back(p.pass);
    return v;
}

} // namespace

class TestCheckSim : public QObject {
    Q_OBJECT
  private slots:
    void asFoundCalibrateAsLeft();
    void cancelGivesTheModeBack();
    void protocolSave_data();
    void protocolSave();
    void settingsFileNotWritable();
    void calibrationRecordKept_data();
    void calibrationRecordKept();
    void flagsMakeAPointUnfit_data();
    void flagsMakeAPointUnfit();
    void pointBetweenEvents();
    void closeWhileSilent_data();
    void closeWhileSilent();
    void calibrationResult_data();
    void calibrationResult();
};

void TestCheckSim::asFoundCalibrateAsLeft() {
    RecorderUi rec;
    SimLink link(Erring());
    QVERIFY(link.opened());
    auto& m = link.module();
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("Протокол.pdf"));
    QString suggestedName;
    AskSaveFileName = [&](QWidget*, const QString&, const QString& suggested, const QString&,
                          bool) {
        suggestedName = suggested;
        return pdf;
    };
    AccuracyWindows records(ProfileFile(dir.filePath(QStringLiteral("QS730_View.ini"))));
    Bench bench(m);
    QWidget owner;

    // As found: 2 mA (27 uA off) and 1 V (17 mV off) pass, the rest fail.
    records.runCheck(&owner);
    QCOMPARE(bench.checksDriven, 1);
    QVERIFY(records.lastCheck());
    QCOMPARE(Verdicts(*records.lastCheck()),
             (std::vector<bool>{true, false, false, true, false, false}));
    QCOMPARE(records.lastCheck()->points[2].samples, std::vector<uint16_t>(5, 20135));
    QCOMPARE(rec.questions.size(), 1);
    QCOMPARE(rec.questions.first().text, QStringLiteral("Составить протокол проверки?"));
    QCOMPARE(m.reg(reg::Mode), reg::ModeVoltage);
    QCOMPARE(m.reg(reg::IntegrationTime), uint16_t(250));

    // The wizard against exact references, as in the menu item.
    const ModuleRecordId before = ReadModuleRecordId();
    const CalibrationResult calibration = Calibrate(owner, m);
    QVERIFY(calibration.complete);
    QCOMPARE(calibration.readings, (std::array<uint16_t, 4>{2027, 20135, 983, 9938}));
    QCOMPARE(calibration.held, DefaultCoefficients());
    QCOMPARE(Coef(m, 8), calibration.written[0]);
    // The true gain of the current range is the default one over 1.006.
    QVERIFY(std::abs(double(calibration.written[0]) - reg::DefaultGainCurrent / 1.006) < 2000);

    // As left, then the protocol.
    rec.clear();
    rec.replies = {true};
    records.afterCalibration(&owner, before, calibration);
    QCOMPARE(bench.checksDriven, 2);
    QVERIFY(records.lastCheck()->pass());
    for (const PointResult& p : records.lastCheck()->points)
        QVERIFY2(std::abs(p.error) <= 1, qPrintable(QString::number(p.error)));
    QCOMPARE(m.reg(reg::Mode), reg::ModeVoltage);
    QCOMPARE(m.reg(reg::IntegrationTime), uint16_t(250));
    QVERIFY2(QFileInfo(suggestedName).fileName().startsWith(QStringLiteral("Протокол_A0042_")),
             qPrintable(suggestedName));
    QCOMPARE(rec.messages.size(), 2);
    QCOMPARE(rec.messages[0].icon, seam::Icon::Warning); // the reference's date has passed
    QVERIFY(rec.messages[0].text.contains(QStringLiteral("истёк")));
    QCOMPARE(rec.messages[1].text, QStringLiteral("Протокол сохранён:\n") + pdf);

    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(20000));
    const QString protocol = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    for (const QString& s :
         {QStringLiteral("A0042"), QStringLiteral("Результаты проверки до калибровки"),
          QStringLiteral("20135,0"), QStringLiteral("Не годен"), QStringLiteral("10094759"),
          QString::number(calibration.written[0]), QStringLiteral("Заключение: Годен"),
          QStringLiteral("СРОК ДЕЙСТВИЯ ИСТЁК"), QStringLiteral("Сидоров С. С.")})
        QVERIFY2(protocol.contains(s), qPrintable(s));
    QFile csv(dir.filePath(QStringLiteral("Протокол.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QVERIFY(csv.readAll().startsWith("\xEF\xBB\xBF"
                                     "Протокол калибровки;A0042-"));
    // Offered again next time.
    const ProtocolPeople people =
        LoadProtocolPeople(ProfileFile(dir.filePath(QStringLiteral("QS730_View.ini"))));
    QCOMPARE(people.technician, QStringLiteral("Сидоров С. С."));
    QCOMPARE(people.referenceValidUntil, QDate(2020, 1, 31));
}

void TestCheckSim::cancelGivesTheModeBack() {
    RecorderUi rec;
    SimLink link(Erring());
    auto& m = link.module();
    QTemporaryDir dir;
    TCheck check(nullptr, ProfileFile(dir.filePath(QStringLiteral("QS730_View.ini"))));
    check.show();
    Press(check); // takes the points
    Press(check); // 2 mA
    Press(check); // 11 mA
    QCOMPARE(check.checkResult().points.size(), 2u);
    QCOMPARE(m.reg(reg::Mode), reg::ModeCurrent);
    // A lost reply at the close keeps the dialog open ("Нет" to closing
    // without the mode); the next close goes through.
    m.dropNext(3);
    Control<QPushButton>(&check, "btCancel")->click();
    QVERIFY(check.isVisible());
    QCOMPARE(rec.texts(), QStringList());
    QCOMPARE(rec.questions.size(), 1);
    QVERIFY(rec.questions[0].text.startsWith(QStringLiteral("Нет ответа!\n")));
    m.clearRequests();
    QVERIFY(check.close());
    QCOMPARE(m.reg(reg::Mode), reg::ModeVoltage);
    QCOMPARE(m.reg(reg::IntegrationTime), uint16_t(250));
    QCOMPARE(m.requests().back().first, reg::Apply);
    m.setAppliedVoltage(7000);
    QCOMPARE(m.reg(reg::InputValue), uint16_t(6953)); // measuring voltage again: 0.5 % low, -12 mV
    QVERIFY(!check.finished());
}

// The protocol's PDF and CSV are one save: one question names every file of
// the pair that exists, nothing is replaced unasked, a file the measurement
// log holds is refused, and a save that fails leaves the old files and
// offers the file dialog again.
void TestCheckSim::protocolSave_data() {
    QTest::addColumn<QStringList>("existing"); // files holding "old", "name/" a folder
    QTest::addColumn<bool>("log");             // the measurement log writes Журнал.csv
    QTest::addColumn<QStringList>("answers");  // of the file dialogs, "" cancels
    QTest::addColumn<bool>("replace");         // the answer to the question
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("error"); // the message and the file's name
    const QString one = QStringLiteral("Файл «%1» уже существует.\nЗаменить его?");
    const QString both = QStringLiteral("Файлы «П.pdf» и «П.csv» уже существуют.\nЗаменить их?");
    QTest::newRow("the log's file")
        << QStringList{"Журнал.csv"} << true << QStringList{"Журнал", ""} << true
        << one.arg("Журнал.csv") << "Невозможно открыть файл Журнал.csv";
    QTest::newRow("no suffix typed, kept")
        << QStringList{"П.pdf"} << false << QStringList{"П", ""} << false << one.arg("П.pdf") << "";
    QTest::newRow("both there, replaced")
        << QStringList{"П.pdf", "П.csv"} << false << QStringList{"П.pdf"} << true << both << "";
    QTest::newRow("the CSV cannot be made")
        << QStringList{"П.pdf", "П.csv/"} << false << QStringList{"П.pdf", ""} << true << both
        << "Невозможно сохранить файл П.csv";
}

void TestCheckSim::protocolSave() {
    QFETCH(QStringList, existing);
    QFETCH(bool, log);
    QFETCH(QStringList, answers);
    QFETCH(bool, replace);
    QFETCH(QString, asked);
    QFETCH(QString, error);
    const bool saved = answers.size() == 1; // the first name taken, no file dialog again
    Desk desk(QStringLiteral("2000"));
    const QDir here(desk.dir.path());
    for (const QString& name : existing) {
        QFile f(here.filePath(name));
        QVERIFY(name.endsWith('/') ? here.mkdir(name)
                                   : f.open(QIODevice::WriteOnly) && f.write("old"));
    }
    QFile logFile;
    QVERIFY(!log || OpenLogFile(logFile, here.filePath(QStringLiteral("Журнал.csv"))));
    AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        return answer.isEmpty() ? answer : here.filePath(answer);
    };
    desk.rec.replies = {true, replace}; // "Составить протокол проверки?", then the question
    desk.records.runCheck(&desk.owner);

    QCOMPARE(desk.rec.questions.size(), 2);
    QCOMPARE(desk.rec.questions[1].text, asked);
    // The first line names the file; a failed save of the pair then says
    // what each of the two holds.
    QStringList failures = desk.rec.texts().filter(QStringLiteral("Невозможно"));
    for (QString& text : failures) {
        if (text.startsWith(QStringLiteral("Невозможно сохранить")))
            QCOMPARE(text.section('\n', 1),
                     QStringLiteral("Ни один файл не изменён:\n%1 — прежний;\n%2 — прежний.")
                         .arg(QuotedPath(here.filePath(QStringLiteral("П.pdf"))),
                              QuotedPath(here.filePath(QStringLiteral("П.csv")))));
        text = text.section('\n', 0, 0);
    }
    QCOMPARE(failures, error.isEmpty() ? QStringList()
                                       : QStringList(seam::ErrorBoxText(
                                             error.section(' ', 0, -2) + ' ' +
                                             QuotedPath(here.filePath(error.section(' ', -1))))));
    QVERIFY(answers.isEmpty()); // after a failure the file dialog came again
    for (const QString& name : existing)
        if (!name.endsWith('/'))
            QCOMPARE(Contents(here.filePath(name)) == "old", !saved);
    QCOMPARE(desk.rec.texts().contains("Протокол сохранён:\n" + here.filePath("П.pdf")), saved);
    if (saved)
        QVERIFY(Contents(here.filePath(QStringLiteral("П.csv")))
                    .startsWith("\xEF\xBB\xBF"
                                "Протокол проверки;A0042-"));
}

// Remembering the entries is a convenience: a settings file that cannot be
// written is said once and stops neither the check nor the protocol.
void TestCheckSim::settingsFileNotWritable() {
    Desk desk(QString(), QStringLiteral("file/QS730_View.ini")); // and "file" is a file
    QFile notAFolder(desk.dir.filePath(QStringLiteral("file")));
    QVERIFY(notAFolder.open(QIODevice::WriteOnly));
    int saves = 0;
    AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
        return desk.dir.filePath(QStringLiteral("П%1.pdf").arg(++saves));
    };
    desk.rec.replies = {true, true};
    desk.records.runCheck(&desk.owner);
    desk.records.runCheck(&desk.owner);
    QCOMPARE(desk.bench.checksDriven, 2);
    QCOMPARE(desk.rec.texts(),
             (QStringList{QStringLiteral("Невозможно сохранить файл %1.\n"
                                         "Введённые значения не будут предложены в следующий раз.")
                              .arg(QuotedPath(desk.ini)),
                          "Протокол сохранён:\n" + desk.dir.filePath("П1.pdf"),
                          "Протокол сохранён:\n" + desk.dir.filePath("П2.pdf")}));
}

// A calibration's record stays until the program ends: after "Нет" to the
// check offered it can still be made from the menu, with the check as left
// or without it, and the tool asks before it is dropped unsaved.
void TestCheckSim::calibrationRecordKept_data() {
    QTest::addColumn<bool>("checkNow"); // the answer to the check offered from the menu
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("checked as left from the menu")
        << true
        << QStringList{"После калибровки;Ток;2 мА;2000;2027,0;0;27,0;0,135;50,0;мкА;Годен;",
                       "Заключение;Годен"};
    QTest::newRow("without the check")
        << false
        << QStringList{"После калибровки;не проводилась",
                       "Заключение;не вынесено: проверка после калибровки не проводилась"};
}

void TestCheckSim::calibrationRecordKept() {
    QFETCH(bool, checkNow);
    QFETCH(QStringList, lines);
    Desk desk(QStringLiteral("2000"));
    AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
        return desk.dir.filePath(QStringLiteral("П.pdf"));
    };
    CalibrationResult calibration;
    calibration.readings = {2027, 20135, 983, 9938};
    calibration.held = calibration.written = DefaultCoefficients();
    calibration.complete = true;
    AccuracyWindows& records = desk.records;
    records.afterCalibration(&desk.owner, ReadModuleRecordId(), calibration); // "Нет"
    QCOMPARE(desk.bench.checksDriven, 0);
    QVERIFY(!records.mayQuit(&desk.owner));      // "Нет": the program stays
    QVERIFY(!records.mayCalibrate(&desk.owner)); // "Нет": no new calibration
    QCOMPARE(desk.rec.questions.size(), 3);
    QVERIFY(desk.rec.questions[1].text.startsWith("Протокол калибровки модуля A0042 не сохранён"));

    desk.rec.replies = {checkNow};
    records.calibrationProtocol(&desk.owner);
    QCOMPARE(desk.bench.checksDriven, checkNow ? 1 : 0);
    const QStringList csv = QString::fromUtf8(Contents(desk.dir.filePath(QStringLiteral("П.csv"))))
                                .split(QStringLiteral("\r\n"));
    QVERIFY(csv.first().contains(QStringLiteral("Протокол калибровки;A0042-")));
    for (const QString& line : lines)
        QVERIFY2(csv.contains(line), qPrintable(line));
    desk.rec.questions.clear();
    QVERIFY(records.mayQuit(&desk.owner)); // saved: nothing to ask
    QVERIFY(desk.rec.questions.isEmpty());
}

// A point read while the module raises one of its error flags is not fit,
// however close its value, and the window says why.
void TestCheckSim::flagsMakeAPointUnfit_data() {
    QTest::addColumn<uint>("flagsA");
    QTest::addColumn<uint>("flagsB");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no flag") << 0u << 0u << "";
    QTest::newRow("ADC read error")
        << uint(reg::FlagADC) << 0u << "поднят флаг «Ошибка чтения АЦП»";
    QTest::newRow("out of range, data invalid")
        << 0u << uint(reg::FlagOutOfRange | reg::FlagDataInvalid)
        << "подняты флаги «Выход за диапазон», «Данные некорректны»";
}

void TestCheckSim::flagsMakeAPointUnfit() {
    QFETCH(uint, flagsA);
    QFETCH(uint, flagsB);
    QFETCH(QString, reason);
    Desk desk(QStringLiteral("2000"));
    desk.link.module().setAppliedCurrent(2000);
    desk.bench.leave();
    desk.link.module().setReg(reg::FlagsA, static_cast<uint16_t>(flagsA));
    desk.link.module().setReg(reg::FlagsB, static_cast<uint16_t>(flagsB));
    TCheck check(nullptr, ProfileFile(desk.ini));
    check.show();
    Press(check);
    Press(check);
    const PointResult& point = check.checkResult().points.at(0);
    QCOMPARE(point.error, 27.0); // well within the tolerance
    QCOMPARE(point.pass, reason.isEmpty());
    QCOMPARE(Control<QLabel>(&check, "lbProgress")->text(),
             reason.isEmpty() ? QString() : "Точка 2 мА не годна: " + reason + '.');
}

// A point is measured between events, one exchange at a time, and "Отмена"
// stops it before the next reading.
void TestCheckSim::pointBetweenEvents() {
    Desk desk; // in voltage mode, integration time 250 ms
    desk.bench.leave();
    CurrentPoints(desk.ini, QStringLiteral("2000"), 5);
    auto& m = desk.link.module();
    TCheck check(nullptr, ProfileFile(desk.ini));
    check.show();
    Press(check); // takes the points
    desk.rec.onPause = [&](int) {
        if (Readings(m) == 2) // the wait before the third reading
            QTimer::singleShot(0, Control<QPushButton>(&check, "btCancel"), &QPushButton::click);
    };
    m.clearRequests();
    Control<QPushButton>(&check, "btNext")->click();
    QVERIFY(check.measuring());
    QCOMPARE(m.requests().size(), 1u); // the mode, and nothing else in this event
    QCOMPARE(Control<QLabel>(&check, "lbProgress")->text(),
             QStringLiteral("Точка 2 мА: Переключение на измерение тока"));
    QTRY_VERIFY(check.isHidden());
    QTest::qWait(50);
    QCOMPARE(Readings(m), 2);
    QVERIFY(check.checkResult().points.empty());
    QCOMPARE(desk.rec.pauses.mid(0, 4), (QList<int>{0, 3000, 6000, 250}));
    QCOMPARE(m.reg(reg::Mode), reg::ModeVoltage);
}

// With the module silent, the check closes freely when the module measures
// as before it; otherwise the technician learns what it is left measuring and
// closes anyway or stays to try again.
void TestCheckSim::closeWhileSilent_data() {
    QTest::addColumn<uint>("userMode");
    QTest::addColumn<int>("points"); // measured before the module falls silent
    QTest::addColumn<bool>("reply");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closes");
    QTest::newRow("nothing switched") << uint(reg::ModeVoltage) << 0 << false << false << true;
    QTest::newRow("left on current, stays")
        << uint(reg::ModeVoltage) << 1 << false << true << false;
    QTest::newRow("left on current, closed") << uint(reg::ModeVoltage) << 1 << true << true << true;
    QTest::newRow("the user's own mode") << uint(reg::ModeCurrent) << 1 << false << false << true;
}

void TestCheckSim::closeWhileSilent() {
    QFETCH(uint, userMode);
    QFETCH(int, points);
    QFETCH(bool, reply);
    QFETCH(bool, asked);
    QFETCH(bool, closes);
    Desk desk;
    RecorderUi& rec = desk.rec;
    desk.bench.leave();
    desk.link.module().setReg(reg::Mode, static_cast<uint16_t>(userMode));
    TCheck check(nullptr, ProfileFile(desk.ini));
    check.show();
    for (int i = 0; i <= points; ++i) // takes the points, then measures
        Press(check);
    desk.link.module().dropNext(1000);
    rec.replies = {reply};
    Control<QPushButton>(&check, "btCancel")->click();
    desk.link.module().dropNext(0);
    QCOMPARE(rec.texts(), QStringList());
    QCOMPARE(rec.questions.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(rec.questions[0].text,
                 QStringLiteral("Нет ответа!\nМодуль оставлен в режиме «Ток», заданном проверкой; "
                                "до проверки был режим «Напряжение».\n"
                                "Закрыть проверку, не восстановив режим?"));
    QCOMPARE(check.isVisible(), !closes);
}

using Resets = std::array<bool, 4>;
Q_DECLARE_METATYPE(Resets)

void TestCheckSim::calibrationResult_data() {
    QTest::addColumn<uint>("voltageGain"); // in registers 12-13 before
    QTest::addColumn<bool>("checksumError");
    QTest::addColumn<Resets>("reset");
    QTest::newRow("as the factory left it") << uint(reg::DefaultGainVoltage) << false << Resets{};
    QTest::newRow("at the window's edge")
        << uint(reg::DefaultGainVoltage + VoltageWindow) << false << Resets{};
    QTest::newRow("just outside: reset") << uint(reg::DefaultGainVoltage + VoltageWindow + 1)
                                         << false << Resets{false, false, true, false};
    QTest::newRow("checksum error: not read") << 5u << true << Resets{};
}

void TestCheckSim::calibrationResult() {
    QFETCH(uint, voltageGain);
    QFETCH(bool, checksumError);
    RecorderUi rec;
    SimLink link(Erring());
    auto& m = link.module();
    m.setReg(12, reg::SplitWords(voltageGain)[0]);
    m.setReg(13, reg::SplitWords(voltageGain)[1]);
    if (checksumError)
        m.setReg(reg::FlagsA, reg::FlagParamsChecksum);
    QWidget owner;
    const CalibrationResult r = Calibrate(owner, m);
    QVERIFY(r.complete);
    QCOMPARE(r.checksumError, checksumError);
    QTEST(r.reset, "reset");
    QCOMPARE(r.asRead[2], checksumError ? reg::DefaultGainVoltage : voltageGain);
    QCOMPARE(r.held[2], r.reset[2] || checksumError ? reg::DefaultGainVoltage : voltageGain);
    QCOMPARE(r.dateWritten, m.reg(reg::CalibrationDate));
    const CoefficientSet inModule = {Coef(m, 8), Coef(m, 10), Coef(m, 12), Coef(m, 14)};
    QCOMPARE(r.written, inModule);
    // Whatever the module had, the wizard's formulas find its true transfer.
    QVERIFY(std::abs(double(r.written[2]) - reg::DefaultGainVoltage / 0.995) < 2000);
}

QTEST_MAIN(TestCheckSim)
#include "test_check_sim.moc"
