// "Слушать линию" in the exchange monitor, through the real library, on a
// simulated line where a controller stand-in polls two modules: the rows
// heard, paired and put into words for whatever address, the counts per
// address, the saves, the tool's own port given up and taken back, the
// adapter pulled, a port that does not open; and never a byte sent.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "Controls.h"
#include "Csv.h"
#include "Errors.h"
#include "Func.h"
#include "Listen.h"
#include "Monitor.h"
#include "PolledLine.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimLink.h"

namespace {

constexpr int Baud = 19200;

std::vector<sim::Options> Modules() {
    sim::Options a;
    a.address = 3;
    a.baud = Baud;
    sim::Options b = a;
    b.address = 7;
    return {a, b};
}

sim::PolledLineOptions Line(std::vector<sim::FaultRule> faults = {}) {
    sim::PolledLineOptions o;
    o.baud = Baud;
    o.parity = 2;
    o.polls = {{3, 1024, 3, {}}, {7, 0, 1, {}}};
    o.periodMs = 20;
    o.timeoutMs = 60;
    o.pauseMs = 5;
    o.listeners = 1;
    o.faults = std::move(faults);
    return o;
}

void StartListening(TMonitor& monitor, const QString& port) {
    Control<QComboBox>(monitor, "cbListenPort")->setCurrentText(port);
    Control<QComboBox>(monitor, "cbListenBaud")->setCurrentText(QString::number(Baud));
    Control<QComboBox>(monitor, "cbListenParity")->setCurrentIndex(2);
    Control<QCheckBox>(monitor, "chbListen")->click();
}

// One poll of the tool's own link: whether it was answered.
bool Polled() {
    uint16_t words[3] = {};
    try {
        ReadRegisters(1024, 3, words);
        return true;
    } catch (const ECommError&) {
        return false;
    }
}

QStringList Meanings(const ListenModel& m) {
    QStringList all;
    for (int i = 0; i < m.rowCount(); ++i)
        all << m.meaning(i).text;
    return all;
}

} // namespace

class TestMonitorListen : public QObject {
    Q_OBJECT

