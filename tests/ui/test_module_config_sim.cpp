// The module's configuration through the real library against the simulated
// module: saved, the module changed, compared, written back; the calibration
// only with the password into the unit it came from; a replacement module
// given the old one's settings and followed to its new link; a write that
// fails half-way and says what the module holds; a file made to mislead or
// to stall, shown as plain text and refused at once.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "Boxes.h"
#include "Configuration.h"
#include "Controls.h"
#include "Errors.h"
#include "Func.h"
#include "LinkChangeRows.h"
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

// The real boxes, made but not shown: what each would say, and how.
class BoxUi final : public seam::Ui {
  public:
    BoxUi() { previous_ = seam::install(this); }
    ~BoxUi() override { seam::install(previous_); }
    void message(QWidget* owner, const QString& text, const QString& caption,
                 seam::Icon icon) override {
        const auto box = MakeMessageBox(owner, text, caption, icon);
        boxes.append({box->text(), box->textFormat()});
    }
    bool ask(QWidget*, const QString&, const QString&, seam::Icon) override { return false; }
    QString input(QWidget*, const QString&, const QString&, const QString& value) override {
        return value;
    }
    void pause(int) override {}

    QList<std::pair<QString, Qt::TextFormat>> boxes;

  private:
    seam::Ui* previous_ = nullptr;
};

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

    // The file compared with the module: its line above the tables, or the box
    // that refuses it.
    void hostileFileShownAsPlainText_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("value"); // the key's value in the file, as JSON
        QTest::addColumn<QString>("box");      // after "Файл «…»: "; empty: none
        QTest::addColumn<QString>("line");     // the file's line ends with it
        const QString mode = QStringLiteral(
            "недопустимое значение параметра «Режим измерения» (settings.mode): %1. Допустимо 1 "
            "(Ток) или 2 (Напряжение)"); // no full stop after a bracket
        QTest::newRow("markup in a setting")
            << "mode"
            << QByteArray("\"<h1><font color=green>Файл и модуль совпадают</font></h1>"
                          "<img src='/nonexistent.png' width=2000 height=2000>\"")
            << mode.arg(QStringLiteral("\"<h1><font color=green>Файл и модуль сов…"))
            << QStringLiteral("Файл: не выбран");
        QTest::newRow("markup in the program")
            << "program" << QByteArray("\"<b>BOLD</b><br><br><br>\"") << QString()
            << QStringLiteral("сохранён программой <b>BOLD</b><br><br><br>)");
        QTest::newRow("line breaks in the program")
            << "program" << QByteArray("\"QS730_View\\r\\n\\n\\n\\u2028 1.0\"") << QString()
            << QStringLiteral("сохранён программой QS730_View      1.0)");
        QTest::newRow("a value of 1 MiB")
            << "mode"
            << "\"" + QByteArray(1 << 20, '<') + "\""
            << QStringLiteral("файл слишком велик для конфигурации модуля (SIZE байт). Допустимо "
                              "не более 65536 байт.")
            << QStringLiteral("Файл: не выбран");
    }
    void hostileFileShownAsPlainText() {
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QFETCH(QString, box);
        QFETCH(QString, line);
        BoxUi boxes;
        start();
        QFile f(file_);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString saved = QString::fromUtf8(f.readAll());
        f.close();
        const QString edited = QString(saved).replace(
            QRegularExpression(QStringLiteral("(\"%1\": )[^\r\n]*,").arg(key)),
            QStringLiteral("\\1") + QString::fromUtf8(value) + u',');
        QVERIFY(edited != saved);
        const QByteArray text = edited.toUtf8();
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(text), text.size());
        f.close();
        boxes.boxes.clear();
        seam::Guard([&] { window_->btCompareClick(); });
        if (box.isEmpty()) {
            QCOMPARE(boxes.boxes.size(), 0);
        } else {
            QCOMPARE(boxes.boxes.size(), 1);
            const QString expected =
                QStringLiteral("Файл %1: ").arg(QuotedPath(file_)) +
                QString(box).replace(QStringLiteral("SIZE"), QString::number(text.size()));
            QVERIFY2(boxes.boxes[0].first == expected, qPrintable(boxes.boxes[0].first.left(400)));
            QCOMPARE(boxes.boxes[0].second, Qt::PlainText);
        }
        const auto* label = Control<QLabel>(*window_, "lbFile");
        QVERIFY2(label->text().endsWith(line), qPrintable(label->text()));
        QCOMPARE(label->textFormat(), Qt::PlainText);
        for (const char* name : {"lbModule", "lbNotes"})
            QCOMPARE(Control<QLabel>(*window_, name)->textFormat(), Qt::PlainText);
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
    void replacementFollowedToItsNewLink_data() { AddLinkChangeRows(); }
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
