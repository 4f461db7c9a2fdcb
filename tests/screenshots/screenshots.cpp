// Takes a picture of each window of the tool: the real windows, bound to the
// real communication library, talking to a simulated module reached as COM1.
//
//   qs730-screenshots <output folder>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <random>

#include "About.h"
#include "Boxes.h"
#include "BusScanWindow.h"
#include "Calib.h"
#include "CalibrationProtocol.h"
#include "Check.h"
#include "Compar.h"
#include "FakeDevices.h"
#include "Fleet.h"
#include "Func.h"
#include "HistoryRecords.h"
#include "HistorySettings.h"
#include "HistoryStore.h"
#include "LinkStats.h"
#include "LinkStatsWindow.h"
#include "Main.h"
#include "Mess.h"
#include "ModuleConfig.h"
#include "ModuleHistory.h"
#include "Modulparams.h"
#include "Monitor.h"
#include "Passw.h"
#include "PolledLine.h"
#include "PortMap.h"
#include "ProtocolForm.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimBus.h"
#include "SimModule.h"
#include "Trend.h"

namespace {

QDir out;

// The window as it stands, without handling the events that wait: a step
// of the check would go on meanwhile.
void SaveAsShown(QWidget* w, const char* name) {
    const QString path = out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!w->grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qUtf8Printable(path));
    else
        std::printf("%s\n", qUtf8Printable(path));
}

void Save(QWidget* w, const char* name) {
    QApplication::processEvents();
    SaveAsShown(w, name);
}

// Answers the service dialog's password question with "granted".
class Granted : public QDialog {
  public:
    int exec() override { return 1; }
};

// The library's port map beside it, for the length of the run: COM1 is the
// simulated module.
class PortMap {
  public:
    explicit PortMap(const std::string& device) : path_(PortMapPath()) {
        QFile f(path_);
        if (f.exists() && f.open(QIODevice::ReadOnly))
            saved_ = f.readAll();
        f.close();
        had_ = !saved_.isNull();
        QFile w(path_);
        if (w.open(QIODevice::WriteOnly))
            w.write("[Ports]\nCOM1=" + QByteArray::fromStdString(device) + "\n");
        // An empty entry: COM1 goes where the library's rule deals it out.
    }
    ~PortMap() {
        QFile f(path_);
        if (!had_) {
            f.remove();
        } else if (f.open(QIODevice::WriteOnly)) {
            f.write(saved_);
        }
    }

  private:
    QString path_;
    QByteArray saved_;
    bool had_ = false;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QS730_View"));
    out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    out.mkpath(QStringLiteral("."));

    RecorderUi boxes; // no box waits for a click here
    sim::SimModule module;
    module.setReg(reg::FlagsB, reg::FlagOutOfRange);
    PortMap map(module.devicePath());
    QFile::remove(SettingsFilePath()); // the tool's defaults: COM1, 19200, even
    if (!LoadCommLibrary())
        return 1;

    TForm1 form;
    form.show();
    form.btPollClick();
    form.btReadClick();
    Save(&form, "main");

