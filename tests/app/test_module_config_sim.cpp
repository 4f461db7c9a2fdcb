// The module's configuration through the real library against the simulated
// module: saved, the module changed, compared, written back; the calibration
// only with the password into the unit it came from; a replacement module
// given the old one's settings and followed to its new link; a write that
// fails half-way and says what the module holds.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "Configuration.h"
#include "Controls.h"
#include "Func.h"
#include "ModuleConfig.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimLink.h"

using config::Param;
using Kind = sim::LinkChange;

namespace {

// The names of the rows marked as differing, settings first.
QStringList Differing(const TModConfig& w) {
    QStringList names;
    for (const char* name : {"tbSettings", "tbUnit"}) {
        const auto* table = Control<QTableWidget>(w, name);
        for (int row = 0; row < table->rowCount(); ++row)
            if (table->item(row, 3)->text() == QStringLiteral("нет"))
                names << table->item(row, 0)->text();
    }
    return names;
}

int Writes(const sim::SimModule& m) {
    int n = 0;
    for (const sim::Request& r : m.requests())
        n += r.function == 16 ? 1 : 0;
    return n;
}

const QString Password = QStringLiteral("калиб");

} // namespace

class TestModuleConfigSim : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString file_; // where the configuration is saved and read from
    QString suggested_;
    std::unique_ptr<SimLink> link_;
    std::unique_ptr<TModConfig> window_;

    // A module with the tool talking to it, its configuration saved.
    sim::SimModule& start(Kind kind = Kind::AtOnce) {
        link_ = std::make_unique<SimLink>(sim::Options{.linkChange = kind});
        window_ = std::make_unique<TModConfig>(nullptr);
        window_->btSaveClick();
        link_->module().clearRequests();
        return link_->module();
    }
    // The saved file with some values changed.
    void edit(const std::vector<std::pair<Param, uint32_t>>& values) {
        config::Configuration c = config::LoadConfiguration(file_);
        for (const auto& [p, v] : values)
            c[p] = v;
        QFile f(file_);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(config::ConfigurationJson(c));
    }
    void tick(bool on) { Control<QCheckBox>(*window_, "chbCalibration")->setChecked(on); }

  private slots:
    void init() {
        // The name is typed without ".json"; the tool adds it.
        AskSaveFileName = [this](QWidget*, const QString&, const QString& suggested, const QString&,
                                 bool) {
            suggested_ = suggested;
            return dir_.filePath(QStringLiteral("Конфигурация"));
        };
        file_ = dir_.filePath(QStringLiteral("Конфигурация.json"));
        AskOpenFileName = [this](QWidget*, const QString&, const QString&, const QString&) {
            return file_;
        };
        LinkStateSink = [](const QString&) {};
    }
    void cleanup() {
        window_.reset();
        link_.reset();
        LinkStateSink = nullptr;
        QFile::remove(SettingsFilePath());
        QFile::remove(file_);
    }

    void saveChangeCompareWriteBack() {
        RecorderUi rec;
        sim::SimModule& module = start();
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Конфигурация сохранена:\n") + file_});
        QCOMPARE(QFileInfo(suggested_).fileName(),
                 QStringLiteral("Конфигурация_A0042_%1.json")
                     .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
        // Another mode and time, and a calibration gone wrong.
        module.setReg(reg::Mode, reg::ModeVoltage);
        module.setReg(reg::IntegrationTime, 300);
        module.setReg(reg::GainCurrent, 0x1111);
        module.setReg(reg::CalibrationDate, reg::PackDate(1, 4, 26));
        window_->btCompareClick();
        QCOMPARE(Differing(*window_), QStringList({"Режим измерения", "Время интегрирования, мс",
                                                   "Усиление, ток (рег. 8-9)", "Дата калибровки"}));

        // The settings alone: the coefficients stay as the calibration left them.
        rec.clear();
        rec.replies = {true};
        window_->btWriteClick();
        QCOMPARE(rec.inputs, QStringList()); // no password asked
        QCOMPARE(Differing(*window_), QStringList({"Усиление, ток (рег. 8-9)", "Дата калибровки"}));
        QCOMPARE(std::pair(module.reg(reg::Mode), module.reg(reg::IntegrationTime)),
                 std::pair(reg::ModeCurrent, uint16_t(100)));
        QVERIFY2(rec.texts().last().contains(QStringLiteral(
                     "записанные параметры совпадают с файлом.\nКоэффициенты и дата калибровки "
                     "не записывались.")),
                 qPrintable(rec.texts().last()));

        // With the tick and the password: the calibration as it was.
        rec.clear();
        tick(true);
        rec.answers = {Password};
        rec.replies = {true};
        window_->btWriteClick();
        QCOMPARE(rec.inputs.size(), 1);
        QCOMPARE(Differing(*window_), QStringList());
        QCOMPARE(Control<QLabel>(*window_, "lbNotes")->text(),
                 QStringLiteral("Файл и модуль совпадают."));
        QCOMPARE(std::pair(module.reg(reg::GainCurrent), module.reg(reg::CalibrationDate)),
                 std::pair(reg::SplitWords(reg::DefaultGainCurrent)[0], uint16_t(0x68EF)));
        QVERIFY(window_->lastWrite()->wasWritten(Param::Calibrated));
    }

    void calibrationOnlyWithPasswordIntoItsUnit_data() {
        QTest::addColumn<bool>("otherUnit");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("says");
        QTest::newRow("wrong password") << false << "калиа"
                                        << "Неправильный пароль!";
        QTest::newRow("no password") << false << ""
                                     << "Неправильный пароль!";
        QTest::newRow("another unit")
            << true << Password
            << "Конфигурация не записана: коэффициенты калибровки модуля A0042 записываются "
               "только в этот модуль, а подключён A0043. Чтобы записать только настройки, "
               "снимите отметку записи коэффициентов.";
    }
    void calibrationOnlyWithPasswordIntoItsUnit() {
        QFETCH(bool, otherUnit);
        QFETCH(QString, password);
        QFETCH(QString, says);
        RecorderUi rec;
        sim::SimModule& module = start();
        if (otherUnit)
            module.setReg(reg::SerialNumber, 0x082B);
        module.setReg(reg::GainCurrent, 0x1111);
        rec.clear();
        tick(true);
        rec.answers = {password};
        rec.replies = {true};
        seam::Guard([&] { window_->btWriteClick(); });
        QCOMPARE(rec.texts().last(), says);
        QCOMPARE(Writes(module), 0);
        QCOMPARE(rec.questions.size(), 0);
        QCOMPARE(module.reg(reg::GainCurrent), uint16_t(0x1111));
    }

    // The old module's file into the new one: its settings, not its unit.
    void replacementFollowedToItsNewLink_data() {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("takes a new link at once") << Kind::AtOnce;
        QTest::newRow("takes it after a restart") << Kind::AfterRestart;
    }
    void replacementFollowedToItsNewLink() {
        QFETCH(Kind, kind);
        RecorderUi rec;
        sim::SimModule& module = start(kind);
        edit({{Param::Serial, 0x0829}, // A0041, the module replaced
              {Param::Mode, reg::ModeVoltage},
              {Param::IntegrationTime, 250},
              {Param::Address, 5},
              {Param::Baud, 9600},
              {Param::Parity, 1}});
        rec.clear();
        const bool atOnce = kind == Kind::AtOnce;
        // Write; follow the module; not restarted: stay where it answers.
        rec.replies = {true, true, false};
        window_->btWriteClick();
        QCOMPARE(rec.questions.size(), atOnce ? 2 : 3);
        QVERIFY(rec.questions[0].text.contains(
            QStringLiteral("адрес, скорость и паритет (9600 бод, Odd, адрес 5)")));
        QVERIFY(rec.questions[1].text.startsWith(
            QStringLiteral("Перейти на новые параметры связи (9600 бод, Odd, адрес 5)?")));
        if (!atOnce)
            QVERIFY(rec.questions[2].text.contains(QStringLiteral("после перезапуска")));
        QCOMPARE(std::tuple(module.reg(257), module.reg(258), module.reg(259), module.reg(264),
                            module.reg(265)),
                 std::tuple(uint16_t(5), uint16_t(96), uint16_t(1), uint16_t(2), uint16_t(250)));
        QCOMPARE(Differing(*window_), QStringList{"Регистрационный номер"});
        QCOMPARE(std::tuple(int(ModuleAddress), BaudRate, int(ParityIndex)),
                 atOnce ? std::tuple(5, 9600, 1) : std::tuple(1, 19200, 2));
        const QString end = rec.texts().last();
        QVERIFY2(end.contains(QStringLiteral("Модуль прочитан обратно на параметрах связи %1 "
                                             "бод, %2: записанные параметры совпадают с файлом.")
                                  .arg(atOnce ? "9600" : "19200",
                                       atOnce ? "Odd, адрес 5" : "Even, адрес 1")),
                 qPrintable(end));
    }

    // "Отмена" while the coefficients go in: the link is not touched.
    void cancelStopsBeforeTheNextStep() {
        RecorderUi rec;
        sim::SimModule& module = start();
        edit({{Param::Address, 7}, {Param::GainCurrent, 10094000}});
        rec.clear();
        tick(true);
        rec.answers = {Password};
        rec.replies = {true};
        rec.onPause = [&](int) { window_->findChild<QProgressDialog*>()->cancel(); };
        window_->btWriteClick();
        QCOMPARE(rec.texts().last(),
                 QStringLiteral("Запись конфигурации в модуль A0042 остановлена кнопкой «Отмена» "
                                "перед шагом «адрес, скорость и паритет».\n\nЗаписано: режим "
                                "измерения и время интегрирования; коэффициенты и дата "
                                "калибровки.\nНе записывалось: адрес, скорость и паритет.\n"
                                "Модуль прочитан обратно на параметрах связи 19200 бод, Even, "
                                "адрес 1: параметры, которых касалась запись, совпадают с "
                                "файлом."));
        QCOMPARE(std::pair(module.address(), module.reg(reg::GainCurrent)),
                 std::pair(uint8_t(1), reg::SplitWords(10094000)[0]));
        QCOMPARE(Differing(*window_), QStringList{"Адрес"});
    }

    // The module refuses, or falls silent, while the coefficients go in.
    void failureHalfWay_data() {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("tail");
        QTest::newRow("refused") << false
                                 << "Недопустимое значение данных\n\nЗаписано: режим измерения и "
                                    "время интегрирования.\nМодуль прочитан обратно на "
                                    "параметрах связи 19200 бод, Even, адрес 1: от файла "
                                    "отличаются «Смещение, ток (рег. 10-11)».";
        QTest::newRow("silent")
            << true
            << "Нет ответа!\n\nЗаписано: режим измерения и время "
               "интегрирования.\nПрочитать модуль обратно не удалось: на параметрах связи "
               "программы (19200 бод, Even, адрес 1) он не отвечает (Нет "
               "ответа!).";
    }
    void failureHalfWay() {
        QFETCH(bool, silent);
        QFETCH(QString, tail);
        RecorderUi rec;
        sim::SimModule& module = start();
        edit({{Param::Mode, reg::ModeVoltage},
              {Param::GainCurrent, 10094000},
              {Param::OffsetCurrent, 1769000}});
        rec.clear();
        tick(true);
        rec.answers = {Password};
        rec.replies = {true};
        rec.onPause = [&](int) { // after the first coefficient
            if (rec.pauses.size() == 1) {
                if (silent)
                    module.dropNext(1000);
                else
                    module.exceptionNext(3, MaxAttempts);
            }
        };
        window_->btWriteClick();
        const QString end = rec.texts().last();
        QVERIFY2(end.startsWith(QStringLiteral("Запись конфигурации в модуль A0042 прервана на "
                                               "шаге «коэффициенты и дата калибровки»:\n")),
                 qPrintable(end));
        QVERIFY2(end.endsWith(tail), qPrintable(end));
        QCOMPARE(rec.messages.last().icon, seam::Icon::Warning);
        QCOMPARE(window_->lastWrite()->written,
                 std::vector<Param>({Param::Mode, Param::IntegrationTime}));
        // What the module holds now is in the window, as far as it answered.
        QCOMPARE(Differing(*window_).contains(QStringLiteral("Режим измерения")), silent);

        // The report names the file, what was sent and what the module read back.
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        const QString pdf = dir_.filePath(QStringLiteral("Отчёт.pdf"));
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return pdf;
        };
        Control<QPushButton>(*window_, "btReport")->click();
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(20000));
        const QString report = QString::fromUtf8(text.readAllStandardOutput()).simplified();
        const QString after = silent ? QStringLiteral("— не прочитан") : QString();
        for (const QString& part :
             {QStringLiteral("Конфигурация.json"),
              QStringLiteral("Режим измерения Напряжение Ток ") +
                  (silent ? after : QStringLiteral("Напряжение записан")),
              QStringLiteral("Усиление, ток (рег. 8-9) 10094000 10094759 ") +
                  (silent ? after : QStringLiteral("10094000 совпадает")),
              QStringLiteral("Смещение, ток (рег. 10-11) 1769000 1769246 ") +
                  (silent ? after : QStringLiteral("1769246 не записан")),
              QStringLiteral("прервана на шаге «коэффициенты и дата калибровки»"),
              QStringLiteral("Стр. 1 из 1")})
            QVERIFY2(report.contains(part), qPrintable(part + QStringLiteral(" in ") + report));
    }
};

QTEST_MAIN(TestModuleConfigSim)
#include "test_module_config_sim.moc"