  private slots:
    void hearsTheControllerAndItsModules() {
        RecorderUi rec;
        SimLink link; // the tool's own link, on a module of its own
        QVERIFY(link.opened());
        QVERIFY(listening::Available());
        QTemporaryDir dir;
        sim::PolledLine line(Modules(), Line());
        TMonitor monitor(nullptr);
        monitor.open();
        StartListening(monitor, QString::fromStdString(line.listenerPaths().at(0)));
        QVERIFY2(monitor.listening(), qPrintable(Control<QLabel>(monitor, "lbListen")->text()));
        line.start();
        QTest::qWait(1200);
        line.stop();
        QTest::qWait(300);
        const sim::LineCounts counts = line.counts();
        QCOMPARE(counts.listenerBytes, 0L);

        ListenModel& m = monitor.heard();
        auto* view = Control<QTableView>(monitor, "tvFrames");
        QCOMPARE(view->model()->rowCount(), m.rowCount());
        QVERIFY(std::abs(m.rowCount() - (counts.requests + counts.replies)) <= 2);
        QCOMPARE(m.failedRows(), 0);
        const QStringList said = Meanings(m);
        QVERIFY(said.filter(QRegularExpression("^адрес 3: чтение 1024-1026 \\(флаги, значение, "
                                               "флаги\\)$"))
                    .size() >= counts.requests / 2 - 1);
        QVERIFY(!said.filter(QRegularExpression("^адрес 3: значение \\d+, флаги: нет$")).isEmpty());
        QVERIFY(!said.filter(QRegularExpression("^адрес 7: серийный номер ")).isEmpty());
        for (int i = 0; i < m.rowCount(); ++i) {
            const QString direction = m.index(i, ListenModel::Direction).data().toString();
            QCOMPARE(direction, QString(i % 2 == 0 ? "→" : "←")); // paired in turn
            const QString reply = m.index(i, ListenModel::ResponseTime).data().toString();
            QCOMPARE(reply.isEmpty(), i % 2 == 0);
        }
        const QString perAddress = Control<QLabel>(monitor, "lbAddresses")->text();
        QVERIFY2(
            perAddress.contains(QRegularExpression("^адрес 3: запросов \\d+, ответов \\d+, "
                                                   "исключений 0, без ответа 0, сбоев 0, "
                                                   "самый долгий ответ \\d+,\\d мс\\nадрес 7:")),
            qPrintable(perAddress));
        QCOMPARE(Control<QLabel>(monitor, "lbAddresses")->textFormat(), Qt::PlainText);

        // Saved as shown: CSV with the silence column, text with the counts.
        QStringList answers = {dir.filePath("heard.csv"), dir.filePath("heard.txt")};
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return answers.takeFirst();
        };
        Control<QPushButton>(monitor, "btSave")->click();
        Control<QPushButton>(monitor, "btSave")->click();
        QFile csvFile(dir.filePath("heard.csv"));
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csvFile.readAll().split('\n');
        QVERIFY(lines[0].startsWith(csv::Bom + "Дата и время;Пауза, мс;Направление;Ответ, мс;"));
        QCOMPARE(lines.size() - 2, m.rowCount());
        QVERIFY(lines[2].contains(";←;"));
        QFile text(dir.filePath("heard.txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        QVERIFY(text.readAll().contains(perAddress.section('\n', 0, 0).toUtf8()));

        // Off: the tool's own frames again, its link untouched.
        Control<QCheckBox>(monitor, "chbListen")->click();
        QVERIFY(!monitor.listening());
        QCOMPARE(view->model()->rowCount(), monitor.model().rowCount());
        QVERIFY(Polled());
        QCOMPARE(rec.messages.size(), 0);
    }

    void everyFaultStandsOut() {
        RecorderUi rec;
        SimLink link;
        sim::PolledLine line(
            Modules(),
            Line({{sim::Fault::BadCrc, 3, 3}, {sim::Fault::Cut, 5, 0}, {sim::Fault::Noise, 7, 0}}));
        TMonitor monitor(nullptr);
        monitor.open();
        StartListening(monitor, QString::fromStdString(line.listenerPaths().at(0)));
        line.start();
        QTest::qWait(1200);
        line.stop();
        QTest::qWait(300);
        const sim::LineCounts counts = line.counts();
        const QStringList said = Meanings(monitor.heard());
        QVERIFY(!said.filter("CRC неверна").isEmpty());
        QVERIFY(!said.filter("кадр оборван").isEmpty());
        long faults = 0;
        for (long f : counts.faults)
            faults += f;
        QVERIFY2(monitor.heard().failedRows() >= faults - 1,
                 qPrintable(QString("%1 of %2").arg(monitor.heard().failedRows()).arg(faults)));
        // Errors only: the failed rows alone.
        Control<QCheckBox>(monitor, "chbErrorsOnly")->click();
        QCOMPARE(Control<QTableView>(monitor, "tvFrames")->model()->rowCount(),
                 monitor.heard().failedRows());
        QCOMPARE(counts.listenerBytes, 0L);
    }

    void theAdapterPulledStopsAndSaysSo() {
        RecorderUi rec;
        SimLink link;
        auto line = std::make_unique<sim::PolledLine>(Modules(), Line());
        TMonitor monitor(nullptr);
        monitor.open();
        StartListening(monitor, QString::fromStdString(line->listenerPaths().at(0)));
        line->start();
        QTest::qWait(300);
        line.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.listening(), 3000);
        QCOMPARE(Control<QLabel>(monitor, "lbListen")->text(),
                 QString("Прослушивание остановлено: порт отказал (адаптер отключён?)."));
        const ListenModel& m = monitor.heard();
        QVERIFY(m.rowCount() > 0);
        QCOMPARE(m.meaning(m.rowCount() - 1).text,
                 QString("порт отказал, прослушивание остановлено"));
        QVERIFY(Control<QComboBox>(monitor, "cbListenPort")->isEnabled());
    }

    void thePortThatDoesNotOpen() {
        RecorderUi rec;
        SimLink link;
        TMonitor monitor(nullptr);
        StartListening(monitor, "/dev/qs730-no-such-port");
        QVERIFY(!monitor.listening());
        QVERIFY(!Control<QCheckBox>(monitor, "chbListen")->isChecked());
        QCOMPARE(Control<QLabel>(monitor, "lbListen")->text(),
                 "Порт /dev/qs730-no-such-port не открыт для прослушивания: " +
                     OpenFailureReason(ENOENT) + ".");
        Control<QComboBox>(monitor, "cbListenBaud")->setCurrentText("0");
        Control<QCheckBox>(monitor, "chbListen")->click();
        QVERIFY(!monitor.listening());
        QCOMPARE(Control<QLabel>(monitor, "lbListen")->text(),
                 QString("Недопустимая скорость: 0."));
    }

    void theToolsOwnPortIsGivenUpAndTakenBack() {
        RecorderUi rec;
        SimLink link;
        QVERIFY(link.opened());
        TMonitor monitor(nullptr);
        // The tool's own port, already first in the list.
        QCOMPARE(Control<QComboBox>(monitor, "cbListenPort")->itemText(0), PortName);
        StartListening(monitor, PortName);
        QVERIFY(monitor.listening());
        QVERIFY(PollHold::held());
        QVERIFY(!Polled()); // nothing goes out
        Control<QCheckBox>(monitor, "chbListen")->click();
        QVERIFY(!PollHold::held());
        QVERIFY(Polled());
    }
};

QTEST_MAIN(TestMonitorListen)
#include "test_monitor_listen_sim.moc"