    {
        // Ten seconds of polls of a slowly drifting, slightly noisy current;
        // a short stretch out of range and one checksum error get marks.
        std::mt19937 rng(730);
        std::normal_distribution<double> noise(0, 2.5);
        for (int i = 0; i < 250; ++i) {
            const double drift = 25 * std::sin(i / 40.0) + noise(rng);
            module.setInput(static_cast<uint16_t>(std::lround(12000 + drift)));
            module.setReg(reg::FlagsB, i >= 150 && i < 156 ? reg::FlagOutOfRange : 0);
            module.setReg(reg::FlagsA, i == 60 ? reg::FlagParamsChecksum : 0);
            form.btPollClick();
            QApplication::processEvents();
            QThread::msleep(40);
        }
        auto* trend = form.findChild<TTrend*>();
        trend->open();
        Save(trend, "trend");
        trend->hide();
    }
    {
        // The statistics of a line that loses and damages replies now and
        // then, with the time a real line at 19200 bit/s takes per exchange.
        module.delayAll(12);
        LinkStats::global().reset();
        for (int i = 0; i < 300; ++i) {
            if (i % 23 == 5)
                module.corruptCrcNext(1);
            if (i % 41 == 7)
                module.dropNext(1);
            form.btPollClick();
        }
        module.delayAll(0);
        uint16_t word = 0;
        seam::Guard([&] { ReadRegister(300, word); }); // outside the module's map
        form.miLinkStatsClick();
        Save(form.findChild<TLinkStats*>(), "link-stats");
        form.findChild<TLinkStats*>()->hide();
    }
    {
        // The monitor over a retry after a CRC error and a late reply that
        // the next exchange waits out, between plain polls.
        form.miMonitorClick();
        auto* monitor = form.findChild<TMonitor*>();
        monitor->btClearClick();
        form.btPollClick();
        module.corruptCrcNext(1);
        form.btPollClick();
        module.delayNext(500, 1);
        form.btPollClick();
        form.btReadClick();
        form.btPollClick();
        QThread::msleep(1100); // the monitor may look once a second
        QApplication::processEvents();
        monitor->resize(1100, 420);
        Save(monitor, "monitor");

        // Listening to a line where a controller polls two modules, one of
        // them now and then answering with a wrong CRC.
        sim::Options a;
        a.address = 3;
        sim::Options b;
        b.address = 7;
        sim::PolledLineOptions lineOptions;
        lineOptions.polls = {{3, 1024, 3, {}}, {7, 0, 1, {}}};
        lineOptions.periodMs = 50;
        lineOptions.faults = {{sim::Fault::BadCrc, 9, 3}};
        sim::PolledLine line({a, b}, lineOptions);
        monitor->findChild<QComboBox*>("cbListenPort")
            ->setCurrentText(QString::fromStdString(line.listenerPaths().at(0)));
        monitor->findChild<QComboBox*>("cbListenBaud")->setCurrentText("19200");
        monitor->findChild<QComboBox*>("cbListenParity")->setCurrentIndex(2);
        monitor->findChild<QCheckBox*>("chbListen")->click();
        line.start();
        for (int i = 0; i < 30; ++i) {
            QThread::msleep(100);
            QApplication::processEvents();
        }
        line.stop();
        QThread::msleep(200);
        QApplication::processEvents();
        monitor->resize(1100, 520);
        Save(monitor, "monitor-listen");
        monitor->findChild<QCheckBox*>("chbListen")->click();
        monitor->hide();
    }

    TPassword password(&form);
    password.show();
    Save(&password, "password");
    password.hide();

    Granted granted;
    {
        TModPars pars(&form, &granted);
        pars.show();
        pars.btReadClick();
        Save(&pars, "service");
    }
    {
        // The port as a technician's PC shows it: one USB adapter, dealt out
        // to COM1 (for this picture only; the run itself talks to the
        // simulated module).
        QTemporaryDir devices;
        MakeUsbAdapter(devices.path(), QStringLiteral("ttyUSB0"),
                       QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K4ZQX-if00-port0"), "FTDI",
                       "FT232R USB UART");
        SerialDeviceRoot = devices.path();
        const PortMap automatic("");
        TParCOM port(&form);
        port.show();
        Save(&port, "port");
        SerialDeviceRoot = QStringLiteral("/");
        if (auto* number = port.findChild<QLineEdit*>(QStringLiteral("edNumber")))
            number->setText(QStringLiteral("42"));
        TfMess search(&port);
        Save(&search, "search");
    }
    {
        // The port of a module behind a Modbus TCP gateway, as typed in.
        const QString saved = PortName;
        PortName = QStringLiteral("tcp:10.0.0.5");
        TParCOM port(&form);
        port.show();
        Save(&port, "port-gateway");
        PortName = saved;
    }
    {
        const auto gate = MakeInputBox(
            &form, QStringLiteral("Внимание!"),
            QStringLiteral("Параметры работы модуля будут изменены!\nТребуется пароль!"),
            QString());
        gate->show();
        Save(gate.get(), "calibration-password");
    }
    {
        TCalibr1 wizard(&form);
        wizard.show();
        Save(&wizard, "calibration-0");
        wizard.btNextClick();
        Save(&wizard, "calibration-1");
        wizard.reject();
    }
    {
        // The configuration saved, the module changed since (another mode and
        // integration time, a calibration gone wrong), and the comparison.
        QTemporaryDir folder;
        const QString saved = folder.filePath(QStringLiteral("Конфигурация_A0042.json"));
        config::Configuration c;
        config::ReadConfiguration(c);
        c.program = ProgramNameAndVersion();
        QFile f(saved);
        if (f.open(QIODevice::WriteOnly))
            f.write(config::ConfigurationJson(c));
        f.close();
        module.setReg(reg::Mode, reg::ModeVoltage);
        module.setReg(reg::IntegrationTime, 200);
        module.setReg(reg::GainCurrent, 0x1234);
        module.setReg(reg::CalibrationDate, reg::PackDate(2, 4, 26));
        AskOpenFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
            return saved;
        };
        TModConfig window(&form);
        window.show();
        window.btCompareClick();
        Save(&window, "config-compare");
    }
    {
        TAboutBox about(&form);
        about.show();
        Save(&about, "about");
    }
    {
        const auto box =
            MakeMessageBox(&form, QStringLiteral("Значение счетчика\nрестартов равно 1"), QString(),
                           seam::Icon::Information);
        box->show();
        Save(box.get(), "restart-counter");
    }
    {
        // A module that needs calibrating (0.6 % high and 15 uA over, 0.5 % low
        // and 12 mV under): the check as found with four points measured, then
        // the calibration and the check as left, and the protocol's first page.
        module.clearInput();
        module.setReg(reg::FlagsA, 0);
        module.setReg(reg::FlagsB, 0);
        module.setReadingErrors(0.006, 15, -0.005, -12);
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("QS730_View.ini"));
        const auto run = [&](TCheck& check, int presses) {
            for (int i = 0; i < presses && !check.finished(); ++i) {
                const QString tip = check.findChild<QLabel*>(QStringLiteral("lbTip"))->text();
                for (const CheckPoint& p : CheckSettings().points())
                    if (CheckPrompt(p) == tip) {
                        if (p.range == Range::Current)
                            module.setAppliedCurrent(static_cast<uint32_t>(p.nominal));
                        else
                            module.setAppliedVoltage(static_cast<uint32_t>(p.nominal));
                    }
                check.btNextClick();
                while (check.measuring()) // a point goes on between events
                    QApplication::processEvents(QEventLoop::AllEvents, 10);
            }
        };
        ProtocolData data;
        data.module = ReadModuleRecordId();
        TCheck found(&form, ProfileFile(ini));
        found.show();
        found.btNextClick();
        run(found, 4);
        // The fifth point just begun: its progress line counts the settling down.
        module.setAppliedVoltage(5500);
        found.btNextClick();
        QCoreApplication::sendPostedEvents(&found, QEvent::LayoutRequest);
        SaveAsShown(&found, "check");
        while (found.measuring())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        run(found, 10);
        data.asFound = found.checkResult();
        found.reject();

        TCalibr1 wizard(&form);
        wizard.show();
        const uint32_t signal[5] = {0, 2000, 20000, 1000, 10000};
        for (int s = 0; s < 5; ++s) {
            if (s == 1 || s == 2)
                module.setAppliedCurrent(signal[s]);
            else if (s == 3 || s == 4)
                module.setAppliedVoltage(signal[s]);
            wizard.btNextClick();
        }
        data.adjustment = wizard.calibrationResult();
        data.adjustment->module = data.module;
        TCheck left(&form, ProfileFile(ini));
        left.show();
        left.btNextClick();
        run(left, 10);
        data.asLeft = left.checkResult();
        left.accept();

        data.made = QDateTime::currentDateTime();
        {
            // As the form comes the first time: the reference's date not yet entered.
            ProtocolPeople first;
            first.technician = QStringLiteral("Иванов И. И.");
            TProtocolForm form1(&form, first, data.title());
            form1.show();
            Save(&form1, "protocol-form");
        }
        data.people = {QStringLiteral("Иванов И. И."),    QStringLiteral("ООО «Метрология-Сервис»"),
                       QStringLiteral("Калибратор КП-2"), QStringLiteral("7731"),
                       QDate::currentDate().addDays(200), QStringLiteral("22,5")};
        const QString pdf = folder.filePath(QStringLiteral("protocol.pdf"));
        QFile file(pdf);
        if (file.open(QIODevice::WriteOnly))
            file.write(ProtocolPdf(data));
        file.close();
        QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"),
                           QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                           QStringLiteral("1"), QStringLiteral("-singlefile"), pdf,
                           out.filePath(QStringLiteral("protocol"))});
    }
    {
        // A line of a cabinet: six modules, two of them at one address, one at
        // another speed, and a module of another type. COM1 leads there for
        // this picture.
        sim::SimLine line({LineModule(1, "A0042"), LineModule(2, "A0043"), LineModule(2, "A0051"),
                           LineModule(3, "B0107", 19200, 2, 12), LineModule(7, "A0044"),
                           LineModule(12, "A0045"), LineModule(4, "A0046", 9600, 0)});
        const PortMap lineMap(line.devicePath());
        OpenPort(PortName, BaudRate, ParityIndex);
        TBusScan window(&form);
        window.show();
        window.btStartClick();
        while (window.scan()->running())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        window.findChild<QTableWidget*>(QStringLiteral("tbModules"))->selectRow(0);
        Save(&window, "bus-scan");
        window.reject();
    }
    {
        // The history of a small fleet: six years of calibrations of one
        // module drifting away, and others due soon or overdue.
        QTemporaryDir folder;
        History::Target target;
        target.file = folder.filePath(QStringLiteral("history.sqlite"));
        History::Store store(target);
        QList<History::Entry> entries;
        const QDate today = QDate::currentDate();
        const auto calibration = [&](const QString& reg, const QDate& day, double drift) {
            ProtocolData d;
            d.made = QDateTime(day, QTime(10, 15));
            d.module.serial = reg::EncodeSerial(reg[0].unicode() - u'A', reg.mid(1).toInt());
            d.module.type = 17;
            d.people.technician = QStringLiteral("Иванов И. И.");
            d.people.reference = QStringLiteral("Калибратор КП-2");
            CheckResult found;
            found.module = d.module;
            found.tolerancePercent = 0.25;
            const int nominals[3] = {2000, 11000, 20000};
            for (int i = 0; i < 3; ++i) {
                const int n = nominals[i];
                const auto reading = static_cast<uint16_t>(n + drift * (i + 1) * 20000 / 300);
                found.points.push_back(EvaluatePoint({Range::Current, n}, {reading}, 0.25));
            }
            d.asFound = found;
            CalibrationResult c;
            c.complete = true;
            d.adjustment = c;
            entries << History::ProtocolEntry(d);
        };
        for (int year = 0; year < 6; ++year)
            calibration(QStringLiteral("A0042"), today.addYears(year - 6).addDays(20), 0.04 * year);
        calibration(QStringLiteral("A0043"), today.addMonths(-13), 0.1);
        calibration(QStringLiteral("A0044"), today.addMonths(-11).addDays(-10), 0.05);
        calibration(QStringLiteral("B0107"), today.addMonths(-3), 0.02);
        for (const QString& reg : {QStringLiteral("A0042"), QStringLiteral("A0043"),
                                   QStringLiteral("A0044"), QStringLiteral("B0107")}) {
            History::Entry seen = History::NewEntry(History::Kind::Seen, reg, 17);
            seen.summary = QStringLiteral("QS-730, ПО 1.07, COM1, 19200 бод, адрес 1");
            seen.made = QDateTime(today.addDays(-2), QTime(9, 0));
            entries << seen;
        }
        store.add(entries);
        TFleet fleet(&form, target);
        fleet.load();
        fleet.show();
        Save(&fleet, "fleet");
        TModuleHistory history(&form, QStringLiteral("A0042"),
                               store.moduleHistory(QStringLiteral("A0042")));
        history.show();
        // The last calibration opened.
        history.findChild<QListWidget*>(QStringLiteral("lsTimeline"))->setCurrentRow(5);
        Save(&history, "module-history");
        // Where the history is kept: a service organisation's server.
        History::Target server;
        server.backend = History::Target::Backend::Server;
        server.file = QStringLiteral("/home/ivanov/.local/share/QS730_View/history.sqlite");
        server.host = QStringLiteral("history.example.local");
        server.database = QStringLiteral("qs730_history");
        server.user = QStringLiteral("ivanov");
        THistorySettings settings(&form, server,
                                  ProfileFile(folder.filePath(QStringLiteral("settings.ini"))));
        settings.show();
        Save(&settings, "history-settings");
    }
    form.close();
    return 0;
}
